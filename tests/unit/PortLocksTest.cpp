#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>

#include "platform/PortLocks.h"

namespace {

std::string Binary(int pid) {
    return std::string(reinterpret_cast<const char*>(&pid), sizeof pid);
}

// Lock files are written by other programs, in two formats, and outlive them when they crash:
// one counts only while the process it names is alive, and whatever is in it is read safely. Its
// name is the device's path below /dev with '/' as '_' (else its base name).
TEST(UucpLockFile, IsNamedAfterTheDeviceAndCountsOnlyWhileItsProcessIsAlive) {
    char pattern[] = "/tmp/pravik-test-XXXXXX";  // two folders below /, for the links below
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    const int self = static_cast<int>(::getpid());
    constexpr int kNoSuchProcess = 2'147'483'000;  // far above any pid_max
    char padded[16];
    std::snprintf(padded, sizeof padded, "%10d\n", self);

    struct Case {
        const char* what;
        std::string contents;
        bool held;
    };
    const Case cases[] = {
        {"text, as HDB UUCP writes it", padded, true},
        {"text, unpadded", std::to_string(self), true},
        {"binary, as older programs write it", Binary(self), true},
        {"a process that is not ours to signal", "1\n", true},
        {"stale text", std::to_string(kNoSuchProcess) + "\n", false},
        {"stale binary", Binary(kNoSuchProcess), false},
        {"empty", "", false},
        {"not a pid", "minicom\n", false},
        {"pid 0", "0\n", false},
        {"negative binary", Binary(-5), false},
        {"more digits than an int", "99999999999\n", false},
        {"far too long for a lock file", std::string(100, ' ') + std::to_string(self), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::ofstream(dir + "/LCK..ttyUSB9", std::ios::binary | std::ios::trunc) << c.contents;
        EXPECT_EQ(platform::LockFileNamesLiveProcess(dir, "ttyUSB9"), c.held);
        EXPECT_FALSE(platform::LockFileNamesLiveProcess(dir, "ttyUSB1")) << "another device's";
    }
    // Something planted under a lock file's name is not read: a FIFO would block a plain open.
    ASSERT_EQ(::mkfifo((dir + "/LCK..ttyUSB8").c_str(), 0600), 0);
    EXPECT_FALSE(platform::LockFileNamesLiveProcess(dir, "ttyUSB8"));

    // Named after the device the links lead to (relative ones from their folder), as others do it.
    const std::tuple<const char*, const char*, const char*> links[] = {
        {"by-id", "../../dev/pts/9", "pts_9"},
        {"COM3", "by-id", "pts_9"},
        {"loop", "loop", ""},
        {"up", "/dev/serial/../ttyUSB7", "ttyUSB7"},
        {"odd", "/opt/ttyX", "ttyX"},
    };
    for (const auto& [link, target, name] : links) {
        ASSERT_EQ(::symlink(target, (dir + "/" + link).c_str()), 0);
        EXPECT_EQ(platform::LockFileName(dir + "/" + link), name) << link;
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
