// The Omega register vocabulary and its three built-in configurations.
#include <gtest/gtest.h>

#include <set>

#include "devices/OmegaSetpoint.h"
#include "tools/omega/RegisterTable.h"

namespace {

// Registers whose value differs between two tables that hold the same registers, names and
// widths.
std::set<uint32_t> Differences(const RegisterTable& a, const RegisterTable& b) {
    std::set<uint32_t> registers;
    EXPECT_EQ(a.size(), b.size());
    for (const RegisterEntry& entry : a) {
        const RegisterEntry* other = b.Find(entry.Register);
        if (other == nullptr) {
            ADD_FAILURE() << "missing register " << entry.Register;
            continue;
        }
        EXPECT_EQ(other->Name, entry.Name);
        EXPECT_EQ(other->Width, entry.Width);
        if (other->Value != entry.Value) {
            registers.insert(entry.Register);
        }
    }
    return registers;
}

TEST(RegisterTable, RtdHeatingTableHoldsTheWholeVocabularyInRegisterOrder) {
    const RegisterTable table = omega::RtdHeatFilterwheelTable();
    ASSERT_EQ(table.size(), 37u);
    EXPECT_EQ(*table.begin(), (RegisterEntry{0x01, 0x2000FA, 6, L"Temperature Setpoint 1"}));
    EXPECT_EQ(table.Find(0x28)->Name, L"% High");
    uint32_t previous = 0;
    for (const RegisterEntry& entry : table) {
        EXPECT_GT(entry.Register, previous);
        previous = entry.Register;
        EXPECT_TRUE(entry.Width == 2 || entry.Width == 4 || entry.Width == 6) << entry.Register;
        EXPECT_LT(entry.Value, 1u << (4 * entry.Width))
            << "wider than its digits: " << entry.Register;
        EXPECT_FALSE(entry.Name.empty());
    }
    for (uint32_t absent : {0x06u, 0x1Bu, 0x23u, 0x00u, 0x29u}) {
        EXPECT_EQ(table.Find(absent), nullptr) << absent;
    }
    // Facts the drivers and the controller rely on.
    EXPECT_EQ(table.Find(0x26)->Value, static_cast<uint32_t>('*'));
    EXPECT_EQ(table.Find(0x1F)->Value & 0x04, 0u) << "bus format without echo";
    EXPECT_EQ(table.Find(0x08)->Value & 7, 2u) << "set points in tenths";
    EXPECT_DOUBLE_EQ(omega::DecodeSetpoint(table.Find(0x13)->Value), 400.0);
    EXPECT_DOUBLE_EQ(omega::DecodeSetpoint(table.Find(0x12)->Value), -100.0);
}

TEST(RegisterTable, OtherConfigurationsChangeOnlyTheirOwnRegisters) {
    const RegisterTable heat = omega::RtdHeatFilterwheelTable();
    const RegisterTable heatCool = omega::RtdHeatCoolFilterwheelTable();
    const RegisterTable thermocouple = omega::ThermocoupleHeatTable();
    EXPECT_EQ(Differences(heat, heatCool), (std::set<uint32_t>{0x02, 0x0D, 0x1C, 0x1D}));
    EXPECT_DOUBLE_EQ(omega::DecodeSetpoint(heatCool.Find(0x02)->Value), 25.5);
    EXPECT_EQ(heatCool.Find(0x0D)->Value, 0x63u);
    EXPECT_EQ(heatCool.Find(0x1C)->Value, 0x000Au);
    EXPECT_EQ(heatCool.Find(0x1D)->Value, 0x05u);
    EXPECT_EQ(Differences(heat, thermocouple), (std::set<uint32_t>{0x07}));
    EXPECT_EQ(thermocouple.Find(0x07)->Value, 0x04u);
}

TEST(RegisterTable, LookingUpAMissingRegisterAddsAnEmptyEntryInItsPlace) {
    RegisterTable table = omega::ThermocoupleHeatTable();
    const RegisterTable original = table;
    RegisterEntry& added = table[0x23];
    EXPECT_EQ(added, (RegisterEntry{0x23, 0, 0, L""}));
    added.Value = 0x1234;
    EXPECT_EQ(table.size(), 38u);
    EXPECT_EQ(original.size(), 37u) << "a copy is a value of its own";
    uint32_t previous = 0;
    for (const RegisterEntry& entry : table) {
        EXPECT_GT(entry.Register, previous);
        previous = entry.Register;
    }
    table[0x23].Width = 4;
    EXPECT_EQ(*table.Find(0x23), (RegisterEntry{0x23, 0x1234, 4, L""})) << "found, not added again";
    EXPECT_EQ(table.size(), 38u);

    RegisterTable empty;
    EXPECT_EQ(empty.Find(0x01), nullptr);
    empty.Set({0x10, 0x25, 2, L"COM Settings"});
    empty.Set({0x01, 0x2000FA, 6, L"Temperature Setpoint 1"});
    empty.Set({0x10, 0x26, 2, L"COM Settings"});
    ASSERT_EQ(empty.size(), 2u);
    EXPECT_EQ(empty.begin()->Register, 0x01u);
    EXPECT_EQ(empty.Find(0x10)->Value, 0x26u);
}

}  // namespace
