#pragma once

#include <optional>
#include <string_view>

namespace platform {

// The line settings a mode string asks for. A key the string leaves out keeps the port's
// current setting.
struct LineMode {
    enum class Parity { None, Odd, Even, Mark, Space };
    enum class StopBits { One, OnePointFive, Two };

    std::optional<int> baud;
    std::optional<Parity> parity;
    std::optional<int> dataBits;
    std::optional<StopBits> stopBits;

    bool operator==(const LineMode&) const = default;
};

// Parses "baud=9600 parity=n data=8 stop=1": keys in any order and case, separated by blanks.
// Nothing when a key is unknown or repeated, or a value is out of range (data bits 5-8, a baud
// rate above 0, parity n/o/e/m/s, stop 1, 1.5 or 2).
std::optional<LineMode> ParseLineMode(std::string_view mode);

}  // namespace platform
