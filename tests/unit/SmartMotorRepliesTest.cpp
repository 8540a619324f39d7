// The motor's echo handling, reply parsing and fault path, fed captured lines with no port.
#include <gtest/gtest.h>

#include "devices/SmartMotor.h"
#include "support/ReplyFeeder.h"

namespace {

class MotorReplies : public ::testing::Test {
protected:
    // A command in flight with its echo already seen, waiting for its reply.
    void Expect(const std::string& command) {
        motor.Expect(command);
        motor.EchoPendingEvent.Reset();
        motor.FaultEvent.Reset();
    }
    testing_support::ReplyFeeder<CSmartMotor> motor;
};

TEST_F(MotorReplies, TheFirstLineAfterACommandIsItsEchoAndOnlyAnEqualLineCounts) {
    motor.Expect("g=3");
    motor.EchoPendingEvent.Set();
    motor.Feed("g=3\r\n");
    EXPECT_TRUE(motor.EchoReceivedEvent.IsSet());
    EXPECT_FALSE(motor.EchoPendingEvent.IsSet());
    EXPECT_FALSE(motor.Completed()) << "an echo is not a reply";

    motor.Expect("GOSUB4");
    motor.EchoReceivedEvent.Reset();
    motor.EchoPendingEvent.Set();
    motor.Feed("FILT:2\r");  // the echo was lost: this line takes its place and is spent
    EXPECT_FALSE(motor.EchoReceivedEvent.IsSet());
    EXPECT_FALSE(motor.EchoPendingEvent.IsSet());
    EXPECT_FALSE(motor.Completed());
}

TEST_F(MotorReplies, SubroutineRepliesAreReadByTheirPatterns) {
    struct Case {
        const char* command;
        const char* line;
        int32_t value;
    };
    const Case cases[] = {
        {"GOSUB4", "FILT:5", 5},    {"GOSUB6", "SHTR:1", 1},  {"GOSUB1", "SHTR: 0", 0},
        {"GOSUB0", "LIGHT:-1", -1}, {"GOSUB4", "FILT:x", 77}, {"GOSUB6", "SHUTTER:1", 77},
        {"RP", "  -12345", -12345},
    };
    for (const Case& c : cases) {
        Expect(c.command);
        motor.ReplyValue = 77;
        motor.Feed(std::string(c.line) + "\r\n");
        ASSERT_TRUE(motor.Completed()) << c.command << " " << c.line;
        EXPECT_EQ(motor.ReplyValue, c.value) << c.command << " " << c.line;
    }
    Expect("RPA");
    motor.Feed("not a number\r");
    ASSERT_TRUE(motor.Completed());
    EXPECT_EQ(motor.ReplyValid, 0);
}

TEST_F(MotorReplies, ResetCountsItsLinesAndChecksTheBanner) {
    Expect("Z");
    motor.Feed("** Zel Dozivazoro Ltd. **\r\nProgram 5.2\r\nHoming\r\n");
    EXPECT_FALSE(motor.Completed());
    motor.Feed("HOME:1\r\n");
    ASSERT_TRUE(motor.Completed());
    EXPECT_EQ(motor.ReplyValid, 1);
    EXPECT_EQ(motor.ReplyValue, 4);

    Expect("Z");
    motor.Feed("** Someone Else **\rHOME:1\r");
    ASSERT_TRUE(motor.Completed());
    EXPECT_EQ(motor.ReplyValid, 0);
}

TEST_F(MotorReplies, IdentificationWaitsForAReadableHeader) {
    Expect("GOSUB100");
    motor.InfoHeaderSeen = 0;
    motor.Feed("garbage\r");
    EXPECT_FALSE(motor.Completed());
    EXPECT_EQ(motor.InfoHeaderSeen, 0);
    motor.Feed("2\rnof=8\rdev=pellam\r");
    ASSERT_TRUE(motor.Completed());
    EXPECT_EQ(motor.InstrumentInfo.NumberOfFilters, 8);
    EXPECT_EQ(motor.InstrumentInfo.InstrumentModel, 4);
}

TEST_F(MotorReplies, FatalFailsTheCommandAndTheFaultReportIsCollected) {
    Expect("GOSUB4");
    motor.Feed("FATAL: position error\r");
    EXPECT_TRUE(motor.Completed());
    EXPECT_TRUE(motor.FaultEvent.IsSet());

    Expect("GOSUB9");
    motor.FaultText = "stale";
    motor.Feed("Fault report\r\nxxx=1\r\n");
    EXPECT_FALSE(motor.Completed());
    motor.Feed("yyy=17\r\n");
    ASSERT_TRUE(motor.Completed());
    EXPECT_EQ(motor.FaultText, "Fault report\r\nxxx=1\r\nyyy=17\r\n");

    // A report that never ends is kept within its bound.
    Expect("GOSUB9");
    const std::string line(200, 'q');
    for (int i = 0; i < 1000; ++i) {
        motor.Feed(line + "\r");
    }
    EXPECT_FALSE(motor.Completed());
    EXPECT_LE(motor.FaultText.size(), CSmartMotor::kMaxFaultText);
}

}  // namespace
