// Arbitrary bytes from a SmartMotor under every command the driver can have in flight, with the
// echo expected or already seen. The selector of each segment chooses the command, whether the
// echo and a reply are pending, and whether the reply state starts fresh.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "devices/SmartMotor.h"
#include "fuzz/Segments.h"

namespace {

const char* const kCommands[] = {"ECHO",     "RP",     "RPA",    "Z",      "GOSUB0",
                                 "GOSUB1",   "GOSUB4", "GOSUB5", "GOSUB6", "GOSUB9",
                                 "GOSUB100", "g=3",    "d=-1",   ""};
constexpr size_t kCommandCount = sizeof kCommands / sizeof kCommands[0];

class FuzzedMotor : public CSmartMotor {
public:
    void Run(const uint8_t* data, size_t size) {
        ForEachSegment(data, size, [this](uint8_t selector, const uint8_t* bytes, size_t length) {
            CommandInFlight = kCommands[(selector & 0x0F) % kCommandCount];
            ReceiveLine.clear();
            ReplyReadyEvent.Reset();
            FaultEvent.Reset();
            if (selector & 0x10) {
                EchoPendingEvent.Set();
            } else {
                EchoPendingEvent.Reset();
            }
            if (selector & 0x20) {
                ReplyPendingEvent.Reset();
            } else {
                ReplyPendingEvent.Set();
            }
            if (selector & 0x40) {
                ReplyValue = 0;
                ReplyValid = 0;
                InfoHeaderSeen = 0;
            }
            for (size_t i = 0; i < length; ++i) {
                ReceiveChar(bytes[i]);
                if (ReceiveLine.size() > kMaxReplyLine || FaultText.size() > kMaxFaultText) {
                    std::abort();  // a motor must not be able to grow the driver's memory
                }
            }
        });
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static auto* motor = new FuzzedMotor;
    motor->Run(data, size);
    return 0;
}
