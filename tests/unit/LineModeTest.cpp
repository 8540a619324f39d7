#include <gtest/gtest.h>

#include "platform/LineMode.h"

namespace {

using platform::LineMode;
using platform::ParseLineMode;

TEST(LineMode, KeysInAnyOrderAndCaseAndMissingKeysLeftAlone) {
    const auto mode = ParseLineMode("  STOP=1.5\tData=5 PARITY=M baud=300 ");
    ASSERT_TRUE(mode.has_value());
    EXPECT_EQ(mode->baud, 300);
    EXPECT_EQ(mode->parity, LineMode::Parity::Mark);
    EXPECT_EQ(mode->dataBits, 5);
    EXPECT_EQ(mode->stopBits, LineMode::StopBits::OnePointFive);

    const auto partial = ParseLineMode("baud=115200");
    ASSERT_TRUE(partial.has_value());
    EXPECT_EQ(partial->baud, 115200);
    EXPECT_FALSE(partial->parity.has_value());
    EXPECT_FALSE(partial->dataBits.has_value());
    EXPECT_FALSE(partial->stopBits.has_value());
    EXPECT_TRUE(ParseLineMode("").has_value());
}

TEST(LineMode, RefusesWhatAPortCannotBeSetTo) {
    for (const char* bad :
         {"baud=0", "baud=-9600", "baud=96x0", "baud=", "baud=99999999999", "parity=x", "parity=no",
          "data=4", "data=9", "stop=0", "stop=3", "stop=1.0", "speed=9600", "baud 9600",
          "baud=9600 baud=9600", "=9600"}) {
        EXPECT_FALSE(ParseLineMode(bad).has_value()) << bad;
    }
}

}  // namespace
