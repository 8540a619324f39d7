#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/PortNames.h"
#include "support/TestPortDirectory.h"

namespace {

using platform::PortDevicePath;

class PortNames : public testing_support::PortDirectoryTest {};

TEST_F(PortNames, DefaultRangesCoverThreeKindsOfDevice) {
    EXPECT_EQ(PortDevicePath(1), "/dev/ttyS0");
    EXPECT_EQ(PortDevicePath(32), "/dev/ttyS31");
    EXPECT_EQ(PortDevicePath(33), "/dev/ttyUSB0");
    EXPECT_EQ(PortDevicePath(64), "/dev/ttyUSB31");
    EXPECT_EQ(PortDevicePath(65), "/dev/ttyACM0");
    EXPECT_EQ(PortDevicePath(96), "/dev/ttyACM31");
    EXPECT_FALSE(PortDevicePath(97).has_value());
    EXPECT_FALSE(PortDevicePath(0).has_value());
    EXPECT_FALSE(PortDevicePath(-3).has_value());
}

TEST_F(PortNames, AnEntryInThePortDirectoryWinsEvenWhenItsTargetIsGone) {
    const std::string entry = PortDir() + "/COM5";
    ASSERT_EQ(::symlink("/nonexistent/device", entry.c_str()), 0);
    EXPECT_EQ(PortDevicePath(5), entry);
    EXPECT_EQ(PortDevicePath(6), "/dev/ttyS5");
    EXPECT_EQ(platform::PortDirectory(), PortDir());
}

TEST(PortDirectory, FallsBackToTheRuntimeDirectoryThenTmp) {
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string savedValue = saved ? saved : "";
    ::unsetenv("PRAVIK_PORT_DIR");
    ::setenv("XDG_RUNTIME_DIR", "/run/user/1234", 1);
    EXPECT_EQ(platform::PortDirectory(), "/run/user/1234/pravik/ports");
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(platform::PortDirectory(), "/tmp/pravik-" + std::to_string(::getuid()) + "/ports");
    if (saved) {
        ::setenv("XDG_RUNTIME_DIR", savedValue.c_str(), 1);
    }
}

}  // namespace
