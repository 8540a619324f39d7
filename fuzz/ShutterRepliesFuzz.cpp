// Arbitrary bytes from a shutter controller, under every command the driver can have in flight.
// The input is a series of segments: a byte choosing the command (and whether a reply is
// pending), a length byte, then that many bytes fed to ReceiveChar one at a time.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "devices/ShutterBoxDevice.h"
#include "devices/ShutterBoxDeviceLegacy.h"
#include "devices/ShutterController3.h"

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
        size_t pos = 0;
        while (pos < size) {
            const uint8_t selector = data[pos++];
            const size_t length = pos < size ? data[pos++] : 0;
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
            for (size_t i = 0; i < length && pos < size; ++i) {
                this->ReceiveChar(data[pos++]);
                if (this->ReceiveLine.size() > CCommandChannel::kMaxReplyLine + 8 ||
                    this->StatusTable.size() > CShutterBoxDevice::kMaxStatusEntries) {
                    std::abort();  // a device must not be able to grow the driver's memory
                }
            }
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static FuzzedDriver* driver = new FuzzedDriver;  // one driver across inputs, as in a session
    driver->Run(data, size);
    return 0;
}
