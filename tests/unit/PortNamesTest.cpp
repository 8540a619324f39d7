#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>

#include "platform/PortNames.h"
#include "platform/PortTable.h"
#include "sim/ShutterControllerSim.h"
#include "support/TestPortDirectory.h"

namespace {

using platform::DefaultPortDevicePath;
using platform::PortDevicePath;
using testing::HasSubstr;
using testing::IsEmpty;

class PortNames : public testing_support::PortDirectoryTest {};

TEST_F(PortNames, DefaultRangesCoverThreeKindsOfDevice) {
    EXPECT_EQ(DefaultPortDevicePath(1), "/dev/ttyS0");
    EXPECT_EQ(DefaultPortDevicePath(32), "/dev/ttyS31");
    EXPECT_EQ(DefaultPortDevicePath(33), "/dev/ttyUSB0");
    EXPECT_EQ(DefaultPortDevicePath(64), "/dev/ttyUSB31");
    EXPECT_EQ(DefaultPortDevicePath(65), "/dev/ttyACM0");
    EXPECT_EQ(DefaultPortDevicePath(96), "/dev/ttyACM31");
    EXPECT_FALSE(PortDevicePath(97).has_value());
    EXPECT_FALSE(PortDevicePath(0).has_value());
    EXPECT_FALSE(PortDevicePath(-3).has_value());
}

TEST_F(PortNames, AnEntryInThePortDirectoryWinsEvenWhenItsTargetIsGone) {
    const std::string entry = PortDir() + "/COM5";
    ::unlink(entry.c_str());
    ::unlink((PortDir() + "/COM6").c_str());
    ASSERT_EQ(::symlink("/nonexistent/device", entry.c_str()), 0);
    EXPECT_EQ(PortDevicePath(5), entry);
    EXPECT_NE(PortDevicePath(6), PortDir() + "/COM6") << "removed from the folder";
    EXPECT_EQ(platform::PortDirectory(), PortDir());
}

// Sets the variables the port directory is found by for one test, and puts them back after.
class PortDirectoryPlace : public ::testing::Test {
protected:
    void SetUp() override {
        for (size_t i = 0; i < std::size(kNames); ++i) {
            const char* value = std::getenv(kNames[i]);
            saved_[i] = value ? std::optional<std::string>(value) : std::nullopt;
        }
        char pattern[] = "/tmp/pravik-test-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        base_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(base_, ignored);
        for (size_t i = 0; i < std::size(kNames); ++i) {
            if (saved_[i]) {
                ::setenv(kNames[i], saved_[i]->c_str(), 1);
            } else {
                ::unsetenv(kNames[i]);
            }
        }
    }
    static void Set(const char* name, const std::string& value) {
        ::setenv(name, value.c_str(), 1);
    }

    static constexpr const char* kNames[] = {"PRAVIK_PORT_DIR", "XDG_RUNTIME_DIR", "XDG_STATE_HOME",
                                             "HOME"};
    std::optional<std::string> saved_[std::size(kNames)];
    std::string base_;
};

TEST_F(PortDirectoryPlace, FallsBackToTheRuntimeDirectoryThenTheUsersOwnStateNeverTmp) {
    ::unsetenv("PRAVIK_PORT_DIR");
    Set("XDG_RUNTIME_DIR", "/run/user/1234");
    EXPECT_EQ(platform::PortDirectory(), "/run/user/1234/pravik/ports");
    ::unsetenv("XDG_RUNTIME_DIR");
    Set("XDG_STATE_HOME", "/home/tech/state");
    EXPECT_EQ(platform::PortDirectory(), "/home/tech/state/pravik/ports");
    Set("XDG_STATE_HOME", "relative/state");  // not a valid XDG path: ignored
    Set("HOME", "/home/tech");
    EXPECT_EQ(platform::PortDirectory(), "/home/tech/.local/state/pravik/ports");
}

// A folder another user made first, or can write to, must not decide which device is COM5: its
// entries are ignored with a warning, COM5 is the default device again, and the simulator will
// not publish there. Checked for the port folder and for the folder the program makes above it.
TEST_F(PortDirectoryPlace, IsUsedOnlyWhileItAndItsMadeFoldersAreTheUsersAlone) {
    struct Case {
        const char* what;
        const char* folder;  // the one made wrong, under the runtime directory
        mode_t mode;
        bool otherOwner;
        bool symlink;
        bool namedByVariable;  // PRAVIK_PORT_DIR rather than the runtime directory
        const char* says;      // nothing: the folder is used
    };
    const Case cases[] = {
        {"private", "pravik/ports", 0700, false, false, false, nullptr},
        {"readable by others", "pravik/ports", 0755, false, false, false, nullptr},
        {"named by the variable", "pravik/ports", 0700, false, false, true, nullptr},
        {"world-writable", "pravik/ports", 0777, false, false, false, "(mode 0777)"},
        {"world-writable, named by the variable", "pravik/ports", 0777, false, false, true,
         "(mode 0777)"},
        {"group-writable folder above", "pravik", 0770, false, false, false,
         "pravik can be written"},
        {"another user's", "pravik/ports", 0700, true, false, false,
         "belongs to another user (uid 1500)"},
        {"another user's folder above", "pravik", 0755, true, false, false, "pravik belongs to"},
        {"a symlink to a private folder", "pravik/ports", 0700, false, true, false,
         "is a symbolic link"},
        {"group-writable directory it is made in", ".", 0770, false, false, false, nullptr},
        {"another user's runtime directory", ".", 0700, true, false, false, "belongs to another"},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.otherOwner && ::geteuid() != 0) {
            continue;  // only root can give a folder away
        }
        const std::string root = base_ + "/" + std::to_string(index++);
        const std::string portDir = root + "/pravik/ports";
        const std::string real = c.symlink ? root + "/elsewhere" : portDir;
        ASSERT_EQ(::mkdir(root.c_str(), 0700), 0);
        ASSERT_EQ(::mkdir((root + "/pravik").c_str(), 0700), 0);
        ASSERT_EQ(::mkdir(real.c_str(), 0700), 0);
        if (c.symlink) {
            ASSERT_EQ(::symlink(real.c_str(), portDir.c_str()), 0);
        }
        ASSERT_EQ(::symlink("/nonexistent/adapter", (real + "/COM5").c_str()), 0);
        const std::string wrong = root + "/" + c.folder;
        ASSERT_EQ(::chmod(wrong.c_str(), c.mode), 0);
        if (c.otherOwner) {
            ASSERT_EQ(::lchown(wrong.c_str(), 1500, 1500), 0);
        }
        if (c.namedByVariable) {
            Set("PRAVIK_PORT_DIR", portDir);
        } else {
            ::unsetenv("PRAVIK_PORT_DIR");
            Set("XDG_RUNTIME_DIR", root);
        }
        ASSERT_EQ(platform::PortDirectory(), portDir);

        const bool safe = c.says == nullptr;
        EXPECT_EQ(PortDevicePath(5) == portDir + "/COM5", safe);
        if (safe) {
            EXPECT_THAT(platform::PortDirectoryWarning(), IsEmpty());
        } else {
            EXPECT_THAT(platform::PortDirectoryWarning(),
                        AllOf(HasSubstr("Ignoring the port folder " + portDir), HasSubstr(c.says)));
        }
        sim::CShutterControllerSim device(testing_support::kFirstTestPort, portDir);
        EXPECT_EQ(device.Start(), safe);
        EXPECT_EQ(std::filesystem::is_symlink(real + "/COM" +
                                              std::to_string(testing_support::kFirstTestPort)),
                  safe);
    }
}

}  // namespace
