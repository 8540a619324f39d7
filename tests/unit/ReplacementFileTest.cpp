// A file replaced only by a complete new one, when the disk fills up half-way through.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/ReplacementFile.h"

namespace {

// A full disk, made cheaply: a child process whose files may not grow past 512 bytes writes
// 4 KiB. Only the child has the limit, so nothing else of the test run can run into it.
TEST(ReplacementFile, ADiskThatFillsUpLeavesTheOldFileAndNothingBesideIt) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("pravik-replace-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::filesystem::path target = folder / "settings.txt";
    const std::string good(1041, 'g');
    std::ofstream(target, std::ios::binary) << good;

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit small{512, 512};
        std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
        platform::CReplacementFile file;
        const bool created = ::setrlimit(RLIMIT_FSIZE, &small) == 0 && file.Create(target) == 0;
        ::_exit(created && file.Commit(std::string(4096, 'n')) == EFBIG ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::ostringstream contents;
    contents << std::ifstream(target, std::ios::binary).rdbuf();
    EXPECT_EQ(contents.str(), good);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);
    std::filesystem::remove_all(folder);
}

}  // namespace
