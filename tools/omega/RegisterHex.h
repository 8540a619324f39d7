#pragma once

#include <cstdint>
#include <string>

namespace omega {

// value in upper-case hexadecimal, zero-padded to width digits and never cut short: a value
// wider than its register is shown whole, as the controller's "%0*X" formats would show it.
// Width 0 gives no padding.
std::string Hex(uint32_t value, uint32_t width);
std::wstring WideHex(uint32_t value, uint32_t width);

}  // namespace omega
