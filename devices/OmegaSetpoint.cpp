#include "devices/OmegaSetpoint.h"

#include <cmath>
#include <cstdio>

namespace omega {

namespace {

// 10^(d-1) for d = 1..7, exactly; d = 0 scales the other way (tens) and is handled apart so
// that no inexact 0.1 enters the arithmetic.
constexpr double kScale[8] = {0.0, 1.0, 10.0, 100.0, 1000.0, 10000.0, 100000.0, 1000000.0};

}  // namespace

double DecodeSetpoint(uint32_t raw) {
    const uint32_t d = (raw >> kDecimalPointShift) & 7;
    const auto magnitude = static_cast<double>(raw & kSetpointMagnitudeMask);
    const double value = d == 0 ? magnitude * 10.0 : magnitude / kScale[d];
    return (raw & kSetpointSignBit) != 0 ? -value : value;
}

std::optional<uint32_t> EncodeSetpoint(double value, uint32_t decimalPointCode) {
    const uint32_t d = decimalPointCode & 7;
    const auto limit = static_cast<double>((uint32_t{1} << (19 - d)) - 1);
    const double size = std::fabs(value);
    if (std::isnan(value) || size > limit) {
        return std::nullopt;
    }
    // Within the limit the scaled value stays below 2^32 for every d, so the conversion is
    // defined.
    const double scaled = d == 0 ? size / 10.0 : size * kScale[d];
    // Half a unit up, then truncated (scaled is never negative): a value halfway between two
    // codes takes the larger.
    const auto magnitude =
        static_cast<uint32_t>(scaled + 0.5);  // NOLINT(bugprone-incorrect-roundings)
    // Near the limit the magnitude can still reach past its 20 bits (d = 2 allows 131071.0, a
    // magnitude of 1310710) and would change the decimal point the controller reads: refused.
    if (magnitude > kSetpointMagnitudeMask) {
        return std::nullopt;
    }
    uint32_t code = magnitude | (d << kDecimalPointShift);
    if (value < 0) {
        code |= kSetpointSignBit;
    }
    return code;
}

std::string SetpointWriteCommand(int setpointNumber, uint32_t code) {
    char text[32];
    std::snprintf(text, sizeof text, "*W%02X%6X", static_cast<unsigned>(setpointNumber), code);
    return text;
}

}  // namespace omega
