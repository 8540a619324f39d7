#include "serial/WireText.h"

#include "serial/ReplyScan.h"

#include <array>
#include <charconv>
#include <limits>

namespace wire {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

}  // namespace

int32_t ParseDecimal(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    constexpr int64_t kLimit = static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1;
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > kLimit) {
            value = kLimit;
        }
    }
    if (negative) {
        return static_cast<int32_t>(-value);
    }
    return value >= kLimit ? std::numeric_limits<int32_t>::max() : static_cast<int32_t>(value);
}

int32_t Decrement(int32_t value) {
    return value == std::numeric_limits<int32_t>::min() ? value : value - 1;
}

std::string_view Trim(std::string_view text) {
    size_t first = 0;
    while (first < text.size() && IsBlank(text[first])) {
        ++first;
    }
    size_t last = text.size();
    while (last > first && IsBlank(text[last - 1])) {
        --last;
    }
    return text.substr(first, last - first);
}

std::wstring Widen(std::string_view text) {
    std::wstring out;
    out.reserve(text.size());
    for (char c : text) {
        out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    }
    return out;
}

}  // namespace wire

namespace wire {

bool ScanPrefixedInt(std::string_view text, std::string_view prefix, int32_t& value) {
    if (!StartsWith(text, prefix)) {
        return false;
    }
    const std::optional<int32_t> number = ScanInt(text.substr(prefix.size()));
    if (!number) {
        return false;
    }
    value = *number;
    return true;
}

std::string FormatReal(double value) {
    std::array<char, 64> text{};
    const std::to_chars_result result =
        std::to_chars(text.data(), text.data() + text.size(), value);
    return std::string(text.data(), result.ptr);
}

}  // namespace wire
