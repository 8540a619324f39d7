#include "cli/Terminal.h"

#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <iostream>

#include "serial/TrafficEcho.h"

namespace cli {

int ExitStatusFor(platform::FailureKind kind) {
    using platform::FailureKind;
    switch (kind) {
        case FailureKind::None:
            return kExitPassed;
        case FailureKind::NoSuchPort:
        case FailureKind::Busy:
        case FailureKind::NoPermission:
        case FailureKind::NotASerialPort:
        case FailureKind::OpenFailed:
            return kExitNoDevice;
        default:
            return kExitFailed;
    }
}

namespace {

bool IsTerminal(std::FILE* stream) {
    const char* term = std::getenv("TERM");
    return stream != nullptr && isatty(fileno(stream)) == 1 &&
           (term == nullptr || std::strcmp(term, "dumb") != 0);
}

// The console log's colours, as near as the terminal's palette comes.
const char* EscapeFor(int logCode) {
    switch (logCode) {
        case kLogSent:
            return "\x1b[34m";
        case kLogReceived:
            return "\x1b[38;5;208m";
        case kLogError:
            return "\x1b[31m";
        case kLogSuccess:
            return "\x1b[32m";
        default:
            return "";
    }
}

}  // namespace

CTerminal::CTerminal(std::FILE* out, std::FILE* err)
    : out_(out), err_(err), interactive_(IsTerminal(out)) {}

void CTerminal::Line(std::string_view text) {
    EndProgress();
    std::fwrite(text.data(), 1, text.size(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
}

void CTerminal::Error(std::string_view text) {
    EndProgress();
    std::fprintf(err_, "pravikctl: %.*s\n", static_cast<int>(text.size()), text.data());
    std::fflush(err_);
}

void CTerminal::Coloured(std::string_view text, int logCode) {
    EndProgress();
    // NO_COLOR: the convention for turning colours off wherever they would be on.
    const char* escape =
        interactive_ && std::getenv("NO_COLOR") == nullptr ? EscapeFor(logCode) : "";
    if (*escape != '\0') {
        std::fputs(escape, out_);
    }
    std::fwrite(text.data(), 1, text.size(), out_);
    if (*escape != '\0') {
        std::fputs("\x1b[0m", out_);
    }
    std::fflush(out_);
}

void CTerminal::Progress(double percent, std::string_view text) {
    const double clamped = std::clamp(percent, 0.0, 100.0);
    if (!interactive_) {
        if (text != lastText_) {
            lastText_ = std::string(text);
            std::fprintf(out_, "%3d%%  %.*s\n", static_cast<int>(clamped),
                         static_cast<int>(text.size()), text.data());
            std::fflush(out_);
        }
        return;
    }
    constexpr int kWidth = 30;
    const int filled = static_cast<int>(clamped * kWidth / 100.0);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kWidth - filled), ' ');
    // Only the first line of the text: a bar lives on one line.
    const std::string_view first = text.substr(0, text.find('\n'));
    std::fprintf(out_, "\r[%s] %3d%%  %.*s\x1b[K", bar.c_str(), static_cast<int>(clamped),
                 static_cast<int>(first.size()), first.data());
    std::fflush(out_);
    barShown_ = true;
}

void CTerminal::EndProgress() {
    if (barShown_) {
        std::fputc('\n', out_);
        barShown_ = false;
    }
    lastText_.clear();
}

bool CTerminal::Confirm(std::string_view question) {
    EndProgress();
    if (isatty(STDIN_FILENO) != 1) {
        return false;
    }
    std::fprintf(out_, "%.*s [y/N] ", static_cast<int>(question.size()), question.data());
    std::fflush(out_);
    std::string answer;
    if (!std::getline(std::cin, answer)) {
        return false;
    }
    return answer == "y" || answer == "Y" || answer == "yes";
}

std::string Narrow(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (const wchar_t c : text) {
        // wchar_t holds a code point in 32 bits here.
        const auto code = std::bit_cast<uint32_t>(c);
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code <= 0x10FFFF) {
            out += static_cast<char>(0xF0 | ((code >> 18) & 0x07));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += '?';
        }
    }
    return out;
}

std::wstring Widen(std::string_view text) {
    std::wstring out;
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        uint32_t code = length == 1 ? lead : lead & (0x3F >> (length - 1));
        bool valid = lead < 0x80 || (lead >= 0xC2 && lead <= 0xF4 && i + length <= text.size());
        for (size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3F);
        }
        // A byte that starts no character stands for itself, as the Latin-1 reading of it.
        out += static_cast<wchar_t>(valid ? code : lead);
        i += valid ? length : 1;
    }
    return out;
}

}  // namespace cli
