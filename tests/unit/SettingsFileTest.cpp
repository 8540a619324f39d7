// The settings file: what the save tool writes and how the reset tool reads it back.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "tools/omega/RegisterTable.h"
#include "tools/omega/TempCtrlSettingsFile.h"

void PrintTo(const RegisterEntry& entry, std::ostream* out) {
    *out << std::hex << entry.Register << '=' << entry.Value << '/' << entry.Width;
}

namespace {

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
}

TEST(SettingsFile, ReaderTakesNamesAndWidthsFromTheVocabulary) {
    // Lower or upper case, any order, LF or CR LF, a wrong name, a later line replacing an
    // earlier one, and a note that is not a register line.
    const RegisterTable table = Read(
        "Reg\tValue\t\tDescription\n"
        "0X1D\t0X05\t\tsomething else\r\n"
        "\n"
        "Bench 7, after the repair\n"
        "0x01\t0x2000c8\tTemperature Setpoint 1\n"
        "0x1d\t0x07\t\tCycle 2\n"
        "End of file");
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(*table.Find(0x01), (RegisterEntry{0x01, 0x2000C8, 6, L"Temperature Setpoint 1"}));
    EXPECT_EQ(*table.Find(0x1D), (RegisterEntry{0x1D, 0x07, 2, L"Cycle 2"}));
}

TEST(SettingsFile, ReaderQuirksOfItsLineFormat) {
    // The value ends one character before the line does, where a name would end: a value with
    // nothing after it loses its last digit.
    EXPECT_EQ(Read("0x07\t0x11").Find(0x07)->Value, 0x1u);
    EXPECT_EQ(Read("0x07\t0x11\n").Find(0x07)->Value, 0x1u);
    EXPECT_EQ(Read("0x07\t0x11 ").Find(0x07)->Value, 0x11u);
    // The character in front of the value belongs to neither number: register 0 is no
    // register.
    EXPECT_TRUE(Read("0x070x11\tInput Type").empty());
    // A line not starting with "0x", or without a second "0x", is no register line.
    EXPECT_TRUE(Read(" 0x07\t0x11\tInput Type").empty());
    EXPECT_TRUE(Read("0x07\t11\t\tInput Type").empty());
    // Text that is not a number reads as 0; a value past 32 bits saturates and fits nothing.
    EXPECT_EQ(*Read("0x07\t0xqq\tx").Find(0x07), (RegisterEntry{0x07, 0, 2, L"Input Type"}));
    EXPECT_TRUE(Read("0x01\t0x1000000002000FA\tx").empty());
    // A line ends at its first NUL, as a C string would.
    EXPECT_EQ(Read(std::string("0x07\t0x11\0\tInput Type", 21)).Find(0x07)->Value, 0x1u);
}

TEST(SettingsFile, FileIsOpenedOnlyWhenItIsAPlausibleSettingsFile) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("pravik-settings-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    CTempCtrlSettingsFile file;
    RegisterTable table;
    EXPECT_FALSE(file.ReadSettingsFile(table)) << "nothing open";
    EXPECT_FALSE(file.Open(dir / "missing.txt"));
    EXPECT_FALSE(file.Open(dir)) << "a directory";
    EXPECT_EQ(file.Problem(), L"The path does not name a file.");

    std::ofstream(dir / "big.txt") << std::string(CTempCtrlSettingsFile::kMaxFileSize + 1, '0');
    EXPECT_FALSE(file.Open(dir / "big.txt"));

    std::ofstream(dir / "ok.txt") << omega::FormatSettingsFile(omega::ThermocoupleHeatTable());
    ASSERT_TRUE(file.Open(dir / "ok.txt"));
    EXPECT_TRUE(file.ReadSettingsFile(table));
    EXPECT_EQ(table, omega::ThermocoupleHeatTable());
    file.Close();
    std::filesystem::remove_all(dir);
}

}  // namespace
