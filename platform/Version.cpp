#include "platform/Version.h"

#include <array>
#include <cstdio>

#include "serial/ReplyScan.h"

std::string FormatVersion(std::string_view fileVersion) {
    std::array<int, 4> numbers{};
    size_t read = 0;
    std::string_view rest = fileVersion;
    while (read < numbers.size()) {
        const auto number = wire::ScanInt(rest);
        if (!number) {
            break;
        }
        numbers[read++] = *number;
        const size_t dot = rest.find('.');
        if (dot == std::string_view::npos) {
            break;
        }
        rest = rest.substr(dot + 1);
    }
    char text[64];
    if (read == 4 && numbers[3] > 0) {
        std::snprintf(text, sizeof text, "%d.%d.%d.%d", numbers[0], numbers[1], numbers[2],
                      numbers[3]);
    } else {
        std::snprintf(text, sizeof text, "%d.%d.%d", numbers[0], numbers[1], numbers[2]);
    }
    return text;
}

const std::string& ProgramVersion() {
    static const std::string version = FormatVersion(PRAVIK_VERSION);
    return version;
}
