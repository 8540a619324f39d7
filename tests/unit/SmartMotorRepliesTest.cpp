// The motor driver's reply parsing, fed what a simulated motor does not send: answers that do not
// fit, a foreign banner, an unreadable identification header, a fault report that never ends.
#include <gtest/gtest.h>

#include "devices/SmartMotor.h"
#include "support/ReplyFeeder.h"

namespace {

using Motor = testing_support::ReplyFeeder<CSmartMotor>;

TEST(MotorReplies, EachCommandsReplyIsReadByItsOwnPattern) {
    struct Case {
        const char* command;
        std::string lines;
        bool complete;
        int32_t value;  // 77 before the lines: an unreadable answer leaves it
        int32_t valid;
    };
    const std::string banner = "** Zel Dozivazoro Ltd. **\r\n";
    const Case cases[] = {
        {"GOSUB4", "FILT:x\r\n", true, 77, 0},
        {"GOSUB6", "SHUTTER:1\r\n", true, 77, 0},
        {"GOSUB1", "SHTR: 0\r\n", true, 0, 0},
        {"RP", "  -12345\r\n", true, -12345, 1},
        {"RPA", "not a number\r", true, 77, 0},
        // A restart counts its lines from 0 and checks the first is the banner.
        {"Z", banner + "Program 5.2\r\nHoming\r\n", false, 3, 1},
        {"Z", banner + "Program 5.2\r\nHoming\r\nHOME:1\r\n", true, 4, 1},
        {"Z", "** Someone Else **\rHOME:1\r", true, 2, 0},
        // The identification waits for a readable count before its lines.
        {"GOSUB100", "garbage\r", false, 77, 0},
        {"GOSUB100", "garbage\r2\rnof=8\rdev=pellam\r", true, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command + (" " + c.lines));
        Motor motor;
        motor.Expect(c.command);
        motor.ReplyValue = c.command[0] == 'Z' ? 0 : 77;
        motor.Feed(c.lines);
        EXPECT_EQ(motor.Completed(), c.complete);
        EXPECT_EQ(motor.ReplyValue, c.value);
        EXPECT_EQ(motor.ReplyValid, c.valid);
        EXPECT_FALSE(motor.FaultEvent.IsSet());
        if (c.complete && c.command == std::string("GOSUB100")) {
            EXPECT_EQ(motor.InstrumentInfo.NumberOfFilters, 8);
            EXPECT_EQ(motor.InstrumentInfo.InstrumentModel, 4);
        }
    }
}

TEST(MotorReplies, AFaultReportThatNeverEndsIsKeptWithinItsBound) {
    Motor motor;
    motor.Expect("GOSUB9");
    for (int i = 0; i < 1000; ++i) {
        motor.Feed(std::string(200, 'q') + "\r");
    }
    EXPECT_FALSE(motor.Completed());
    EXPECT_LE(motor.FaultText.size(), CSmartMotor::kMaxFaultText);
    motor.Feed("yyy=17\r");
    EXPECT_TRUE(motor.Completed()) << "its end still completes it";
}

}  // namespace
