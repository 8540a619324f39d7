#include <gtest/gtest.h>

#include "platform/Version.h"

namespace {

TEST(Version, TheFourthNumberShowsOnlyWhenAboveZero) {
    EXPECT_EQ(FormatVersion("3.1.4.0"), "3.1.4");
    EXPECT_EQ(FormatVersion("3.1.4.5"), "3.1.4.5");
    EXPECT_EQ(FormatVersion("3.1.4"), "3.1.4");
    EXPECT_EQ(FormatVersion("3.1"), "3.1.0") << "missing numbers count as 0";
    EXPECT_EQ(FormatVersion(""), "0.0.0");
    EXPECT_EQ(FormatVersion("2.x.7"), "2.0.0") << "reading stops at what is not a number";
    EXPECT_EQ(FormatVersion("1.2.3.-4"), "1.2.3");
    EXPECT_EQ(FormatVersion("99999999999.1.1"), "2147483647.1.1");
    EXPECT_EQ(ProgramVersion(), FormatVersion(PRAVIK_VERSION));
}

}  // namespace
