// Arbitrary bytes from a SmartMotor as the firmware host reads them: an upload, the echo of a
// command, reply lines and checksum reports, and the text a technician is shown of them. The
// selector of each segment chooses the reader and whether it starts afresh.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "devices/MotorTransfer.h"
#include "fuzz/Segments.h"

namespace {

namespace mt = motor_transfer;

// A small limit as well as the real one, so that running past it is reached often.
constexpr size_t kSmallLimit = 64;

struct Readers {
    mt::CUploadFramer upload{kSmallLimit};
    mt::CUploadFramer fullUpload{mt::kProgramMemory};
    mt::CEchoWatch echo{
        std::string("\x81"
                    "ECHO_OFF ")};
    mt::CReplyLines lines;
    mt::CHeardBytes heard;
};

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void Feed(Readers& r, uint8_t selector, const uint8_t* bytes, size_t length) {
    const std::string_view text(reinterpret_cast<const char*>(bytes), length);
    switch (selector & 0x03) {
        case 0:
            for (size_t i = 0; i < length; ++i) {
                const auto step = r.upload.Feed(bytes[i]);
                r.fullUpload.Feed(bytes[i]);
                Check(r.upload.Program().size() <= kSmallLimit);
                Check(step != mt::CUploadFramer::Step::BlockEnd ||
                      r.upload.Program().size() % mt::kUploadBlock == 0);
            }
            Check(r.fullUpload.Program().size() <= mt::kProgramMemory);
            break;
        case 1:
            for (size_t i = 0; i < length; ++i) {
                r.echo.Feed(bytes[i]);
            }
            break;
        case 2:
            for (size_t i = 0; i < length; ++i) {
                if (const auto line = r.lines.Feed(bytes[i])) {
                    Check(line->size() <= mt::CReplyLines::kMaxLine);
                    if (const auto report = mt::ParseChecksumReport(*line)) {
                        Check(!report->Text.empty() && report->Text.size() <= line->size());
                        Check(report->Text.back() == (report->Passed ? 'P' : 'F'));
                    }
                }
            }
            break;
        default:
            mt::ParseChecksumReport(text);
            for (size_t i = 0; i < length; ++i) {
                r.heard.Add(bytes[i]);
            }
            Check(r.heard.Bytes().size() <= mt::CHeardBytes::kLimit + 1);
            // Every byte shows as itself or as <hex>, plus the quotes and the cut mark.
            Check(mt::DescribeBytes(r.heard.Bytes()).size() <= 2 + 4 * 40 + 3);
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static auto* readers = new Readers;
    ForEachSegment(data, size, [](uint8_t selector, const uint8_t* bytes, size_t length) {
        if (selector & 0x80) {
            *readers = Readers{};  // a fresh exchange
        }
        Feed(*readers, selector, bytes, length);
    });
    return 0;
}
