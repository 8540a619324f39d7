#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/PortNames.h"

namespace platform {

std::string PortDirectory() {
    if (const char* dir = std::getenv("PRAVIK_PORT_DIR"); dir != nullptr && *dir != '\0') {
        return dir;
    }
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        runtime != nullptr && *runtime != '\0') {
        return std::string(runtime) + "/pravik/ports";
    }
    return "/tmp/pravik-" + std::to_string(::getuid()) + "/ports";
}

std::optional<std::string> DefaultPortDevicePath(int portNumber) {
    struct Range {
        int first;
        const char* prefix;
    };
    static constexpr Range kRanges[] = {{1, "/dev/ttyS"}, {33, "/dev/ttyUSB"}, {65, "/dev/ttyACM"}};
    for (const Range& range : kRanges) {
        if (portNumber >= range.first && portNumber < range.first + 32) {
            return std::string(range.prefix) + std::to_string(portNumber - range.first);
        }
    }
    return std::nullopt;
}

std::optional<std::string> PortDevicePath(int portNumber) {
    if (portNumber <= 0) {
        return std::nullopt;
    }
    std::string entry = PortDirectory() + "/COM" + std::to_string(portNumber);
    struct stat st;
    // lstat: a dangling link (the simulator's device was unplugged) still names this port, and
    // opening it then reports "no such port", which is the truth.
    if (::lstat(entry.c_str(), &st) == 0) {
        return entry;
    }
    return DefaultPortDevicePath(portNumber);
}

}  // namespace platform
