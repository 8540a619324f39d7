#include "tools/omega/RegisterHex.h"

#include <algorithm>
#include <cstdio>

namespace omega {

std::string Hex(uint32_t value, uint32_t width) {
    // Register widths are at most 6; the clamp only keeps a nonsense width from asking for
    // megabytes of zeros.
    const int digits = static_cast<int>(std::min<uint32_t>(width, 16));
    char text[32];
    std::snprintf(text, sizeof text, "%0*X", digits, static_cast<unsigned>(value));
    return text;
}

std::wstring WideHex(uint32_t value, uint32_t width) {
    const std::string narrow = Hex(value, width);
    return std::wstring(narrow.begin(), narrow.end());
}

}  // namespace omega
