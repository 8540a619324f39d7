// The Omega register vocabulary, its three built-in configurations, and the settings file that
// the save tool writes and the reset tool reads back.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>

#include "tools/omega/RegisterHex.h"
#include "tools/omega/RegisterTable.h"
#include "tools/omega/TempCtrlSettingsFile.h"

void PrintTo(const RegisterEntry& entry, std::ostream* out) {
    *out << std::hex << entry.Register << '=' << entry.Value << '/' << entry.Width;
}

namespace {

// Every register of the vocabulary in register order, in the hex digits the controller uses for
// it. The drivers and tools rely on some: the recognition character "*" (0x26), a bus format
// without echo (0x1F), set points in tenths (0x08), 9600 baud 8N1 (0x10).
TEST(RegisterTable, RtdHeatingTableHoldsTheInstrumentSettingsOfTheWholeVocabulary) {
    std::string shown;
    for (const RegisterEntry& entry : omega::RtdHeatFilterwheelTable()) {
        shown += omega::Hex(entry.Register, 2) + "=" + omega::Hex(entry.Value, entry.Width) + " ";
        EXPECT_FALSE(entry.Name.empty());
    }
    EXPECT_EQ(shown,
              "01=2000FA 02=200000 03=200000 04=400000 05=0000 07=11 08=42 09=00 0A=00 0B=003B "
              "0C=01 0D=60 0E=0000 0F=9186A0 10=25 11=01 12=A003E8 13=200FA0 14=100001 "
              "15=A003E8 16=200FA0 17=000A 18=0064 19=000A 1A=05 1C=00C8 1D=07 1E=0000 1F=30 "
              "20=02 21=01 22=0010 24=42 25=200000 26=2A 27=00 28=63 ");
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
        {"0x07\t0x1FF ", std::nullopt},                      // a digit more than the register holds
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
