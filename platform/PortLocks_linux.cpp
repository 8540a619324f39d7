#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/PortLocks.h"
#include "platform/RegularFile.h"

namespace platform {

namespace {

// Binary lock files hold a native int; text ones "%10d\n". Anything longer is not a lock file.
constexpr size_t kMaxLockFileBytes = 64;

// The pid written as text, 0 for text naming no pid, -1 when the bytes are not text.
pid_t TextPid(const char* bytes, size_t size) {
    size_t i = 0;
    while (i < size && std::isspace(static_cast<unsigned char>(bytes[i]))) {
        ++i;
    }
    long pid = 0;
    size_t digits = 0;
    for (; i < size && std::isdigit(static_cast<unsigned char>(bytes[i])); ++i, ++digits) {
        pid = pid * 10 + (bytes[i] - '0');
        if (pid > INT_MAX) {
            return 0;  // text, but no pid
        }
    }
    while (i < size && std::isspace(static_cast<unsigned char>(bytes[i]))) {
        ++i;
    }
    return digits > 0 && i == size ? static_cast<pid_t>(pid) : -1;
}

}  // namespace

// A binary pid can look like text at first ("90\0\0" is 12345), so text is tried whole before
// the bytes are taken as an int.
pid_t LockFilePid(const char* bytes, size_t size) {
    if (const pid_t pid = TextPid(bytes, size); pid >= 0) {
        return pid;
    }
    if (size == sizeof(int)) {
        int pid = 0;
        std::memcpy(&pid, bytes, sizeof pid);
        return pid > 0 ? pid : 0;
    }
    return 0;
}

bool LockFileNamesLiveProcess(const std::string& lockDirectory, const std::string& deviceName) {
    if (deviceName.empty()) {
        return false;
    }
    // Never waiting and never through a link: a FIFO or a link planted under that name must not
    // stall or redirect us.
    const int fd = OpenRegularFile(lockDirectory + "/LCK.." + deviceName, O_RDONLY | O_NOFOLLOW);
    if (fd < 0) {
        return false;
    }
    std::string bytes;
    const int error = ReadUpTo(fd, kMaxLockFileBytes + 1, bytes);
    ::close(fd);
    if (error != 0 || bytes.empty() || bytes.size() > kMaxLockFileBytes) {
        return false;
    }
    const pid_t pid = LockFilePid(bytes.data(), bytes.size());
    // EPERM: alive, only not ours to signal.
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

bool HeldByAnotherProgram(int fd, const std::string& devicePath) {
    int exclusive = 0;
    if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
        return true;
    }
    // Lock files are named after the device itself, whatever link led to it.
    std::string real = devicePath;
    for (int hop = 0; hop < 16; ++hop) {
        char target[4096];
        const ssize_t size = ::readlink(real.c_str(), target, sizeof target - 1);
        if (size < 0) {
            break;
        }
        std::string next(target, static_cast<size_t>(size));
        real = next.starts_with('/') ? next : real.substr(0, real.rfind('/') + 1) + next;
    }
    const std::string name = real.substr(real.rfind('/') + 1);
    constexpr std::array<const char*, 2> kLockDirectories = {"/run/lock", "/var/lock"};
    return std::ranges::any_of(kLockDirectories, [&name](const char* directory) {
        return LockFileNamesLiveProcess(directory, name);
    });
}

}  // namespace platform
