// The temperature controllers' reply assembly and parsing, fed captured replies, and the pure
// pieces under them: the scan conversions and the Omega set-point format.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "devices/Athena16TempController.h"
#include "devices/OmegaSetpoint.h"
#include "devices/OmegaTempController.h"
#include "serial/ReplyScan.h"
#include "support/ReplyFeeder.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr auto kNone = std::nullopt;

TEST(ReplyScan, ReadsAsTheCConversionsWithoutOverflow) {
    // clang-format off
    const std::pair<std::string, std::optional<uint32_t>> hex[] = {
        {"2000FA", 0x2000FA}, {" \t0x1f", 0x1F}, {"34\r", 0x34}, {"-1", 0xFFFFFFFF}, {"+a", 0xA},
        {"0xg", 0}, {"0x", 0}, {"FFFFFFFF", 0xFFFFFFFF}, {"123456789", 0xFFFFFFFF}, {"", kNone},
        {"-", kNone}, {"R012000FA", kNone}};
    // Decimal saturates and stops at the first non-digit.
    const std::pair<std::string, std::optional<int32_t>> integer[] = {
        {"23.7", 23}, {" -5x", -5}, {"99999999999", std::numeric_limits<int32_t>::max()},
        {"-99999999999", std::numeric_limits<int32_t>::min()}, {"x1", kNone}, {"+", kNone}};
    // Reals as strtod reads them in the C locale: a decimal comma is no decimal point.
    const std::pair<std::string, std::optional<double>> real[] = {
        {"025.3", 25.3}, {" -1.5e2C", -150.0}, {"+2", 2.0}, {"25,3", 25.0}, {"0x1p4", 16.0},
        {"0x", 0.0}, {"1e999", kInf}, {"-1e999", -kInf}, {"1e-999", 0.0}, {"INF", kInf},
        {"0x1p99999", kInf}, {"0." + std::string(400, '0') + "1", 0.0},
        {"1" + std::string(400, '0'), kInf}, {"--1", kNone}, {"+-1", kNone}, {"abc", kNone},
        {"", kNone}};
    // clang-format on
    for (const auto& [text, value] : hex) {
        EXPECT_EQ(wire::ScanHex(text), value) << text;
    }
    for (const auto& [text, value] : integer) {
        EXPECT_EQ(wire::ScanInt(text), value) << text;
    }
    for (const auto& [text, value] : real) {
        EXPECT_EQ(wire::ScanReal(text), value) << text;
    }
    EXPECT_TRUE(std::isnan(wire::ScanReal("nan").value_or(0.0)));
}

TEST(OmegaSetpoint, CodesSignDecimalPointAndMagnitudeRoundingToTheDecimalPoint) {
    const std::pair<uint32_t, double> decoded[] = {
        {0x2000FA, 25.0},   {0xA000FA, -25.0},  {0x1000FA, 250.0},   {0x3000FA, 2.5},
        {0x2000FF, 25.5},   {0x0000FA, 2500.0}, {0x7000FA, 0.00025}, {0x2FFFFF, 104857.5},
        {0xFF2000FA, 25.0},  // bits above the 24 are not part of the value
    };
    for (const auto& [raw, value] : decoded) {
        EXPECT_DOUBLE_EQ(omega::DecodeSetpoint(raw), value) << std::hex << raw;
    }
    // clang-format off
    const struct {
        double value;
        uint32_t d;
        std::optional<uint32_t> code;
    } cases[] = {
        {25.0, 2, 0x2000FA}, {-5.0, 2, 0xA00032}, {25.54, 2, 0x2000FF}, {25.0, 1, 0x100019},
        {25.0, 0, 0x000003},      // tens: 2.5 rounds up
        {1.234, 3, 0x30007B},
        {25.0, 0x42, 0x2000FA},   // only the low three bits of the register are the code
        {104857.5, 2, 0x2FFFFF},  // the largest magnitude that fits its 20 bits
        {104857.6, 2, kNone},     // would spill into the decimal-point field
        {131071.0, 2, kNone}, {131071.01, 2, kNone}, {-131072.0, 2, kNone},
        {524287.0, 0, 0x00CCCD}, {524288.0, 0, kNone}, {4095.0, 7, kNone}, {4096.0, 7, kNone},
        {kInf, 2, kNone}, {std::numeric_limits<double>::quiet_NaN(), 2, kNone}};
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(omega::EncodeSetpoint(c.value, c.d), c.code) << c.value << " d=" << c.d;
    }
    // Every tenth from -999.9 to 999.9 survives the trip to the controller and back.
    for (int tenths = -9999; tenths <= 9999; ++tenths) {
        const std::optional<uint32_t> code = omega::EncodeSetpoint(tenths / 10.0, 2);
        ASSERT_TRUE(code.has_value()) << tenths;
        ASSERT_DOUBLE_EQ(omega::DecodeSetpoint(*code), tenths / 10.0) << tenths;
    }
    // The code goes out right-aligned in six columns, padded with blanks.
    EXPECT_EQ(omega::SetpointWriteCommand(1, 0x2000FA), "*W012000FA");
    EXPECT_EQ(omega::SetpointWriteCommand(2, 0xA00032), "*W02A00032");
    EXPECT_EQ(omega::SetpointWriteCommand(1, 0x000003), "*W01     3");
}

enum Model { kOmega, kAthena };
constexpr double kUntouched = 99.0;

// One reply, fed to a fresh driver with command in flight: whether it completes the command and
// what it leaves in the driver. Faults common to every driver are FaultSuiteTest's.
struct Reply {
    Model model;
    const char* command;
    std::string bytes;
    bool completes;
    double number = kUntouched;
    int32_t value = 0;
    int32_t valid = 0;          // the Omega's echo mode
    std::wstring identity{};    // initialised, so that rows may leave it out
    bool registerRead = false;  // the Omega reads any reply as plain hex
};

template <typename Driver>
void Check(const Reply& row) {
    testing_support::ReplyFeeder<Driver> d;
    d.Expect(row.command);
    d.ReplyNumber = kUntouched;
    if constexpr (std::is_same_v<Driver, COmegaTempController>) {
        d.RegisterReadPending = row.registerRead ? 1 : 0;
    }
    d.Feed(row.bytes);
    ASSERT_EQ(d.Completed(), row.completes);
    EXPECT_EQ(d.ReplyPendingEvent.IsSet(), !row.completes) << "an unread reply keeps it waiting";
    EXPECT_DOUBLE_EQ(d.ReplyNumber, row.number);
    EXPECT_EQ(d.ReplyValue, row.value);
    EXPECT_EQ(d.ReplyValid, row.valid);
    EXPECT_EQ(d.IdentityText, row.identity);
}

TEST(TempControllerReplies, EachReplyCompletesOnlyItsOwnCommand) {
    const Reply rows[] = {
        // The reading is a decimal number; anything else reads as 0.0.
        {kOmega, "*X01", "025.3\r", true, 25.3},
        {kOmega, "*X01", " -012.5\r", true, -12.5},
        {kOmega, "*X01", "\n075.4\r", true, 75.4},
        {kOmega, "*X01", "X01075.4\r", true, 0.0},  // an echoing controller's reading
        {kOmega, "*R01", "2000FA\r", true, 25.0},
        // An echoed read is no set point; the next line still answers it.
        {kOmega, "*R01", "R012000FA\r2003E8\r", true, 100.0},
        {kOmega, "*R08", "42\r", true, kUntouched, 0x42},
        {kOmega, "*R1", "2000FA\r", false},  // only the exact command texts have parsers
        {kOmega, "*R01 ", "2000FA\r", false},
        // The bus format: the command line repeated by the line is skipped; a reply in echo
        // form says the controller echoes, and even an empty line answers.
        {kOmega, "*R1F", "*R1F\rR1F34\r", true, kUntouched, 0x34, 1},
        {kOmega, "*R1F", "R1F\r", true, kUntouched, 0, 1},
        {kOmega, "*R1F", "30\r", true},
        {kOmega, "*R1F", "\r", true},
        // A register read goes before the command's parser and is raw, not decoded.
        {kOmega, "*X01", "025.3\r", true, kUntouched, 0x25, 0, L"", true},
        {kOmega, "*R01", "2000FA\r", true, kUntouched, 0x2000FA, 0, L"", true},
        {kOmega, "*R01", "R012000FA\r", false, kUntouched, 0, 0, L"", true},
        {kOmega, "*R1F", "R1F34\r", false, kUntouched, 0, 0, L"", true},
        // Writes and restarts are never answered in a form the driver reads.
        {kOmega, "*W01  2000FA", "W01\r2000FA\r\r", false},
        {kOmega, "*Z02", "W01\r2000FA\r\r", false},
        {kOmega, "*R05", "W01\r2000FA\r\r", false},
        // Athena readings are whole degrees, read after the first seven characters wherever
        // the key stands.
        {kAthena, "#01R00", "#01R00=23\r\n", true, 23.0, 23},
        {kAthena, "#01R00", "#01R00=23.7\r\n", true, 23.0, 23},
        {kAthena, "#01R01", "#01R01=25.0\r\n", true, 25.0, 25},
        {kAthena, "#01R00", "23.7\r\n", false},
        {kAthena, "#01R00", "#01R00=\r\n", false},
        {kAthena, "#01R00", "ERROR\r\n", false},
        {kAthena, "#01R00", "x#01R00=23\r\n", false},
        {kAthena, "#01XX", "#01XX=1\r\n", false},
        // A lone LF is no line, nor is CR LF alone, whose CR then stands ahead of the next
        // reply and moves its number out of place.
        {kAthena, "#01R00", "\n\r\n#01R00=23\r\n#01R00=24\r\n", true, 24.0, 24},
        {kAthena, "#01R00", "#01R00=23\n", true, 2.0, 2},      // LF alone: the last digit goes
        {kAthena, "#01R01", "#01R01=3\r1\r\n", true, 3.0, 3},  // a CR inside the line stays
        // A set point write is confirmed by the number the controller echoes.
        {kAthena, "#01M01 25.0C", "#01M01 25.0C\r\n", true, 25.0},
        {kAthena, "#01M01 20.1C", "#01M0120.1\r\n", true, 20.1},
        {kAthena, "#01M01 25.0C", "#01M01\r\n", false},
        {kAthena, "#01M01 25.0C", "25.0\r\n", false},
        // The identification is the reply from its fourth character, widened byte by byte.
        {kAthena, "#01?9", "#01 16DCB030\r\n", true, kUntouched, 0, 0, L" 16DCB030"},
        {kAthena, "#01?9", "#01\xE9\r\n", true, kUntouched, 0, 0, L"\xE9"},
        {kAthena, "#01?9", "16DCB030\r\n", false},
    };
    for (const Reply& row : rows) {
        SCOPED_TRACE(row.command + (" <- " + row.bytes));
        if (row.model == kOmega) {
            Check<COmegaTempController>(row);
        } else {
            Check<CAthena16TempController>(row);
        }
    }
}

}  // namespace
