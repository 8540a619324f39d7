#include <gtest/gtest.h>

#include "platform/LineMode.h"
#include "serial/CommSettings.h"

namespace {

TEST(ParseCommSettings, ReadsTheSixDialogTexts) {
    const CommSettings s = ParseCommSettings(L"COM7", L"38400", L"7", L"Even", L"2", L"RTS/CTS");
    EXPECT_EQ(s, (CommSettings{7, 38400, 7, 2, 2, 2}));
    EXPECT_EQ(ParseCommSettings(L"COM12", L"9600", L"8", L"None", L"1", L"None").PortNumber, 12);
    EXPECT_EQ(ParseCommSettings(L"COM255", L"9600", L"8", L"Odd", L"1.5", L"Xon/Xoff"),
              (CommSettings{255, 9600, 8, 1, 1, 1}));
}

TEST(ParseCommSettings, TextsThatAreNotInTheListsOrNotNumbersGiveZero) {
    // The placeholder entry of a port list is no port.
    EXPECT_EQ(
        ParseCommSettings(L"-- Select One --", L"9600", L"8", L"None", L"1", L"None").PortNumber,
        0);
    // Names compare exactly: "none" is not "None", and unknown names fall back to index 0.
    const CommSettings s = ParseCommSettings(L"COM3", L"fast", L"8 bits", L"none", L"3", L"");
    EXPECT_EQ(s.BaudRate, 0);
    EXPECT_EQ(s.DataBits, 8);  // conversion stops at the first non-digit
    EXPECT_EQ(s.Parity, 0);
    EXPECT_EQ(s.StopBits, 0);
    EXPECT_EQ(s.FlowControl, 0);
    EXPECT_EQ(ParseCommSettings(L"COM", L"", L"", L"Even", L"2", L"RTS/CTS").PortNumber, 0);
    EXPECT_EQ(ParseCommSettings(L"CO", L"", L"", L"", L"", L"").PortNumber, 0);
    // Absurd numbers saturate instead of overflowing.
    EXPECT_EQ(
        ParseCommSettings(L"COM99999999999999", L"-99999999999", L"8", L"", L"", L"").PortNumber,
        INT32_MAX);
}

TEST(ModeString, IsBuiltFromTheSettingsAndParsesBackToThem) {
    EXPECT_EQ(BuildModeString(9600, 0, 8, 0), "baud=9600 parity=n data=8 stop=1");
    EXPECT_EQ(BuildModeString(38400, 2, 7, 2), "baud=38400 parity=e data=7 stop=2");
    EXPECT_EQ(BuildModeString(19200, 1, 5, 1), "baud=19200 parity=o data=5 stop=1.5");
    // Indices outside the lists fall back to the first entry.
    EXPECT_EQ(BuildModeString(9600, 5, 8, 7), "baud=9600 parity=n data=8 stop=1");
    EXPECT_EQ(BuildModeString(9600, -1, 8, -2), "baud=9600 parity=n data=8 stop=1");

    const auto mode = platform::ParseLineMode(BuildModeString(38400, 2, 7, 2));
    ASSERT_TRUE(mode.has_value());
    EXPECT_EQ(mode->baud, 38400);
    EXPECT_EQ(mode->parity, platform::LineMode::Parity::Even);
    EXPECT_EQ(mode->dataBits, 7);
    EXPECT_EQ(mode->stopBits, platform::LineMode::StopBits::Two);
}

}  // namespace
