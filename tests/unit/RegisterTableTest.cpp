// The Omega register vocabulary, its three built-in configurations, and the settings file that
// the save tool writes and the reset tool reads back.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>

#include "devices/OmegaSetpoint.h"
#include "tools/omega/RegisterTable.h"
#include "tools/omega/TempCtrlSettingsFile.h"

void PrintTo(const RegisterEntry& entry, std::ostream* out) {
    *out << std::hex << entry.Register << '=' << entry.Value << '/' << entry.Width;
}

namespace {

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
        EXPECT_LT(entry.Value, 1u << (4 * entry.Width)) << "wider than its digits";
        EXPECT_FALSE(entry.Name.empty());
    }
    for (uint32_t absent : {0x06u, 0x1Bu, 0x23u, 0x00u, 0x29u}) {
        EXPECT_EQ(table.Find(absent), nullptr) << absent;
    }
    // Facts the drivers, the tools and the controller rely on.
    EXPECT_EQ(table.Find(0x26)->Value, static_cast<uint32_t>('*'));
    EXPECT_EQ(table.Find(0x1F)->Value & 0x04, 0u) << "bus format without echo";
    EXPECT_EQ(table.Find(0x08)->Value & 7, 2u) << "set points in tenths";
    EXPECT_EQ(table.Find(0x10)->Value, 0x25u) << "9600 baud, 8 bits, no parity: as the tools open";
    EXPECT_DOUBLE_EQ(omega::DecodeSetpoint(table.Find(0x13)->Value), 400.0);
    EXPECT_DOUBLE_EQ(omega::DecodeSetpoint(table.Find(0x12)->Value), -100.0);
}

TEST(RegisterTable, OtherConfigurationsChangeOnlyTheirOwnRegisters) {
    RegisterTable heatCool = omega::RtdHeatFilterwheelTable();
    heatCool[0x02].Value = 0x2000FF;  // 25.5
    heatCool[0x0D].Value = 0x63;
    heatCool[0x1C].Value = 0x000A;
    heatCool[0x1D].Value = 0x05;
    EXPECT_EQ(omega::RtdHeatCoolFilterwheelTable(), heatCool);
    RegisterTable thermocouple = omega::RtdHeatFilterwheelTable();
    thermocouple[0x07].Value = 0x04;
    EXPECT_EQ(omega::ThermocoupleHeatTable(), thermocouple);
}

TEST(RegisterTable, IsAValueKeptInRegisterOrderWithOneEntryPerRegister) {
    RegisterTable table = omega::ThermocoupleHeatTable();
    const RegisterTable original = table;
    table[0x23].Value = 0x1234;  // a register looked up is added, empty, in its place
    table.Set({0x10, 0x26, 2, L"COM"});
    EXPECT_EQ(original, omega::ThermocoupleHeatTable()) << "a copy is a value of its own";
    EXPECT_EQ(*std::next(table.begin(), 32), (RegisterEntry{0x23, 0x1234, 0, L""}));
    EXPECT_EQ(*table.Find(0x10), (RegisterEntry{0x10, 0x26, 2, L"COM"}));
    EXPECT_EQ(table.size(), 38u);
    EXPECT_EQ(RegisterTable().Find(0x01), nullptr);
}

// What a reset reads of a file is a table; names and widths come from the vocabulary.
RegisterTable Read(std::string_view text) {
    RegisterTable table;
    table.Set({0x05, 0x1234, 4, L"ID Code"});  // anything already there is dropped
    const std::wstring problem = omega::ReadSettingsText(text, table);
    EXPECT_EQ(problem.empty(), !table.empty()) << "a refused file leaves nothing to write";
    return table;
}

TEST(SettingsFile, WrittenFileReadsBackAsTheSameTable) {
    const RegisterTable table = omega::RtdHeatCoolFilterwheelTable();
    const std::string text = omega::FormatSettingsFile(table);
    EXPECT_TRUE(
        text.starts_with("Reg\tValue\t\tDescription\r\n"
                         "0x01\t0x2000FA\tTemperature Setpoint 1\r\n"
                         "0x02\t0x2000FF\tTemperature Setpoint 2\r\n"));
    EXPECT_NE(text.find("\r\n0x0B\t0x003B\t\tLoop Break Time\r\n"), std::string::npos);
    EXPECT_TRUE(text.ends_with("\r\n0x28\t0x63\t\t% High\r\nEnd of file"));
    EXPECT_EQ(Read(text), table);

    // Lower or upper case, any order, LF or CR LF, a wrong name, a later line replacing an
    // earlier one, and a note that is not a register line.
    const RegisterTable edited = Read(
        "Reg\tValue\t\tDescription\n"
        "0X1D\t0X05\t\tsomething else\r\n"
        "\n"
        "Bench 7, after the repair\n"
        "0x01\t0x2000c8\tTemperature Setpoint 1\n"
        "0x1d\t0x07\t\tCycle 2\n"
        "End of file");
    ASSERT_EQ(edited.size(), 2u);
    EXPECT_EQ(*edited.Find(0x01), (RegisterEntry{0x01, 0x2000C8, 6, L"Temperature Setpoint 1"}));
    EXPECT_EQ(*edited.Find(0x1D), (RegisterEntry{0x1D, 0x07, 2, L"Cycle 2"}));
}

TEST(SettingsFile, ReaderQuirksOfItsLineFormat) {
    const std::pair<std::string, std::optional<uint32_t>> lines[] = {
        // The value ends one character before the line does, where a name would end: a value
        // with nothing after it loses its last digit.
        {"0x07\t0x11", 0x1},
        {"0x07\t0x11\n", 0x1},
        {"0x07\t0x11 ", 0x11},
        {std::string("0x07\t0x11\0\tInput Type", 21), 0x1},  // a line ends at its first NUL
        {"0x07\t0xqq\tx", 0},                                // text that is not a number reads as 0
        // The character in front of the value belongs to neither number: register 0 is no
        // register.
        {"0x070x11\tInput Type", std::nullopt},
        // A line not starting with "0x", or without a second "0x", is no register line.
        {" 0x07\t0x11\tInput Type", std::nullopt},
        {"0x07\t11\t\tInput Type", std::nullopt},
        {"0x01\t0x1000000002000FA\tx", std::nullopt},  // past 32 bits: saturates, fits nothing
    };
    for (const auto& [line, value] : lines) {
        const RegisterTable table = Read(line);
        ASSERT_EQ(table.empty(), !value.has_value()) << line;
        if (value) {
            EXPECT_EQ(*table.Find(0x07), (RegisterEntry{0x07, *value, 2, L"Input Type"})) << line;
        }
    }
}

}  // namespace
