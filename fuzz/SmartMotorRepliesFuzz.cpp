// Arbitrary bytes from a SmartMotor under every command the driver can have in flight, with the
// echo expected or already seen. Segments: a selector byte (command, echo pending, reply
// pending), a length byte, then that many bytes fed to ReceiveChar.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "devices/SmartMotor.h"

namespace {

const char* const kCommands[] = {"ECHO",     "RP",     "RPA",    "Z",      "GOSUB0",
                                 "GOSUB1",   "GOSUB4", "GOSUB5", "GOSUB6", "GOSUB9",
                                 "GOSUB100", "g=3",    "d=-1",   ""};
constexpr size_t kCommandCount = sizeof kCommands / sizeof kCommands[0];

class FuzzedMotor : public CSmartMotor {
public:
    void Run(const uint8_t* data, size_t size) {
        size_t pos = 0;
        while (pos < size) {
            const uint8_t selector = data[pos++];
            const size_t length = pos < size ? data[pos++] : 0;
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
            for (size_t i = 0; i < length && pos < size; ++i) {
                ReceiveChar(data[pos++]);
                if (ReceiveLine.size() > kMaxReplyLine || FaultText.size() > kMaxFaultText) {
                    std::abort();  // a motor must not be able to grow the driver's memory
                }
            }
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static FuzzedMotor* motor = new FuzzedMotor;
    motor->Run(data, size);
    return 0;
}
