// The temperature controllers' reply assembly and parsing, fed captured replies, and the pure
// pieces under them: the scan conversions and the Omega set-point format.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "devices/Athena16TempController.h"
#include "devices/OmegaSetpoint.h"
#include "devices/OmegaTempController.h"
#include "serial/ReplyScan.h"
#include "support/ReplyFeeder.h"

namespace {

using testing_support::ReplyFeeder;

constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(ReplyScan, HexReadsAsTheCConversionWithoutOverflow) {
    const struct {
        std::string text;
        std::optional<uint32_t> value;
    } cases[] = {
        {"2000FA", 0x2000FA},
        {" \t0x1f", 0x1F},
        {"34\r", 0x34},
        {"-1", 0xFFFFFFFF},
        {"+a", 0xA},
        {"0xg", 0},
        {"FFFFFFFF", 0xFFFFFFFF},
        {"123456789", 0xFFFFFFFF},
        {"", std::nullopt},
        {"R012000FA", std::nullopt},
        {"-", std::nullopt},
        {"0x", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(wire::ScanHex(c.text), c.value) << c.text;
    }
}

TEST(ReplyScan, DecimalSaturatesAndStopsAtTheFirstNonDigit) {
    const struct {
        std::string text;
        std::optional<int32_t> value;
    } cases[] = {
        {"23.7", 23},
        {" -5x", -5},
        {"99999999999", std::numeric_limits<int32_t>::max()},
        {"-99999999999", std::numeric_limits<int32_t>::min()},
        {"x1", std::nullopt},
        {"+", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(wire::ScanInt(c.text), c.value) << c.text;
    }
}

TEST(ReplyScan, RealReadsLikeStrtodInTheCLocale) {
    const struct {
        std::string text;
        std::optional<double> value;
    } cases[] = {
        {"025.3", 25.3},
        {" -1.5e2C", -150.0},
        {"+2", 2.0},
        {"25,3", 25.0},  // a decimal comma is not a decimal point, whatever the user's locale
        {"0x1p4", 16.0},
        {"0x", 0.0},
        {"1e999", kInf},
        {"-1e999", -kInf},
        {"1e-999", 0.0},
        {"0." + std::string(400, '0') + "1", 0.0},
        {"1" + std::string(400, '0'), kInf},
        {"0x1p99999", kInf},
        {"INF", kInf},
        {"--1", std::nullopt},
        {"+-1", std::nullopt},
        {"abc", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(wire::ScanReal(c.text), c.value) << c.text;
    }
    const std::optional<double> nan = wire::ScanReal("nan");
    ASSERT_TRUE(nan.has_value());
    EXPECT_TRUE(std::isnan(*nan));
}

TEST(OmegaSetpoint, DecodesSignDecimalPointAndMagnitude) {
    const struct {
        uint32_t raw;
        double value;
    } cases[] = {
        {0x2000FA, 25.0},   {0xA000FA, -25.0},  {0x1000FA, 250.0},   {0x3000FA, 2.5},
        {0x2000FF, 25.5},   {0x0000FA, 2500.0}, {0x7000FA, 0.00025}, {0x2FFFFF, 104857.5},
        {0xFF2000FA, 25.0},  // bits above the 24 are not part of the value
    };
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(omega::DecodeSetpoint(c.raw), c.value) << std::hex << c.raw;
    }
}

TEST(OmegaSetpoint, EncodesRoundingToTheDecimalPointAndRefusesWhatIsOutOfRange) {
    const struct {
        double value;
        uint32_t d;
        std::optional<uint32_t> code;
    } cases[] = {
        {25.0, 2, 0x2000FA},
        {-5.0, 2, 0xA00032},
        {25.54, 2, 0x2000FF},
        {25.0, 1, 0x100019},
        {25.0, 0, 0x000003},  // tens: 2.5 rounds up
        {1.234, 3, 0x30007B},
        {25.0, 0x42, 0x2000FA},       // only the low three bits of the register are the code
        {104857.5, 2, 0x2FFFFF},      // the largest magnitude that fits its 20 bits
        {104857.6, 2, std::nullopt},  // would spill into the decimal-point field
        {131071.0, 2, std::nullopt},
        {131071.01, 2, std::nullopt},
        {-131072.0, 2, std::nullopt},
        {524287.0, 0, 0x00CCCD},
        {524288.0, 0, std::nullopt},
        {4095.0, 7, std::nullopt},  // the magnitude does not fit 20 bits
        {4096.0, 7, std::nullopt},
        {kInf, 2, std::nullopt},
        {std::numeric_limits<double>::quiet_NaN(), 2, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(omega::EncodeSetpoint(c.value, c.d), c.code) << c.value << " d=" << c.d;
    }
    // Every tenth from -999.9 to 999.9 survives the trip to the controller and back.
    for (int tenths = -9999; tenths <= 9999; ++tenths) {
        const double value = tenths / 10.0;
        const std::optional<uint32_t> code = omega::EncodeSetpoint(value, 2);
        ASSERT_TRUE(code.has_value()) << value;
        ASSERT_DOUBLE_EQ(omega::DecodeSetpoint(*code), value) << value;
    }
}

TEST(OmegaSetpoint, WriteCommandPadsTheCodeWithBlanksToSixColumns) {
    EXPECT_EQ(omega::SetpointWriteCommand(1, 0x2000FA), "*W012000FA");
    EXPECT_EQ(omega::SetpointWriteCommand(2, 0xA00032), "*W02A00032");
    EXPECT_EQ(omega::SetpointWriteCommand(1, 0x000003), "*W01     3");
}

class OmegaReplies : public ::testing::Test {
protected:
    // Feeds one reply line to the command and tells whether it completed the exchange.
    bool Answer(const std::string& command, const std::string& bytes) {
        d.Expect(command);
        d.Feed(bytes);
        return d.Completed();
    }
    ReplyFeeder<COmegaTempController> d;
};

TEST_F(OmegaReplies, ReadingIsADecimalNumberAndAnythingElseReadsAsZero) {
    const struct {
        std::string reply;
        double value;
    } cases[] = {
        {"025.3\r", 25.3},   {" -012.5\r", -12.5},
        {"\n075.4\r", 75.4}, {"X01075.4\r", 0.0},  // an echoing controller's reading: not a number
        {"\r", 0.0},         {"???\r", 0.0},
    };
    for (const auto& c : cases) {
        d.ReplyNumber = 99.0;
        ASSERT_TRUE(Answer("*X01", c.reply)) << c.reply;
        EXPECT_DOUBLE_EQ(d.ReplyNumber, c.value) << c.reply;
        EXPECT_TRUE(d.CommandInFlight.empty());
        EXPECT_FALSE(d.ReplyPendingEvent.IsSet());
    }
}

TEST_F(OmegaReplies, SetpointRepliesAreDecodedAndUnreadableOnesKeepTheCommandWaiting) {
    const struct {
        std::string command;
        std::string reply;
        double value;
    } cases[] = {
        {"*R01", "2000FA\r", 25.0},
        {"*R01", "A000FA\r", -25.0},
        {"*R02", "1000FA\r", 250.0},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(Answer(c.command, c.reply)) << c.reply;
        EXPECT_DOUBLE_EQ(d.ReplyNumber, c.value) << c.reply;
    }

    EXPECT_FALSE(Answer("*R01", "R012000FA\r")) << "an echoed read is not a set point";
    EXPECT_TRUE(d.ReplyPendingEvent.IsSet());
    d.Feed("2003E8\r");
    ASSERT_TRUE(d.Completed()) << "the next line still answers it";
    EXPECT_DOUBLE_EQ(d.ReplyNumber, 100.0);

    ASSERT_TRUE(Answer("*R08", "42\r"));
    EXPECT_EQ(d.ReplyValue, 0x42);
    // Only the exact command texts have parsers.
    EXPECT_FALSE(Answer("*R1", "2000FA\r"));
    EXPECT_FALSE(Answer("*R01 ", "2000FA\r"));
}

TEST_F(OmegaReplies, BusFormatReplyTellsWhetherTheControllerEchoes) {
    EXPECT_FALSE(Answer("*R1F", "*R1F\r")) << "the command line repeated back is skipped";
    d.Feed("R1F34\r");
    ASSERT_TRUE(d.Completed());
    EXPECT_TRUE(d.EchoMode());
    EXPECT_EQ(d.ReplyValue, 0x34);

    ASSERT_TRUE(Answer("*R1F", "30\r"));
    EXPECT_FALSE(d.EchoMode());

    d.Expect("*R1F");
    d.ReplyValue = 7;
    d.Feed("R1F\r");
    ASSERT_TRUE(d.Completed());
    EXPECT_TRUE(d.EchoMode());
    EXPECT_EQ(d.ReplyValue, 7) << "no digits: the value is left as it was";

    ASSERT_TRUE(Answer("*R1F", "\r")) << "even an empty line answers the identification";
    EXPECT_FALSE(d.EchoMode());
}

TEST_F(OmegaReplies, ARegisterReadTakesAnyReplyAsPlainHex) {
    d.RegisterReadPending = 1;
    ASSERT_TRUE(Answer("*X01", "025.3\r")) << "a pending read goes before the command's parser";
    EXPECT_EQ(d.ReplyValue, 0x25);
    d.ReplyNumber = 1.0;
    ASSERT_TRUE(Answer("*R01", "2000FA\r"));
    EXPECT_EQ(d.ReplyValue, 0x2000FA);
    EXPECT_DOUBLE_EQ(d.ReplyNumber, 1.0) << "read raw, not decoded";
    EXPECT_FALSE(Answer("*R01", "R012000FA\r")) << "an echoed read is not hex";
    EXPECT_FALSE(Answer("*R1F", "R1F34\r"));
}

TEST_F(OmegaReplies, WritesRestartsAndUnknownCommandsAreNeverAnswered) {
    for (const char* command : {"*W01  2000FA", "*W1F30", "*Z02", "*R05", ""}) {
        EXPECT_FALSE(Answer(command, "W01\r2000FA\r\r")) << command;
        EXPECT_TRUE(d.ReplyPendingEvent.IsSet()) << command;
    }
    d.Expect("*X01", /*pending=*/false);
    d.ReplyNumber = 1.0;
    d.Feed("025.3\r");
    EXPECT_FALSE(d.Completed()) << "nobody waits: unsolicited";
    EXPECT_DOUBLE_EQ(d.ReplyNumber, 1.0);
}

class AthenaReplies : public ::testing::Test {
protected:
    bool Answer(const std::string& command, const std::string& bytes) {
        d.Expect(command);
        d.Feed(bytes);
        return d.Completed();
    }
    ReplyFeeder<CAthena16TempController> d;
};

TEST_F(AthenaReplies, ReadingsAreWholeDegreesAfterTheirKey) {
    const struct {
        std::string command;
        std::string reply;
        std::optional<double> value;  // empty: dropped
    } cases[] = {
        {"#01R00", "#01R00=23\r\n", 23.0},
        {"#01R00", "#01R00=23.7\r\n", 23.0},
        {"#01R00", "#01R00=-5\r\n", -5.0},
        {"#01R01", "#01R01=25.0\r\n", 25.0},
        {"#01R00", "#01R01=25\r\n", std::nullopt},
        {"#01R00", "23.7\r\n", std::nullopt},
        {"#01R00", "#01R00=\r\n", std::nullopt},
        {"#01R00", "ERROR\r\n", std::nullopt},
        // The number is taken after the first seven characters, wherever the key stands.
        {"#01R00", "x#01R00=23\r\n", std::nullopt},
        {"#01XX", "#01XX=1\r\n", std::nullopt},
    };
    for (const auto& c : cases) {
        const bool completed = Answer(c.command, c.reply);
        ASSERT_EQ(completed, c.value.has_value()) << c.reply;
        if (completed) {
            EXPECT_DOUBLE_EQ(d.ReplyNumber, *c.value) << c.reply;
            EXPECT_EQ(d.ReplyValue, static_cast<int32_t>(*c.value)) << c.reply;
        }
    }
}

TEST_F(AthenaReplies, SetpointWriteIsConfirmedByTheNumberItEchoes) {
    ASSERT_TRUE(Answer("#01M01 25.0C", "#01M01 25.0C\r\n"));
    EXPECT_DOUBLE_EQ(d.ReplyNumber, 25.0);
    ASSERT_TRUE(Answer("#01M01 20.1C", "#01M0120.1\r\n"));
    EXPECT_DOUBLE_EQ(d.ReplyNumber, 20.1);
    EXPECT_FALSE(Answer("#01M01 25.0C", "#01M01\r\n"));
    EXPECT_FALSE(Answer("#01M01 25.0C", "ERROR\r\n"));
    EXPECT_FALSE(Answer("#01M01 25.0C", "25.0\r\n"));
}

TEST_F(AthenaReplies, IdentificationIsTheReplyFromItsFourthCharacter) {
    ASSERT_TRUE(Answer("#01?9", "#01 16DCB030\r\n"));
    EXPECT_EQ(d.IdentityText, L" 16DCB030");
    EXPECT_FALSE(Answer("#01?9", "16DCB030\r\n"));
    ASSERT_TRUE(Answer("#01?9", "#01\xE9\r\n"));
    EXPECT_EQ(d.IdentityText, L"\xE9") << "8-bit text widened byte by byte";
}

TEST_F(AthenaReplies, LinesEndAtLineFeedAndLoseTheCharacterBeforeIt) {
    d.Expect("#01R00");
    d.Feed("\n");
    EXPECT_FALSE(d.Completed()) << "a lone LF is no line";
    EXPECT_TRUE(d.ReceiveLine.empty());
    d.Feed("\r\n");
    EXPECT_FALSE(d.Completed()) << "nor is CR LF alone";
    EXPECT_EQ(d.ReceiveLine, "\r") << "its CR stays";
    // ... ahead of the next reply, whose number then falls outside the first seven characters.
    d.Feed("#01R00=23\r\n");
    EXPECT_FALSE(d.Completed());
    EXPECT_TRUE(d.ReceiveLine.empty());
    d.Feed("#01R00=24\r\n");
    ASSERT_TRUE(d.Completed());
    EXPECT_DOUBLE_EQ(d.ReplyNumber, 24.0);

    // A controller that ends with LF alone loses the last character instead of a CR.
    ASSERT_TRUE(Answer("#01R00", "#01R00=23\n"));
    EXPECT_DOUBLE_EQ(d.ReplyNumber, 2.0);
    // A CR inside the line is kept; the Omega's line end means nothing here.
    ASSERT_TRUE(Answer("#01R01", "#01R01=3\r1\r\n"));
    EXPECT_DOUBLE_EQ(d.ReplyNumber, 3.0);
}

TEST_F(AthenaReplies, AnEndlessLineIsBoundedAndThenDropped) {
    d.Expect("#01?9");
    const std::string chunk(1000, '#');
    for (int i = 0; i < 100; ++i) {
        d.Feed(chunk);
        ASSERT_LE(d.ReceiveLine.size(), CCommandChannel::kMaxReplyLine);
    }
    d.Feed("01\r\n");
    EXPECT_FALSE(d.Completed());
    EXPECT_TRUE(d.IdentityText.empty());
    d.Feed("#01 X\r\n");
    ASSERT_TRUE(d.Completed());
    EXPECT_EQ(d.IdentityText, L" X");
}

}  // namespace
