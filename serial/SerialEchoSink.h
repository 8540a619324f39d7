#pragma once

#include <memory>

#include "serial/SerialEcho.h"

// The owner a port reports its traffic to. The port calls it from its monitoring thread, so an
// implementation must only queue the record for its own thread (the console posts it as an event)
// and return at once; it must never call back into the port. A record counts against its port's
// echo backlog until the owner destroys it, so an owner destroys each record once it has taken it
// (logged it, counted it) and keeps none for longer than it takes to catch up.
class ISerialEchoSink {
public:
    virtual ~ISerialEchoSink() = default;
    virtual void PostSerialEcho(std::unique_ptr<SerialEcho> echo) = 0;
    // The device hung up (its adapter was unplugged, a simulated device stopped): said once, at
    // once, so that the owner can tell the person before a command runs into it.
    virtual void PostPortGone(int /*portNumber*/) {}
};
