#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Helpers for reading device text. Wire text is 8-bit; every function here is total: no input
// from a device makes one read outside its argument or overflow.
namespace wire {

// Decimal as atoi reads it (blanks, a sign, digits up to the first non-digit; nothing gives 0),
// but saturating at the 32-bit limits instead of overflowing.
int32_t ParseDecimal(std::string_view text);

// Subtracts one without overflowing at the lower limit.
int32_t Decrement(int32_t value);

// The text without leading and trailing white space.
std::string_view Trim(std::string_view text);

// Each byte as the character of the same code (Latin-1), as window text shows wire text.
std::wstring Widen(std::string_view text);

// value as briefly as it reads back exactly ("25", "25.3", "-0.125"), with a decimal point
// whatever the user's locale.
std::string FormatReal(double value);

}  // namespace wire

namespace wire {

// Reads text as sscanf does with "<prefix>%d": the prefix must stand exactly at the start, then
// blanks, an optional sign and at least one digit. Saturates at the 32-bit limits. False, and
// value untouched, when it does not match.
bool ScanPrefixedInt(std::string_view text, std::string_view prefix, int32_t& value);

// True when text begins with prefix.
inline bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

}  // namespace wire
