// A trace file that pravik-sim is asked to replay may be damaged, cut short or something else
// altogether. Whatever it holds, reading it ends in traffic or a line-numbered reason, and the
// answers found in what it read hold only what the trace recorded on that port. The input's
// bytes also go through the byte encoding, which must give every one of them back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "serial/TraceFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    if (trace::TextToBytes(trace::BytesToText(input)) != input) {
        std::abort();
    }
    std::string error;
    const auto traffic = trace::ReadTrace(input, error);
    if (!traffic) {
        if (error.empty()) {
            std::abort();
        }
        return 0;
    }
    size_t bytes = 0;
    for (const trace::Traffic& record : *traffic) {
        bytes += record.Port == 3 ? record.Bytes.size() : 0;
    }
    size_t answered = 0;
    for (const auto& [command, answers] : trace::RepliesOnPort(*traffic, 3)) {
        answered += command.size() * answers.size();
        for (const auto& answer : answers) {
            for (const trace::ReplyPiece& piece : answer) {
                answered += piece.Bytes.size();
                if (piece.DelayMs < 0) {
                    std::abort();
                }
            }
        }
    }
    if (answered > bytes) {
        std::abort();
    }
    return 0;
}
