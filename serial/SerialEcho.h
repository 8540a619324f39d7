#pragma once

#include <cstdint>
#include <string>

// One echo of port traffic: every completed write, and every received byte on its own. The port
// allocates it and hands it to its owner, which then owns it.
struct SerialEcho {
    int32_t PortNumber = 0;  // sent: the port's PortNumber; received: the port number in Settings
    std::string Text;        // the bytes; may hold NUL bytes
    int32_t Length = 0;      // number of bytes in Text
    int32_t Received = 0;    // 0 = sent, 1 = received
};
