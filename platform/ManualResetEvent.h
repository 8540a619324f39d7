#pragma once

#include "platform/Event.h"

namespace platform {

// Stays signalled until Reset(); every waiter sees it.
class ManualResetEvent final : public Event {
public:
    ManualResetEvent() : Event(false) {}
};

}  // namespace platform
