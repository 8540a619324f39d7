#include "tools/omega/RegisterTable.h"

#include <algorithm>

namespace {

auto LowerBound(const std::vector<RegisterEntry>& entries, uint32_t reg) {
    return std::lower_bound(
        entries.begin(), entries.end(), reg,
        [](const RegisterEntry& entry, uint32_t wanted) { return entry.Register < wanted; });
}

}  // namespace

RegisterEntry& RegisterTable::operator[](uint32_t reg) {
    const auto at = LowerBound(entries_, reg);
    const auto index = static_cast<size_t>(at - entries_.begin());
    if (at == entries_.end() || at->Register != reg) {
        entries_.insert(at, RegisterEntry{reg, 0, 0, L""});
    }
    return entries_[index];
}

const RegisterEntry* RegisterTable::Find(uint32_t reg) const {
    const auto at = LowerBound(entries_, reg);
    return at != entries_.end() && at->Register == reg ? &*at : nullptr;
}

void RegisterTable::Set(RegisterEntry entry) {
    RegisterEntry& slot = (*this)[entry.Register];
    slot = std::move(entry);
}

namespace omega {

RegisterTable RtdHeatFilterwheelTable() {
    // Registers 0x06, 0x1B and 0x23 are not among the settings an instrument needs.
    static const RegisterEntry kRows[] = {
        {0x01, 0x2000FA, 6, L"Temperature Setpoint 1"},
        {0x02, 0x200000, 6, L"Temperature Setpoint 2"},
        {0x03, 0x200000, 6, L"Reading Offset"},
        {0x04, 0x400000, 6, L"Analog Offset"},
        {0x05, 0x0000, 4, L"ID Code"},
        {0x07, 0x11, 2, L"Input Type"},
        {0x08, 0x42, 2, L"Reading Config"},
        {0x09, 0x00, 2, L"Alarm 1 Config"},
        {0x0A, 0x00, 2, L"Alarm 2 Config"},
        {0x0B, 0x003B, 4, L"Loop Break Time"},
        {0x0C, 0x01, 2, L"Output 1 Configuration"},
        {0x0D, 0x60, 2, L"Output 2 Configuration"},
        {0x0E, 0x0000, 4, L"Ramp Time"},
        {0x0F, 0x9186A0, 6, L"ANLSCL"},
        {0x10, 0x25, 2, L"COM Settings"},
        {0x11, 0x01, 2, L"Display Color"},
        {0x12, 0xA003E8, 6, L"Alarm 1 Low"},
        {0x13, 0x200FA0, 6, L"Alarm 1 High"},
        {0x14, 0x100001, 6, L"Reading Scale"},
        {0x15, 0xA003E8, 6, L"Alarm 2 Low"},
        {0x16, 0x200FA0, 6, L"Alarm 2 High"},
        {0x17, 0x000A, 4, L"Proportional Band 1"},
        {0x18, 0x0064, 4, L"Reset Time 1"},
        {0x19, 0x000A, 4, L"Rate 1"},
        {0x1A, 0x05, 2, L"Cycle 1"},
        {0x1C, 0x00C8, 4, L"Proportional Band 2"},
        {0x1D, 0x07, 2, L"Cycle 2"},
        {0x1E, 0x0000, 4, L"Soak Time"},
        {0x1F, 0x30, 2, L"Bus Format"},
        {0x20, 0x02, 2, L"Data Format"},
        {0x21, 0x01, 2, L"Address"},
        {0x22, 0x0010, 4, L"Transit Interval"},
        {0x24, 0x42, 2, L"Miscellaneous"},
        {0x25, 0x200000, 6, L"C.J. Offset Adjust"},
        {0x26, 0x2A, 2, L"Recognition Character"},
        {0x27, 0x00, 2, L"% Low"},
        {0x28, 0x63, 2, L"% High"},
    };
    RegisterTable table;
    for (const RegisterEntry& row : kRows) {
        table.Set(row);
    }
    return table;
}

RegisterTable RtdHeatCoolFilterwheelTable() {
    RegisterTable table = RtdHeatFilterwheelTable();
    table[0x02].Value = 0x2000FF;  // 25.5
    table[0x0D].Value = 0x63;
    table[0x1C].Value = 0x000A;
    table[0x1D].Value = 0x05;
    return table;
}

RegisterTable ThermocoupleHeatTable() {
    RegisterTable table = RtdHeatFilterwheelTable();
    table[0x07].Value = 0x04;
    return table;
}

}  // namespace omega
