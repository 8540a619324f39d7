// Arbitrary port traffic as the console's terminal log takes it: received reads from the
// instrument's port, the controller's, or a port that is neither, some after a gap the port
// left, and written records whose claimed length need not match their bytes, each of which
// flushes what waits on its port. Each received line is paired with the last write on its port
// and read by the drivers' decoders. Whatever arrives, the gathered lines stay bounded, every
// logged line is printable text ending in a line break, and only a gap is logged in the error
// colour.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "devices/ReplyMeaning.h"
#include "fuzz/Segments.h"
#include "serial/TrafficEcho.h"

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
    echo.SetPairing(true);
    echo.SetMeaning(DescribeReply);
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
            for (const TrafficText& piece : echo.Sent(record)) {
                Check(piece.Text.rfind("COM", 0) == 0);
                CheckLogged(piece.Text);
            }
            Check(!echo.Flush(record.PortNumber));
            return;
        }
        record.Received = 1;
        // A gap before the read now and then, of up to some 34,000 million bytes.
        if ((selector & 0x20) && length > 0) {
            record.Dropped = static_cast<int64_t>(bytes[0]) << (selector & 0x1F);
        }
        const bool haveInstrument = (selector & 0x08) == 0;
        // Both ports the same: the instrument's buffer takes the bytes.
        const int controllerPort = (selector & 0x10) ? kInstrumentPort : kControllerPort;
        // The same read, again and again, so that the line bound is reached within the fuzzer's
        // input length.
        const int rounds = (selector & 0x80) ? 16 : 1;
        for (int round = 0; round < rounds; ++round) {
            for (const TrafficText& piece :
                 echo.Received(record, haveInstrument, kInstrumentPort, controllerPort)) {
                Check(piece.Text.rfind("COM", 0) == 0);
                CheckLogged(piece.Text);
                Check(piece.Code == kLogReceived ||
                      (piece.Code == kLogError && record.Dropped > 0 &&
                       piece.Text.find("received byte") != std::string::npos));
            }
            Check(echo.InstrumentLine().size() < CTrafficEcho::kLineLimit);
            Check(echo.ControllerLine().size() < CTrafficEcho::kLineLimit);
        }
    });
    return 0;
}
