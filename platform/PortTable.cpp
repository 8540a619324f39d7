#include "platform/PortTable.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <string_view>
#include <utility>

#include "platform/PortLocks.h"
#include "platform/PortMap.h"
#include "platform/PortNames.h"
#include "platform/TtyDevices.h"

namespace platform {

namespace {

struct Range {
    const char* prefix;
    int first;  // COM number of <prefix>0
    int last;   // the last number of the range
};

// Numbers as a person on this program has always known them; adapters new to the map keep
// their default number when it is free.
constexpr Range kRanges[] = {{"ttyS", 1, 32}, {"ttyUSB", 33, 64}, {"ttyACM", 65, 96}};
constexpr Range kOthers = {"", 97, PortMap::kHighestNumber};

const Range& RangeOf(const std::string& name) {
    for (const Range& range : kRanges) {
        const std::string prefix = range.prefix;
        if (name.starts_with(prefix) && name.size() > prefix.size() &&
            std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                        [](char c) { return c >= '0' && c <= '9'; })) {
            return range;
        }
    }
    return kOthers;
}

// ttyUSB3 -> 36; 0 for a name with no default number.
int DefaultNumber(const std::string& name) {
    const Range& range = RangeOf(name);
    if (&range == &kOthers) {
        return 0;
    }
    const std::string digits = name.substr(std::string(range.prefix).size());
    if (digits.size() > 3) {
        return 0;
    }
    const int number = range.first + std::stoi(digits);
    return number <= range.last ? number : 0;
}

// The device a folder entry leads to, when it is there.
std::string LinkTarget(const std::string& path) {
    std::string device = DevicePathBehind(path);
    struct stat st;
    return !device.empty() && ::stat(device.c_str(), &st) == 0 ? device : std::string();
}

std::mutex& MapMutex() {
    static std::mutex mutex;
    return mutex;
}

std::string& PendingWarning() {
    static std::string warning;
    return warning;
}

void Warn(const std::string& text) {
    if (text.empty()) {
        return;
    }
    static std::set<std::string> told;
    if (told.insert(text).second) {
        std::fprintf(stderr, "pravik: %s\n", text.c_str());
        PendingWarning() = text;
    }
}

PortMap LoadMap(const std::string& file) {
    std::string warning;
    PortMap map = PortMap::Load(file, warning);
    Warn(warning);
    return map;
}

void SaveMap(const PortMap& map, const std::string& file) {
    std::string error;
    if (!file.empty() && !map.Save(file, error)) {
        Warn("New adapters keep their numbers only for this run: " + error + ".");
    }
}

// A port of the folder as the lists show it: a simulated device's pseudo-terminal says so.
PortEntry FolderEntry(int number, const std::string& path) {
    std::string device = LinkTarget(path);
    std::string adapter = device.starts_with("/dev/pts/") ? "pseudo-terminal" : "";
    return PortEntry{number, path, std::move(device), std::move(adapter), {}, true, {}};
}

struct Table {
    std::map<int, PortEntry> entries;
    std::set<int> folder;  // every number the folder has, dangling or not
};

// Builds the table, binding adapters new to the map. Called with the map's mutex held.
Table Build(PortMap& map, bool& mapChanged) {
    Table table;
    for (const auto& [n, path] : PortDirectoryEntries()) {
        table.folder.insert(n);
        if (PortEntry entry = FolderEntry(n, path); entry.Present()) {
            table.entries.emplace(n, std::move(entry));
        }
    }
    const std::optional<std::vector<TtyDevice>> devices = ListTtyDevices();
    if (!devices) {
        return table;
    }
    std::set<int> taken = table.folder;
    for (const PortBinding& b : map.Bindings()) {
        taken.insert(b.number);
    }
    // Devices the map cannot bind keep their default numbers first: those have always been theirs.
    std::vector<const TtyDevice*> unplaced;
    std::vector<const TtyDevice*> newcomers;
    for (const TtyDevice& d : *devices) {
        const bool mappable = !d.Identity().empty() && !d.name.starts_with("ttyS");
        if (mappable) {
            if (const PortBinding* b = map.Of(d.Identity())) {
                mapChanged = map.Rename(b->identity, d.AdapterName()) || mapChanged;
            } else {
                newcomers.push_back(&d);
            }
            continue;
        }
        const int n = DefaultNumber(d.name);
        if (n > 0 && !taken.contains(n)) {
            taken.insert(n);
            table.entries.emplace(n, PortEntry{n, d.path, d.path, d.AdapterName(), {}, false, d});
        } else {
            unplaced.push_back(&d);
        }
    }
    for (const TtyDevice* d : newcomers) {
        const Range& range = RangeOf(d->name);
        if (map.Bind(d->Identity(), d->AdapterName(), DefaultNumber(d->name), range.first,
                     range.last, taken)) {
            mapChanged = true;
        } else {
            unplaced.push_back(d);
        }
    }
    for (const PortBinding& b : map.Bindings()) {
        if (table.folder.contains(b.number)) {
            continue;
        }
        taken.insert(b.number);
        PortEntry entry{b.number, b.identity, {}, b.adapter, b.identity, false, {}};
        const auto here = std::find_if(devices->begin(), devices->end(), [&](const TtyDevice& d) {
            return d.Identity() == b.identity;
        });
        if (here != devices->end()) {
            entry.device = here->path;
            entry.adapter = here->AdapterName();
            entry.tty = *here;
        }
        table.entries.emplace(b.number, std::move(entry));
    }
    // Devices with no number of their own, in name order. A device whose default number another
    // has stays out of sight rather than appearing under a number nobody expects it at.
    for (const TtyDevice* d : unplaced) {
        const Range& range = RangeOf(d->name);
        for (int n = range.first; &range == &kOthers && n <= range.last; ++n) {
            if (!taken.contains(n)) {
                taken.insert(n);
                table.entries.emplace(
                    n, PortEntry{n, d->path, d->path, d->AdapterName(), {}, false, *d});
                break;
            }
        }
    }
    return table;
}

Table CurrentTable() {
    std::lock_guard lock(MapMutex());
    const std::string file = PortMap::DefaultFile();
    PortMap map = LoadMap(file);
    bool changed = false;
    Table table = Build(map, changed);
    if (changed) {
        SaveMap(map, file);
    }
    return table;
}

}  // namespace

std::string PortEntry::DeviceName() const {
    if (!Present()) {
        return "unplugged";
    }
    return device.starts_with("/dev/") ? device.substr(5) : device;
}

std::vector<PortEntry> ListPortEntries() {
    std::vector<PortEntry> entries;
    for (auto& [number, entry] : CurrentTable().entries) {
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::optional<PortEntry> FindPortEntry(int number) {
    if (number <= 0) {
        return std::nullopt;
    }
    // The folder decides alone: the simulated bench and the tests never wait for udev.
    if (const std::optional<std::string> path = PortDirectoryEntry(number)) {
        return FolderEntry(number, *path);
    }
    Table table = CurrentTable();
    const auto it = table.entries.find(number);
    if (it == table.entries.end()) {
        return std::nullopt;
    }
    return std::move(it->second);
}

std::optional<std::string> DefaultPortDevicePath(int portNumber) {
    for (const Range& range : kRanges) {
        if (portNumber >= range.first && portNumber <= range.last) {
            return "/dev/" + std::string(range.prefix) + std::to_string(portNumber - range.first);
        }
    }
    return std::nullopt;
}

std::optional<std::string> PortDevicePath(int portNumber) {
    const std::optional<PortEntry> entry = FindPortEntry(portNumber);
    return entry ? std::optional(entry->path) : std::nullopt;
}

bool RenumberPort(int from, int to, std::string& error) {
    std::lock_guard lock(MapMutex());
    const std::string file = PortMap::DefaultFile();
    PortMap map = LoadMap(file);
    bool changed = false;
    const Table table = Build(map, changed);
    std::set<int> taken = table.folder;
    for (const auto& [number, entry] : table.entries) {
        if (entry.identity.empty()) {
            taken.insert(number);
        }
    }
    if (!map.Renumber(from, to, taken, error)) {
        return false;
    }
    if (!map.Save(file, error)) {
        error = "Could not save the change: " + error + ".";
        return false;
    }
    return true;
}

bool ForgetPort(int number, std::string& error) {
    std::lock_guard lock(MapMutex());
    const std::string file = PortMap::DefaultFile();
    PortMap map = LoadMap(file);
    if (!map.Forget(number)) {
        error = "COM" + std::to_string(number) + " is not bound to an adapter.";
        return false;
    }
    if (!map.Save(file, error)) {
        error = "Could not save the change: " + error + ".";
        return false;
    }
    return true;
}

std::string TakePortMapWarning() {
    std::lock_guard lock(MapMutex());
    return std::exchange(PendingWarning(), {});
}

}  // namespace platform
