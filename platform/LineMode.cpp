#include "platform/LineMode.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <string>

namespace platform {

namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::optional<int> ParsePositive(std::string_view text) {
    int value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value <= 0) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<LineMode> ParseLineMode(std::string_view mode) {
    LineMode result;
    size_t pos = 0;
    while (pos < mode.size()) {
        if (mode[pos] == ' ' || mode[pos] == '\t') {
            ++pos;
            continue;
        }
        size_t end = mode.find_first_of(" \t", pos);
        if (end == std::string_view::npos) {
            end = mode.size();
        }
        const std::string_view term = mode.substr(pos, end - pos);
        pos = end;

        const size_t eq = term.find('=');
        if (eq == std::string_view::npos) {
            return std::nullopt;
        }
        const std::string key = Lower(term.substr(0, eq));
        const std::string value = Lower(term.substr(eq + 1));

        if (key == "baud") {
            if (result.baud) {
                return std::nullopt;
            }
            result.baud = ParsePositive(value);
            if (!result.baud) {
                return std::nullopt;
            }
        } else if (key == "parity") {
            if (result.parity || value.size() != 1) {
                return std::nullopt;
            }
            switch (value[0]) {
                case 'n':
                    result.parity = LineMode::Parity::None;
                    break;
                case 'o':
                    result.parity = LineMode::Parity::Odd;
                    break;
                case 'e':
                    result.parity = LineMode::Parity::Even;
                    break;
                case 'm':
                    result.parity = LineMode::Parity::Mark;
                    break;
                case 's':
                    result.parity = LineMode::Parity::Space;
                    break;
                default:
                    return std::nullopt;
            }
        } else if (key == "data") {
            if (result.dataBits) {
                return std::nullopt;
            }
            result.dataBits = ParsePositive(value);
            if (!result.dataBits || *result.dataBits < 5 || *result.dataBits > 8) {
                return std::nullopt;
            }
        } else if (key == "stop") {
            if (result.stopBits) {
                return std::nullopt;
            }
            if (value == "1") {
                result.stopBits = LineMode::StopBits::One;
            } else if (value == "1.5") {
                result.stopBits = LineMode::StopBits::OnePointFive;
            } else if (value == "2") {
                result.stopBits = LineMode::StopBits::Two;
            } else {
                return std::nullopt;
            }
        } else {
            return std::nullopt;
        }
    }
    return result;
}

}  // namespace platform
