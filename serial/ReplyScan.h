#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// Numbers read out of controller replies the way the C scan conversions read them ("%x", "%d",
// "%lf": leading white space skipped, an optional sign, conversion stops at the first character
// that does not fit), but total: no reply overflows anything, and the decimal point is always
// '.', whatever locale the console runs in (a window toolkit may switch LC_NUMERIC to the user's,
// where strtod would want a comma). Each is empty when no number could be read.
namespace wire {

// The value of one hexadecimal digit, -1 for any other character.
int HexValue(char c);

// "%x": hexadecimal with an optional "0x" prefix. A value past 32 bits reads as 0xFFFFFFFF; a
// minus sign negates modulo 2^32, as the C conversion does.
std::optional<uint32_t> ScanHex(std::string_view text);

// "%d": decimal, saturating at the 32-bit limits.
std::optional<int32_t> ScanInt(std::string_view text);

// "%lf": decimal or "0x" hexadecimal floating point, "inf", "nan". A value too large for a
// double reads as an infinity, one too small as zero, as strtod gives them.
std::optional<double> ScanReal(std::string_view text);

}  // namespace wire
