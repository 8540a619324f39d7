#include "serial/ReplyScan.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace wire {

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDecimalDigit(char c) {
    return c >= '0' && c <= '9';
}

// Skips white space and one sign; true when the sign was a minus.
bool SkipBlanksAndSign(std::string_view text, size_t& i) {
    while (i < text.size() && IsSpace(text[i])) {
        ++i;
    }
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        return text[i++] == '-';
    }
    return false;
}

bool HasHexPrefix(std::string_view text, size_t i) {
    return i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X');
}

// For a number that does not fit a double: true when it is too large, false when too small.
// Only the order of magnitude matters, and out of range means an exponent in the hundreds, so
// the leading digit's position plus the exponent decides it.
bool IsOverflow(std::string_view number, bool hex) {
    const char exponentMark = hex ? 'p' : 'e';
    const auto isDigit = [hex](char c) { return hex ? HexValue(c) >= 0 : IsDecimalDigit(c); };
    int64_t order = 0;
    bool seenPoint = false;
    bool seenNonZero = false;
    size_t i = 0;
    for (; i < number.size(); ++i) {
        const char c = number[i];
        if (c == '.') {
            seenPoint = true;
        } else if (isDigit(c)) {
            if (!seenNonZero && c != '0') {
                seenNonZero = true;
                order = seenPoint ? order - 1 : 0;
            } else if (!seenNonZero && seenPoint) {
                --order;  // a zero between the point and the first significant digit
            } else if (seenNonZero && !seenPoint) {
                ++order;
            }
        } else {
            break;
        }
    }
    // A hexadecimal digit is four binary places; the exponent after 'p' counts binary ones.
    if (hex) {
        order *= 4;
    }
    if (i < number.size() && (number[i] == exponentMark || number[i] == exponentMark - 32)) {
        size_t j = i + 1;
        bool negative = false;
        if (j < number.size() && (number[j] == '+' || number[j] == '-')) {
            negative = number[j++] == '-';
        }
        int64_t exponent = 0;
        for (; j < number.size() && IsDecimalDigit(number[j]); ++j) {
            exponent = std::min<int64_t>(exponent * 10 + (number[j] - '0'), int64_t{1} << 40);
        }
        order += negative ? -exponent : exponent;
    }
    return order >= 0;
}

}  // namespace

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::optional<uint32_t> ScanHex(std::string_view text) {
    size_t i = 0;
    const bool negative = SkipBlanksAndSign(text, i);
    if (HasHexPrefix(text, i) && i + 2 < text.size() && HexValue(text[i + 2]) >= 0) {
        i += 2;
    }
    uint64_t value = 0;
    bool any = false;
    for (; i < text.size() && HexValue(text[i]) >= 0; ++i) {
        any = true;
        value = std::min<uint64_t>(value * 16 + static_cast<uint64_t>(HexValue(text[i])),
                                   uint64_t{1} << 32);
    }
    if (!any) {
        return std::nullopt;
    }
    uint32_t result = value > std::numeric_limits<uint32_t>::max()
                          ? std::numeric_limits<uint32_t>::max()
                          : static_cast<uint32_t>(value);
    if (negative) {
        result = 0u - result;
    }
    return result;
}

std::optional<int32_t> ScanInt(std::string_view text) {
    size_t i = 0;
    const bool negative = SkipBlanksAndSign(text, i);
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    int64_t value = 0;
    bool any = false;
    for (; i < text.size() && IsDecimalDigit(text[i]); ++i) {
        any = true;
        value = std::min<int64_t>(value * 10 + (text[i] - '0'), kLimit);
    }
    if (!any) {
        return std::nullopt;
    }
    if (negative) {
        return static_cast<int32_t>(-value);
    }
    return static_cast<int32_t>(std::min<int64_t>(value, kLimit - 1));
}

std::optional<double> ScanReal(std::string_view text) {
    size_t i = 0;
    const bool negative = SkipBlanksAndSign(text, i);
    // from_chars takes no sign of its own beyond a minus, and strtod takes no second sign.
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        return std::nullopt;
    }
    const char* const end = text.data() + text.size();
    double value = 0.0;
    bool hex = false;
    std::from_chars_result result{};
    if (HasHexPrefix(text, i)) {
        const char* first = text.data() + i + 2;
        if (first != end && (HexValue(*first) >= 0 || *first == '.')) {
            result = std::from_chars(first, end, value, std::chars_format::hex);
            hex = result.ec != std::errc::invalid_argument;
        }
        if (!hex) {
            return negative ? -0.0 : 0.0;  // "0x" with nothing after it: the "0" was the number
        }
    } else {
        result = std::from_chars(text.data() + i, end, value, std::chars_format::general);
        if (result.ec == std::errc::invalid_argument) {
            return std::nullopt;
        }
    }
    if (result.ec == std::errc::result_out_of_range) {
        const char* first = text.data() + i + (hex ? 2 : 0);
        const std::string_view number(first, static_cast<size_t>(result.ptr - first));
        value = IsOverflow(number, hex) ? std::numeric_limits<double>::infinity() : 0.0;
    }
    return negative ? -value : value;
}

}  // namespace wire
