#pragma once

#include "platform/Event.h"

namespace platform {

// Signals are coalesced; one waiter consumes the signal and the event drops back.
class AutoResetEvent final : public Event {
public:
    AutoResetEvent() : Event(true) {}
};

}  // namespace platform
