// Arbitrary port traffic as the console's terminal log takes it: received bytes from the
// instrument's port, the controller's, or a port that is neither, and written records whose
// claimed length need not match their bytes. Whatever arrives, the gathered lines stay bounded
// and every logged line is printable text ending in a line break.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "console/TrafficEcho.h"
#include "fuzz/Segments.h"

namespace {

constexpr int kInstrumentPort = 3;
constexpr int kControllerPort = 4;
constexpr int kOtherPort = 5;

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void CheckLogged(const std::string& text) {
    Check(!text.empty() && text.back() == '\n');
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        Check(c == '\n' || (byte >= 0x20 && byte <= 0x7E));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CTrafficEcho echo;
    ForEachSegment(data, size, [&](uint8_t selector, const uint8_t* bytes, size_t length) {
        SerialEcho record;
        const int ports[] = {kInstrumentPort, kControllerPort, kOtherPort, 0};
        record.PortNumber = ports[selector & 0x03];
        record.Text.assign(reinterpret_cast<const char*>(bytes), length);
        // A record that claims more or fewer bytes than it holds, now and then.
        record.Length = static_cast<int32_t>(length);
        if (selector & 0x40) {
            record.Length += (selector & 0x80) ? 7 : -7;
        }
        if (selector & 0x04) {
            record.Received = 0;
            const std::string line = CTrafficEcho::SentLine(record);
            Check(line.rfind("COM", 0) == 0);
            CheckLogged(line);
            return;
        }
        record.Received = 1;
        const bool haveInstrument = (selector & 0x08) == 0;
        // Both ports the same: the instrument's buffer takes the bytes.
        const int controllerPort = (selector & 0x10) ? kInstrumentPort : kControllerPort;
        auto take = [&](const SerialEcho& one) {
            const auto line =
                echo.ReceivedByte(one, haveInstrument, kInstrumentPort, controllerPort);
            if (line) {
                Check(line->rfind("COM", 0) == 0);
                CheckLogged(*line);
            }
            Check(echo.InstrumentLine().size() < CTrafficEcho::kLineLimit);
            Check(echo.ControllerLine().size() < CTrafficEcho::kLineLimit);
        };
        if (selector & 0x20) {
            take(record);  // several bytes in one record
        } else {
            // One byte a record, as the port hands them over; repeated so that the line bound
            // is reached within the fuzzer's input length.
            const int rounds = (selector & 0x80) ? 4 : 1;
            for (int round = 0; round < rounds; ++round) {
                for (size_t i = 0; i < length; ++i) {
                    SerialEcho one;
                    one.PortNumber = record.PortNumber;
                    one.Text.assign(1, static_cast<char>(bytes[i]));
                    one.Length = 1;
                    one.Received = 1;
                    take(one);
                }
            }
        }
    });
    return 0;
}
