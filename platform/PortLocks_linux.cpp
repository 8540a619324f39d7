#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/PortLocks.h"
#include "platform/RegularFile.h"

namespace platform {

namespace {

// Binary lock files hold a native int; text ones "%10d\n". Anything longer is not a lock file.
constexpr size_t kMaxLockFileBytes = 64;
// As many links as the kernel follows in one lookup.
constexpr int kMaxLinkHops = 40;
// How much of /proc/locks is read, and how many descriptors of other processes are looked at.
constexpr size_t kMaxProcLocksBytes = size_t{1} << 20;
constexpr int kMaxDescriptorsLookedAt = 1 << 16;

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

bool Alive(pid_t pid) {
    // EPERM: alive, only not ours to signal.
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

// The live process the lock file at path names; 0 when there is none, the file is stale or is no
// lock (a FIFO or a link planted under the name included); -1 when it is there but cannot be
// read, which leaves it to its writer.
pid_t LiveLockPid(const std::string& path) {
    // Never waiting and never through a link: a FIFO or a link planted under that name must not
    // stall or redirect us.
    const int fd = OpenRegularFile(path, O_RDONLY | O_NOFOLLOW);
    if (fd < 0) {
        return errno == EACCES ? -1 : 0;
    }
    std::string bytes;
    const int error = ReadUpTo(fd, kMaxLockFileBytes + 1, bytes);
    ::close(fd);
    if (error != 0) {
        return -1;
    }
    if (bytes.empty() || bytes.size() > kMaxLockFileBytes) {
        return 0;
    }
    const pid_t pid = LockFilePid(bytes.data(), bytes.size());
    return Alive(pid) ? pid : 0;
}

std::vector<std::string> LockDirectories() {
    const char* chosen = std::getenv("PRAVIK_LOCK_DIR");
    if (chosen != nullptr && *chosen != '\0') {
        return {chosen};
    }
    // Debian's /var/lock is a link to /run/lock; elsewhere either may be the one in use.
    return {"/run/lock", "/var/lock"};
}

std::string LockNameOf(const std::string& device) {
    constexpr std::string_view kDev = "/dev/";
    if (device.starts_with(kDev)) {
        std::string name = device.substr(kDev.size());
        std::ranges::replace(name, '/', '_');
        return name;
    }
    return std::filesystem::path(device).filename().string();
}

std::string ReadSmallFile(const std::string& path, size_t limit) {
    std::string bytes;
    const int fd = OpenRegularFile(path, O_RDONLY);
    if (fd >= 0) {
        ReadUpTo(fd, limit, bytes);
        ::close(fd);
    }
    return bytes;
}

// The process whose flock is on the device node, as /proc/locks gives it: the node's file
// system as major:minor in hex, then its inode.
pid_t FlockHolder(const std::string& device) {
    struct stat node {};
    if (::stat(device.c_str(), &node) != 0) {
        return 0;
    }
    const std::string locks = ReadSmallFile("/proc/locks", kMaxProcLocksBytes);
    size_t start = 0;
    while (start < locks.size()) {
        size_t end = locks.find('\n', start);
        end = end == std::string::npos ? locks.size() : end;
        const std::string line = locks.substr(start, end - start);
        start = end + 1;
        // "1: FLOCK  ADVISORY  WRITE 1234 00:1a:3 0 EOF"; a waiter's line has "->" for its type.
        char type[16] = {};
        int pid = 0;
        unsigned int majorNumber = 0;
        unsigned int minorNumber = 0;
        unsigned long long inode = 0;
        if (std::sscanf(line.c_str(), "%*d: %15s %*s %*s %d %x:%x:%llu", type, &pid, &majorNumber,
                        &minorNumber, &inode) == 5 &&
            std::strcmp(type, "FLOCK") == 0 && pid > 0 && majorNumber == major(node.st_dev) &&
            minorNumber == minor(node.st_dev) && inode == node.st_ino) {
            return pid;
        }
    }
    return 0;
}

// Another process with a descriptor on the device, among those whose descriptors we may see.
pid_t OpenerOf(const std::string& device) {
    const std::unique_ptr<DIR, int (*)(DIR*)> processes(::opendir("/proc"), ::closedir);
    if (!processes) {
        return 0;
    }
    const pid_t self = ::getpid();
    int looked = 0;
    while (const dirent* process = ::readdir(processes.get())) {
        const auto pid = static_cast<pid_t>(std::atoi(process->d_name));
        if (pid <= 0 || pid == self) {
            continue;
        }
        const std::string folder = "/proc/" + std::to_string(pid) + "/fd/";
        const std::unique_ptr<DIR, int (*)(DIR*)> fds(::opendir(folder.c_str()), ::closedir);
        while (fds) {
            const dirent* fd = ::readdir(fds.get());
            if (fd == nullptr) {
                break;
            }
            if (++looked > kMaxDescriptorsLookedAt) {
                return 0;
            }
            // The link's text is the path the kernel keeps: reading it touches no file system.
            char target[PATH_MAX];
            const ssize_t n = ::readlink((folder + fd->d_name).c_str(), target, sizeof target);
            if (n > 0 && std::string_view(target, static_cast<size_t>(n)) == device) {
                return pid;
            }
        }
    }
    return 0;
}

}  // namespace

// The device path leads to, its links followed one readlink() at a time and the result written
// without "." and ".."; empty for a loop.
// Not realpath() or canonical(): under umockdev's preload they crash on links out of its test bed.
std::string DevicePathBehind(const std::string& path) {
    std::filesystem::path at(path);
    for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
        char target[PATH_MAX];
        const ssize_t n = ::readlink(at.c_str(), target, sizeof target);
        if (n < 0) {
            return at.lexically_normal().string();  // not a link (or nothing there): the device
        }
        if (static_cast<size_t>(n) == sizeof target) {
            return {};
        }
        // An absolute target replaces the path; a relative one is taken from the link's folder.
        at = (at.parent_path() / std::string(target, static_cast<size_t>(n))).lexically_normal();
    }
    return {};
}

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
    return !deviceName.empty() && LiveLockPid(lockDirectory + "/LCK.." + deviceName) > 0;
}

std::string LockFileName(const std::string& devicePath) {
    const std::string device = DevicePathBehind(devicePath);
    return device.empty() ? std::string() : LockNameOf(device);
}

bool HeldByAnotherProgram(int fd, const std::string& devicePath) {
    int exclusive = 0;
    if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
        return true;
    }
    // Lock files are named after the device itself, whatever link led to it.
    const std::string name = LockFileName(devicePath);
    return std::ranges::any_of(LockDirectories(), [&name](const std::string& directory) {
        return LockFileNamesLiveProcess(directory, name);
    });
}

LockFileOutcome TakeLockFile(const std::string& devicePath, std::string& lockPath) {
    const std::string name = LockFileName(devicePath);
    const std::string directory = LockDirectories().front();
    // An ordinary user may not write there on some systems: flock and the exclusive flag still
    // keep everyone else out, only tools that look for lock files alone will not see us.
    if (name.empty() || ::access(directory.c_str(), W_OK) != 0) {
        return LockFileOutcome::NotTaken;
    }
    // Written whole under a name of its own, then linked to the lock's name: whoever looks finds
    // either no lock or a complete one, and link() fails where a lock exists already.
    std::string temporary = directory + "/LTMP.XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        return LockFileOutcome::NotTaken;
    }
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
    const bool written = ::fchmod(fd, 0644) == 0 && WriteAll(fd, text) == 0;
    const bool closed = ::close(fd) == 0;
    LockFileOutcome outcome = LockFileOutcome::NotTaken;
    const std::string path = directory + "/LCK.." + name;
    for (int attempt = 0; written && closed && attempt < 2; ++attempt) {
        if (::link(temporary.c_str(), path.c_str()) == 0) {
            outcome = LockFileOutcome::Taken;
            lockPath = path;
            break;
        }
        if (errno != EEXIST) {
            outcome = LockFileOutcome::NotTaken;  // a file system without hard links
            break;
        }
        // A live holder keeps it; a stale one is removed and taken over once. Another program
        // doing the same at the same moment may win, and then the port is theirs.
        outcome = LockFileOutcome::Held;
        if (attempt > 0 || LiveLockPid(path) != 0) {
            break;
        }
        ::unlink(path.c_str());
    }
    ::unlink(temporary.c_str());
    return outcome;
}

void ReleaseLockFile(const std::string& lockPath) {
    if (!lockPath.empty() && LiveLockPid(lockPath) == ::getpid()) {
        ::unlink(lockPath.c_str());
    }
}

std::optional<PortHolder> FindPortHolder(const std::string& devicePath) {
    const std::string device = DevicePathBehind(devicePath);
    if (device.empty()) {
        return std::nullopt;
    }
    const std::string lockName = "/LCK.." + LockNameOf(device);
    pid_t pid = 0;
    for (const std::string& directory : LockDirectories()) {
        if (pid <= 0) {
            pid = LiveLockPid(directory + lockName);
        }
    }
    pid = pid > 0 ? pid : FlockHolder(device);
    pid = pid > 0 ? pid : OpenerOf(device);
    if (pid <= 0) {
        return std::nullopt;
    }
    std::string program = ReadSmallFile("/proc/" + std::to_string(pid) + "/comm", 64);
    while (!program.empty() && program.back() == '\n') {
        program.pop_back();
    }
    return PortHolder{pid, program.empty() ? "another program" : program};
}

std::string InUseBy(const PortHolder& holder) {
    return "in use by " + holder.program + " (" + std::to_string(holder.pid) + ")";
}

}  // namespace platform
