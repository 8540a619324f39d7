#include "platform/PortMap.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "platform/RegularFile.h"
#include "platform/ReplacementFile.h"

namespace platform {

namespace {

// A map lists a few dozen adapters; a file far larger is not one.
constexpr size_t kMaxFileBytes = 256 * 1024;

bool IsLinkName(const std::string& text) {
    const bool known =
        text.starts_with("/dev/serial/by-id/") || text.starts_with("/dev/serial/by-path/");
    return known && std::none_of(text.begin(), text.end(), [](char c) {
               return static_cast<unsigned char>(c) <= ' ' || c == 0x7f;
           });
}

// An adapter's name comes from the adapter; a line break in it must not become a line.
std::string Printable(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < ' ' || c == 0x7f) {
            c = '?';
        }
    }
    return text;
}

std::optional<int> NumberOf(const std::string& word) {
    if (!word.starts_with("COM") || word.size() == 3) {
        return std::nullopt;
    }
    int number = 0;
    const char* end = word.data() + word.size();
    const auto [next, error] = std::from_chars(word.data() + 3, end, number);
    if (error != std::errc() || next != end || number < 1 || number > PortMap::kHighestNumber) {
        return std::nullopt;
    }
    return number;
}

std::string ConfigHome() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') {
        return config;
    }
    const char* home = std::getenv("HOME");
    return home != nullptr && home[0] == '/' ? std::string(home) + "/.config" : std::string();
}

// The first of path.bad, path.bad1, ... that does not exist yet.
std::string AsideName(const std::string& path) {
    std::string aside = path + ".bad";
    struct stat st;
    for (int n = 1; ::lstat(aside.c_str(), &st) == 0 && n < 1000; ++n) {
        aside = path + ".bad" + std::to_string(n);
    }
    return aside;
}

}  // namespace

std::string PortMap::DefaultFile() {
    const std::string home = ConfigHome();
    return home.empty() ? std::string() : home + "/Pravik/ports";
}

PortMap PortMap::Load(const std::string& path, std::string& warning) {
    PortMap map;
    warning.clear();
    std::string problem;
    const int fd = OpenRegularFile(path, O_RDONLY);
    if (fd < 0 && errno == ENOENT) {
        return map;
    }
    if (fd < 0) {
        const int err = errno;
        problem = err == kNotARegularFile ? "it is not a regular file" : std::strerror(err);
    } else {
        std::string text;
        const int error = ReadUpTo(fd, kMaxFileBytes + 1, text);
        ::close(fd);
        if (error != 0) {
            problem = std::strerror(error);
        } else if (text.size() > kMaxFileBytes) {
            problem = "it is larger than a port map can be";
        } else if (Parse(text, map, problem)) {
            return map;
        }
    }
    map = PortMap();
    const std::string aside = AsideName(path);
    if (::rename(path.c_str(), aside.c_str()) == 0) {
        warning = "The port map " + path + " could not be used (" + problem +
                  "); it was moved to " + aside + " and ports start from their default numbers.";
    } else {
        map.readOnly_ = true;
        warning =
            "The port map " + path + " could not be used (" + problem +
            ") nor moved aside; ports use their default numbers and the file is left as it is.";
    }
    return map;
}

bool PortMap::Parse(const std::string& text, PortMap& map, std::string& error) {
    map = PortMap();
    const auto refuse = [&error](int lineNumber, const std::string& what) {
        error = "line " + std::to_string(lineNumber) + ": " + what;
        return false;
    };
    std::istringstream lines(text);
    std::string line;
    for (int lineNumber = 1; std::getline(lines, line); ++lineNumber) {
        std::istringstream words(line);
        std::string first;
        if (!(words >> first) || first.starts_with('#')) {
            continue;
        }
        const std::optional<int> number = NumberOf(first);
        if (!number) {
            return refuse(lineNumber, "\"" + Printable(first) + "\" is not COM1 to COM255");
        }
        std::string identity;
        words >> identity;
        if (!IsLinkName(identity)) {
            return refuse(lineNumber, "no /dev/serial link after " + first);
        }
        std::string adapter;
        std::getline(words >> std::ws, adapter);
        while (!adapter.empty() && (adapter.back() == ' ' || adapter.back() == '\r')) {
            adapter.pop_back();
        }
        if (map.At(*number) != nullptr || map.Of(identity) != nullptr) {
            return refuse(lineNumber, first + " or its adapter is bound twice");
        }
        map.bindings_.push_back({*number, identity, Printable(adapter)});
    }
    std::sort(map.bindings_.begin(), map.bindings_.end(),
              [](const PortBinding& a, const PortBinding& b) { return a.number < b.number; });
    return true;
}

std::string PortMap::Text() const {
    std::string text =
        "# Which COM number each serial adapter keeps, by its /dev/serial link.\n"
        "# Written by Pravik; \"Ports ...\" in its Utilities menu renumbers and forgets.\n";
    for (const PortBinding& b : bindings_) {
        text += "COM" + std::to_string(b.number) + " " + b.identity;
        if (!b.adapter.empty()) {
            text += " ";
            text += b.adapter;
        }
        text += "\n";
    }
    return text;
}

bool PortMap::Save(const std::string& path, std::string& error) const {
    if (readOnly_) {
        error = "the port map " + path + " is kept as it is until it can be read";
        return false;
    }
    if (const size_t slash = path.rfind('/'); slash != std::string::npos && slash > 0) {
        // Each folder on the way, as mkdir -p would; a failure shows at the file.
        for (size_t at = path.find('/', 1); at != std::string::npos && at <= slash;
             at = path.find('/', at + 1)) {
            ::mkdir(path.substr(0, at).c_str(), 0700);
        }
    }
    if (const int err = ReplaceFile(path, Text()); err != 0) {
        error = "the port map " + path + " could not be written: " +
                (err == kNotARegularFile ? std::string("it is not a regular file")
                                         : std::string(std::strerror(err)));
        return false;
    }
    return true;
}

const PortBinding* PortMap::At(int number) const {
    const auto it = std::find_if(bindings_.begin(), bindings_.end(),
                                 [number](const PortBinding& b) { return b.number == number; });
    return it == bindings_.end() ? nullptr : &*it;
}

const PortBinding* PortMap::Of(const std::string& identity) const {
    const auto it = std::find_if(bindings_.begin(), bindings_.end(),
                                 [&](const PortBinding& b) { return b.identity == identity; });
    return it == bindings_.end() ? nullptr : &*it;
}

std::optional<int> PortMap::Bind(const std::string& identity, const std::string& adapter,
                                 int preferred, int first, int last, const std::set<int>& taken) {
    if (const PortBinding* known = Of(identity)) {
        return known->number;
    }
    if (!IsLinkName(identity)) {
        return std::nullopt;
    }
    const auto free = [&](int n) {
        return n >= 1 && n <= kHighestNumber && At(n) == nullptr && !taken.contains(n);
    };
    std::optional<int> number;
    if (free(preferred)) {
        number = preferred;
    }
    for (int n = first; !number && n <= last; ++n) {
        if (free(n)) {
            number = n;
        }
    }
    if (number) {
        const auto at = std::find_if(bindings_.begin(), bindings_.end(),
                                     [&](const PortBinding& b) { return b.number > *number; });
        bindings_.insert(at, {*number, identity, Printable(adapter)});
    }
    return number;
}

bool PortMap::Rename(const std::string& identity, const std::string& adapter) {
    const std::string name = Printable(adapter);
    for (PortBinding& b : bindings_) {
        if (b.identity == identity && b.adapter != name && !name.empty()) {
            b.adapter = name;
            return true;
        }
    }
    return false;
}

bool PortMap::Renumber(int from, int to, const std::set<int>& taken, std::string& error) {
    const auto it = std::find_if(bindings_.begin(), bindings_.end(),
                                 [from](const PortBinding& b) { return b.number == from; });
    if (it == bindings_.end()) {
        error = "COM" + std::to_string(from) + " is not bound to an adapter.";
        return false;
    }
    if (to < 1 || to > kHighestNumber) {
        error = "Choose a number from 1 to " + std::to_string(kHighestNumber) + ".";
        return false;
    }
    if (to != from && (At(to) != nullptr || taken.contains(to))) {
        error = "COM" + std::to_string(to) + " is already in use.";
        return false;
    }
    PortBinding moved = *it;
    moved.number = to;
    bindings_.erase(it);
    const auto at = std::find_if(bindings_.begin(), bindings_.end(),
                                 [to](const PortBinding& b) { return b.number > to; });
    bindings_.insert(at, moved);
    return true;
}

bool PortMap::Forget(int number) {
    return std::erase_if(bindings_, [number](const PortBinding& b) { return b.number == number; }) >
           0;
}

}  // namespace platform
