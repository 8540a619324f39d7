#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "platform/PortNames.h"

namespace platform {

namespace {

// Where the port directory is: an anchor the program takes as it is (/tmp, the user's state or
// runtime directory), which must only belong to the user or to root, and the folders below it
// that the program makes, each of which must be the user's own and writable by nobody else.
struct Place {
    std::string path;
    std::string anchor;
    std::vector<std::string> below;
};

Place Split(std::string path) {
    Place place{path, {}, {}};
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        place.anchor = ".";
        place.below = {path};
    } else {
        place.anchor = slash == 0 ? "/" : path.substr(0, slash);
        place.below = {path.substr(slash + 1)};
    }
    return place;
}

const char* AbsoluteEnv(const char* name) {
    // Relative XDG paths are invalid and must be ignored.
    const char* value = std::getenv(name);
    return value != nullptr && value[0] == '/' ? value : nullptr;
}

std::string HomeDirectory() {
    if (const char* home = AbsoluteEnv("HOME")) {
        return home;
    }
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found &&
        found->pw_dir && found->pw_dir[0] == '/') {
        return found->pw_dir;
    }
    return {};
}

Place CurrentPlace() {
    if (const char* dir = std::getenv("PRAVIK_PORT_DIR"); dir != nullptr && *dir != '\0') {
        return Split(dir);
    }
    if (const char* runtime = AbsoluteEnv("XDG_RUNTIME_DIR")) {
        return {std::string(runtime) + "/pravik/ports", runtime, {"pravik", "ports"}};
    }
    if (const char* state = AbsoluteEnv("XDG_STATE_HOME")) {
        return {std::string(state) + "/pravik/ports", state, {"pravik", "ports"}};
    }
    const std::string home = HomeDirectory();
    if (home.empty()) {
        return {};
    }
    const std::string state = home + "/.local/state";
    return {state + "/pravik/ports", state, {"pravik", "ports"}};
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    Descriptor& operator=(Descriptor&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }

private:
    int fd_;
};

struct Verdict {
    enum Kind { Safe, Absent, Unsafe } kind;
    std::string detail;  // for Unsafe: which folder, and what is wrong with it
};

Verdict Unsafe(const std::string& folder, const std::string& what) {
    return {Verdict::Unsafe, folder + " " + what};
}

void MakeAnchor(const std::string& anchor) {
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = anchor.find('/', pos + 1);
        const std::string partial = anchor.substr(0, pos);
        ::mkdir(partial.c_str(), 0700);  // whatever fails shows when the anchor is opened
    }
}

// Walks from the anchor down, folder by folder, through descriptors: what is checked is what is
// used, and a symlink put in place of a folder is never followed.
Verdict Inspect(const Place& place, bool create) {
    if (place.path.empty()) {
        return {Verdict::Absent, {}};
    }
    if (create) {
        MakeAnchor(place.anchor);
    }
    Descriptor dir(::open(place.anchor.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0) {
        const int err = errno;
        if (!create && (err == ENOENT || err == ENOTDIR)) {
            return {Verdict::Absent, {}};
        }
        return Unsafe(place.anchor, std::string("cannot be opened (") + std::strerror(err) + ")");
    }
    // Whoever owns the anchor can rename what is in it, our folder included. Root's own /tmp is
    // fine; a root shell that kept another user's variables is not. Its mode is not judged: a
    // home shared only with the user's private group is group-writable on many systems.
    struct stat anchor;
    if (::fstat(dir.get(), &anchor) != 0) {
        return Unsafe(place.anchor,
                      std::string("cannot be checked (") + std::strerror(errno) + ")");
    }
    if (anchor.st_uid != ::geteuid() && anchor.st_uid != 0) {
        return Unsafe(place.anchor,
                      "belongs to another user (uid " + std::to_string(anchor.st_uid) + ")");
    }
    std::string folder = place.anchor == "/" ? "" : place.anchor;
    for (const std::string& name : place.below) {
        folder += "/" + name;
        if (create && ::mkdirat(dir.get(), name.c_str(), 0700) != 0 && errno != EEXIST) {
            return Unsafe(folder, std::string("cannot be made (") + std::strerror(errno) + ")");
        }
        Descriptor next(
            ::openat(dir.get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat st;
        if (next.get() < 0) {
            const int err = errno;
            if (err == ENOENT && !create) {
                return {Verdict::Absent, {}};
            }
            if (::fstatat(dir.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
                if (S_ISLNK(st.st_mode)) {
                    return Unsafe(folder, "is a symbolic link, not a folder");
                }
                if (!S_ISDIR(st.st_mode)) {
                    return Unsafe(folder, "is not a folder");
                }
            }
            return Unsafe(folder, std::string("cannot be checked (") + std::strerror(err) + ")");
        }
        if (::fstat(next.get(), &st) != 0) {
            return Unsafe(folder, std::string("cannot be checked (") + std::strerror(errno) + ")");
        }
        if (st.st_uid != ::geteuid()) {
            return Unsafe(folder,
                          "belongs to another user (uid " + std::to_string(st.st_uid) + ")");
        }
        if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
            char mode[8];
            std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
            return Unsafe(folder, std::string("can be written by other users (mode ") + mode + ")");
        }
        dir = std::move(next);
    }
    return {Verdict::Safe, {}};
}

std::string WarningFor(const Place& place, const Verdict& verdict) {
    return "Ignoring the port folder " + place.path + ": " + verdict.detail +
           ". Ports use their default /dev names until the folder is yours alone.";
}

// Every lookup checks the folder again (it can change while the program runs), but a person
// needs to read about it only once.
void WarnOnce(const std::string& text) {
    static std::mutex mutex;
    static std::set<std::string> told;
    std::lock_guard lock(mutex);
    if (told.insert(text).second) {
        std::fprintf(stderr, "pravik: %s\n", text.c_str());
    }
}

}  // namespace

std::string PortDirectory() {
    return CurrentPlace().path;
}

std::string PortDirectoryWarning() {
    const Place place = CurrentPlace();
    const Verdict verdict = Inspect(place, false);
    if (verdict.kind != Verdict::Unsafe) {
        return {};
    }
    std::string text = WarningFor(place, verdict);
    WarnOnce(text);
    return text;
}

bool MakePortDirectory(const std::string& path, std::string& error) {
    Place place = CurrentPlace();
    if (place.path != path) {
        place = Split(path);
    }
    const Verdict verdict = Inspect(place, true);
    if (verdict.kind == Verdict::Safe) {
        return true;
    }
    error = "refusing to publish ports in " + path + ": " + verdict.detail + ".";
    return false;
}

std::optional<std::string> PortDirectoryEntry(int portNumber) {
    if (portNumber <= 0) {
        return std::nullopt;
    }
    const Place place = CurrentPlace();
    const Verdict verdict = Inspect(place, false);
    if (verdict.kind == Verdict::Safe) {
        std::string entry = place.path + "/COM" + std::to_string(portNumber);
        struct stat st;
        // lstat: a dangling link (the simulator's device was unplugged) still names this port,
        // and opening it then reports "no such port", which is the truth.
        if (::lstat(entry.c_str(), &st) == 0) {
            return entry;
        }
    } else if (verdict.kind == Verdict::Unsafe) {
        WarnOnce(WarningFor(place, verdict));
    }
    return std::nullopt;
}

std::vector<std::pair<int, std::string>> PortDirectoryEntries() {
    std::vector<std::pair<int, std::string>> entries;
    const Place place = CurrentPlace();
    const Verdict verdict = Inspect(place, false);
    if (verdict.kind == Verdict::Unsafe) {
        WarnOnce(WarningFor(place, verdict));
    }
    if (verdict.kind != Verdict::Safe) {
        return entries;
    }
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(place.path, error)) {
        const std::string name = entry.path().filename().string();
        int number = 0;
        const char* end = name.data() + name.size();
        if (name.starts_with("COM") && name.size() > 3) {
            const auto [next, ec] = std::from_chars(name.data() + 3, end, number);
            if (ec == std::errc() && next == end && number > 0) {
                entries.emplace_back(number, entry.path().string());
            }
        }
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

}  // namespace platform
