// Arbitrary bytes from a shutter controller, under every command the driver can have in flight.
// The selector of each segment chooses the command, whether a reply is pending and the byte
// count the caller left behind.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "devices/ShutterBoxDevice.h"
#include "devices/ShutterBoxDeviceLegacy.h"
#include "devices/ShutterController3.h"
#include "fuzz/Segments.h"

#if PRAVIK_FUZZ_GENERATION == 1
using Driver = CShutterBoxDeviceLegacy;
#elif PRAVIK_FUZZ_GENERATION == 2
using Driver = CShutterBoxDevice;
#else
using Driver = CShutterController3;
#endif

namespace {

const char* const kCommands[] = {"#0R",   "!0IR",   "!0D",         "!0V",  "!0TH?", "!0TM?",
                                 "!0TH+", "!0TH6-", "#0S\x01\xFE", "!0WP", ""};
constexpr size_t kCommandCount = sizeof kCommands / sizeof kCommands[0];

class FuzzedDriver : public Driver {
public:
    void Run(const uint8_t* data, size_t size) {
        ForEachSegment(data, size, [this](uint8_t selector, const uint8_t* bytes, size_t length) {
            this->CommandInFlight = kCommands[selector % kCommandCount];
            this->ReceiveLine.clear();
            this->ReplyValue = static_cast<int32_t>(selector >> 6) - 1;  // -1..2: stale counts too
            this->ReplyValid = 0;
            this->ReplyReadyEvent.Reset();
            if (selector & 0x20) {
                this->ReplyPendingEvent.Reset();
            } else {
                this->ReplyPendingEvent.Set();
            }
            for (size_t i = 0; i < length; ++i) {
                this->ReceiveChar(bytes[i]);
                if (this->ReceiveLine.size() > CCommandChannel::kMaxReplyLine + 8 ||
                    this->StatusTable.size() > CShutterBoxDevice::kMaxStatusEntries) {
                    std::abort();  // a device must not be able to grow the driver's memory
                }
            }
        });
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static auto* driver = new FuzzedDriver;  // one driver across inputs, as in a session
    driver->Run(data, size);
    return 0;
}
