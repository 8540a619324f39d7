#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The Omega CNi32's 24-bit set-point format, which every temperature register of the controller
// shares: bit 23 is the sign (1 = negative), bits 22..20 the decimal-point code d, bits 19..0 the
// magnitude; the value is magnitude / 10^(d-1). With d = 2 (tenths) 0x2000FA is 25.0.
namespace omega {

inline constexpr uint32_t kSetpointSignBit = 0x800000;
inline constexpr uint32_t kSetpointMagnitudeMask = 0xFFFFF;
inline constexpr int kDecimalPointShift = 20;

// The value a raw register holds; bits above 23 are not part of the format and are ignored.
double DecodeSetpoint(uint32_t raw);

// The raw code for value with decimal-point code d (the low three bits of the reading
// configuration register, 0x08). Empty when |value| is beyond 2^(19-d) - 1, the range the
// controller accepts for that decimal point, or not a number at all.
std::optional<uint32_t> EncodeSetpoint(double value, uint32_t decimalPointCode);

// "*W01" (set point 1) or "*W02" (set point 2) and the code in upper-case hexadecimal,
// right-aligned in six columns and padded with blanks: the controller reads the field by column.
std::string SetpointWriteCommand(int setpointNumber, uint32_t code);

}  // namespace omega
