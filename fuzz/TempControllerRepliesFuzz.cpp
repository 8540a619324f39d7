// Arbitrary bytes from a temperature controller, under every command the driver can have in
// flight. The selector of each segment chooses the command, whether a reply is pending and, for
// the Omega, whether a register read is.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "devices/Athena16TempController.h"
#include "devices/OmegaTempController.h"
#include "fuzz/Segments.h"

namespace {

#if PRAVIK_FUZZ_MODEL == 1
using Driver = COmegaTempController;
const char* const kCommands[] = {"*X01", "*R01", "*R02",   "*R08",        "*R1F",
                                 "*R05", "*Z02", "*W1F30", "*W01 2000FA", ""};
#else
using Driver = CAthena16TempController;
const char* const kCommands[] = {"#01R00", "#01R01", "#01M01 25.0C", "#01M01", "#01?9",
                                 "ERROR",  ""};
#endif
constexpr size_t kCommandCount = sizeof kCommands / sizeof kCommands[0];

class FuzzedDriver : public Driver {
public:
    void Run(const uint8_t* data, size_t size) {
        ForEachSegment(data, size, [this](uint8_t selector, const uint8_t* bytes, size_t length) {
            this->CommandInFlight = kCommands[(selector & 0x1F) % kCommandCount];
            this->ReplyValue = 0;
            this->ReplyReadyEvent.Reset();
            if (selector & 0x20) {
                this->ReplyPendingEvent.Reset();
            } else {
                this->ReplyPendingEvent.Set();
            }
#if PRAVIK_FUZZ_MODEL == 1
            this->RegisterReadPending = (selector & 0x40) ? 1 : 0;
#endif
            // Bit 7 keeps what is left in the line from the last segment, as the Athena's lone
            // CR does across replies.
            if (!(selector & 0x80)) {
                this->ReceiveLine.clear();
            }
            for (size_t i = 0; i < length; ++i) {
                this->ReceiveChar(bytes[i]);
                if (this->ReceiveLine.size() > CCommandChannel::kMaxReplyLine + 8 ||
                    this->IdentityText.size() > CCommandChannel::kMaxReplyLine) {
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
