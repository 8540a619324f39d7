#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One register setting of an Omega CNi32 controller.
struct RegisterEntry {
    uint32_t Register = 0;  // 0x01 to 0x28 in the vocabulary
    uint32_t Value = 0;     // raw content, at most 24 bits, as the controller shows it in hex
    uint32_t Width = 0;     // hexadecimal digits the controller uses for it: 2, 4 or 6
    std::wstring Name;

    bool operator==(const RegisterEntry&) const = default;
};

// Register settings keyed by register number, ascending, at most one per register. A value
// type: copied wherever it is handed on.
class RegisterTable {
public:
    using const_iterator = std::vector<RegisterEntry>::const_iterator;

    // The entry for reg; one with value 0, width 0 and no name is added when there is none, so
    // that a settings file may carry registers outside the vocabulary.
    RegisterEntry& operator[](uint32_t reg);
    // The entry for reg, or nullptr; adds nothing.
    const RegisterEntry* Find(uint32_t reg) const;
    // Puts entry in its place, replacing any entry for the same register.
    void Set(RegisterEntry entry);

    const_iterator begin() const { return entries_.begin(); }
    const_iterator end() const { return entries_.end(); }
    size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    void clear() { entries_.clear(); }

    bool operator==(const RegisterTable&) const = default;

private:
    std::vector<RegisterEntry> entries_;  // sorted by Register
};

// The built-in configurations of an instrument's controller.
namespace omega {

inline constexpr std::wstring_view kRtdHeatFilterwheel = L"RTD (Heat) Filterwheel";
inline constexpr std::wstring_view kRtdHeatCoolFilterwheel = L"RTD (Heat+Cool) Filterwheel";
inline constexpr std::wstring_view kThermocoupleHeat = L"Thermocouple (Heat)";

// All 37 registers of the vocabulary with the RTD heating-only values.
RegisterTable RtdHeatFilterwheelTable();
// Heating and cooling: a second set point and the second output, band and cycle for the cooler.
RegisterTable RtdHeatCoolFilterwheelTable();
// A thermocouple input in place of the RTD; everything else as the RTD heating table.
RegisterTable ThermocoupleHeatTable();

}  // namespace omega
