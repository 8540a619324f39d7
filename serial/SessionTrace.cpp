#include "serial/SessionTrace.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>
#include <optional>
#include <utility>

#include "platform/PortTable.h"
#include "serial/TraceFormat.h"

namespace {

using Json = nlohmann::ordered_json;

// The writer gathers what comes this long after a record, then writes it all at once: a port's
// record costs its thread a push and, for the first of a batch, a wake-up, and a connection
// that is quiet costs nothing. A queue half full, a session's start or end and a flush do not
// wait.
constexpr auto kWriteEvery = std::chrono::milliseconds(100);

std::string Text(const Json& record) {
    // A device path or an adapter's name need not be UTF-8: replaced, never thrown over.
    return record.dump(-1, ' ', true, Json::error_handler_t::replace);
}

std::string Error(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

template <size_t N>
Json Named(const std::array<const char*, N>& names, int32_t index) {
    return index >= 0 && static_cast<size_t>(index) < N ? Json(names[index]) : Json(index);
}

// The port's fields: its role and number, what is behind it now and its line settings.
void AddPort(Json& record, const TracedPort& port) {
    record["role"] = port.Role;
    record["port"] = port.Line.PortNumber;
    record["device"] = nullptr;
    record["adapter"] = nullptr;
    if (const std::optional<platform::PortEntry> entry =
            platform::FindPortEntry(port.Line.PortNumber)) {
        record["device"] = entry->Present() ? entry->device : entry->path;
        if (!entry->adapter.empty()) {
            record["adapter"] = entry->adapter;
        }
    }
    record["baud"] = port.Line.BaudRate;
    record["data_bits"] = port.Line.DataBits;
    record["parity"] = Named(std::array{"none", "odd", "even"}, port.Line.Parity);
    record["stop_bits"] = Named(std::array{"1", "1.5", "2"}, port.Line.StopBits);
    record["flow_control"] =
        Named(std::array{"none", "xon/xoff", "rts/cts"}, port.Line.FlowControl);
}

Json Record(std::chrono::system_clock::time_point time, const char* type) {
    return {{"t", trace::IsoTime(time)}, {"type", type}};
}

}  // namespace

bool CSessionTrace::MakeFolder(const std::string& folder, std::string& why) {
    int error = 0;
    for (size_t at = folder.find('/', 1);; at = folder.find('/', at + 1)) {
        const std::string partial = folder.substr(0, at);
        error = ::mkdir(partial.c_str(), 0700) == 0 ? 0 : errno;
        if (at == std::string::npos) {
            break;
        }
    }
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        return true;
    }
    why =
        Error("cannot make the folder " + folder, error != 0 && error != EEXIST ? error : ENOTDIR);
    return false;
}

namespace {

// Removes the oldest sessions (by name, which starts with the time) until the new one, with
// those left, keeps within the bounds.
void Rotate(const std::string& folder) {
    struct Session {
        std::string name;
        int64_t size;
    };
    std::vector<Session> sessions;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            struct stat st {};
            if (name.size() > 6 && name.ends_with(".jsonl") &&
                ::fstatat(::dirfd(dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISREG(st.st_mode)) {
                sessions.push_back({name, static_cast<int64_t>(st.st_size)});
            }
        }
        ::closedir(dir);
    }
    std::sort(sessions.begin(), sessions.end(),
              [](const Session& a, const Session& b) { return a.name < b.name; });
    int64_t total = 0;
    for (const Session& session : sessions) {
        total += session.size;
    }
    for (size_t oldest = 0; oldest < sessions.size(); ++oldest) {
        if (sessions.size() - oldest < CSessionTrace::kKeptSessions &&
            total <= CSessionTrace::kKeptBytes) {
            break;
        }
        ::unlink((folder + "/" + sessions[oldest].name).c_str());
        total -= sessions[oldest].size;
    }
}

std::string FileName(std::chrono::system_clock::time_point time, const std::string& instrument,
                     int attempt) {
    const time_t seconds = std::chrono::system_clock::to_time_t(time);
    tm utc{};
    ::gmtime_r(&seconds, &utc);
    std::array<char, 32> stamp{};
    std::strftime(stamp.data(), stamp.size(), "%Y-%m-%dT%H-%M-%S", &utc);
    std::string name = std::string(stamp.data()) + "_";
    for (const char c : instrument) {
        name += std::isalnum(static_cast<unsigned char>(c)) || c == '-' ? c : '_';
    }
    if (attempt > 1) {
        name += "-" + std::to_string(attempt);
    }
    return name + ".jsonl";
}

}  // namespace

CSessionTrace::~CSessionTrace() {
    try {
        End("closed");
    } catch (const std::exception&) {
        // No memory for the last record: the file ends where the session did all the same.
    }
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    if (writer_.joinable()) {
        writer_.join();
    }
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

std::string CSessionTrace::SessionsFolder() {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && state[0] == '/') {
        return std::string(state) + "/pravik/sessions";
    }
    std::string home;
    if (const char* variable = std::getenv("HOME"); variable != nullptr && variable[0] == '/') {
        home = variable;
    } else {
        passwd entry{};
        passwd* found = nullptr;
        std::array<char, 4096> buffer{};
        if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
            found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/') {
            home = found->pw_dir;
        }
    }
    return home.empty() ? std::string() : home + "/.local/state/pravik/sessions";
}

void CSessionTrace::Begin(const std::string& folder, const std::string& instrument,
                          const std::vector<TracedPort>& ports) {
    Item open;
    open.op = Item::Op::Open;
    open.text = folder;
    open.rotate = true;
    Start(std::move(open), instrument, ports);
}

void CSessionTrace::BeginFile(const std::string& path, const std::string& instrument,
                              const std::vector<TracedPort>& ports) {
    Item open;
    open.op = Item::Op::Open;
    open.text = path;
    Start(std::move(open), instrument, ports);
}

void CSessionTrace::Start(Item open, const std::string& instrument,
                          const std::vector<TracedPort>& ports) {
    open.time = std::chrono::system_clock::now();
    open.instrument = instrument;
    Json connect = Record(open.time, "connect");
    connect["instrument"] = instrument;
    connect["ports"] = Json::array();
    for (const TracedPort& port : ports) {
        Json described = Json::object();
        AddPort(described, port);
        connect["ports"].push_back(std::move(described));
    }
    End("closed");
    const std::lock_guard lock(mutex_);
    session_ = true;
    lost_ = 0;
    unreported_ = 0;
    Push(std::move(open), false);
    Push(LineItem(Text(connect)), true);
}

void CSessionTrace::Settings(const TracedPort& port, const std::string& note) {
    Json record = Record(std::chrono::system_clock::now(), "settings");
    AddPort(record, port);
    record["note"] = note;
    const std::lock_guard lock(mutex_);
    if (session_) {
        Push(LineItem(Text(record)), false);
    }
}

void CSessionTrace::SettingsRefused(const std::vector<TracedPort>& ports,
                                    const std::string& failureText) {
    for (const TracedPort& port : ports) {
        if (failureText.starts_with("COM" + std::to_string(port.Line.PortNumber) + " ")) {
            Settings(port, failureText);
            return;
        }
    }
}

void CSessionTrace::Tap(const SerialEcho& echo) {
    const auto now = std::chrono::system_clock::now();
    const size_t length =
        std::min(static_cast<size_t>(std::max<int32_t>(echo.Length, 0)), echo.Text.size());
    const std::lock_guard lock(mutex_);
    if (!session_) {
        return;
    }
    if (queue_.size() >= kQueueRecords || queuedBytes_ + length > kQueueBytes) {
        ++lost_;
        ++unreported_;
        return;
    }
    if (unreported_ > 0) {
        Json lost = Record(now, "lost");
        lost["records"] = std::exchange(unreported_, 0);
        Push(LineItem(Text(lost)), false);
    }
    Item traffic;
    traffic.op = Item::Op::Traffic;
    traffic.time = now;
    traffic.text.assign(echo.Text, 0, length);
    traffic.port = echo.PortNumber;
    traffic.received = echo.Received != 0;
    traffic.dropped = echo.Dropped;
    Push(std::move(traffic),
         queue_.size() + 1 == kQueueRecords / 2 || queuedBytes_ + length > kQueueBytes / 2);
}

void CSessionTrace::End(const std::string& reason, int port) {
    const auto now = std::chrono::system_clock::now();
    {
        const std::lock_guard lock(mutex_);
        if (!session_) {
            return;
        }
        if (unreported_ > 0) {
            Json lost = Record(now, "lost");
            lost["records"] = std::exchange(unreported_, 0);
            Push(LineItem(Text(lost)), false);
        }
        Json disconnect = Record(now, "disconnect");
        disconnect["reason"] = reason;
        if (port > 0) {
            disconnect["port"] = port;
        }
        Push(LineItem(Text(disconnect)), false);
        Item close;
        close.op = Item::Op::Close;
        Push(std::move(close), true);
        session_ = false;
    }
}

bool CSessionTrace::Flush(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    const uint64_t target = pushed_;
    urgent_ = true;
    wake_.notify_one();
    return done_.wait_for(lock, timeout, [&] { return written_ >= target; });
}

std::string CSessionTrace::Path() const {
    const std::lock_guard lock(mutex_);
    return path_;
}

std::string CSessionTrace::Failure() const {
    const std::lock_guard lock(mutex_);
    return failure_;
}

uint64_t CSessionTrace::Lost() const {
    const std::lock_guard lock(mutex_);
    return lost_;
}

void CSessionTrace::SetStoppedHandler(std::function<void(const std::string&)> handler) {
    const std::lock_guard lock(handlerMutex_);
    handler_ = std::move(handler);
}

CSessionTrace::Item CSessionTrace::LineItem(std::string text) {
    Item item;
    item.text = std::move(text);
    return item;
}

void CSessionTrace::Push(Item item, bool wake) {
    // Caller holds mutex_.
    const bool first = queue_.empty();
    queuedBytes_ += item.text.size() + sizeof(Item);
    queue_.push_back(std::move(item));
    ++pushed_;
    if (!writer_.joinable()) {
        writer_ = std::thread(&CSessionTrace::Run, this);
    }
    urgent_ = urgent_ || wake;
    if (wake || first) {
        wake_.notify_one();
    }
}

void CSessionTrace::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (queue_.empty()) {
            if (stopping_) {
                return;
            }
            wake_.wait(lock);
            continue;
        }
        wake_.wait_for(lock, kWriteEvery, [&] { return urgent_ || stopping_; });
        urgent_ = false;
        std::deque<Item> batch;
        batch.swap(queue_);
        queuedBytes_ = 0;
        const uint64_t upTo = pushed_;
        lock.unlock();

        std::string pending;
        std::string why;
        const auto stopIfNot = [&](bool ok) {
            if (!ok) {
                pending.clear();
                Stop(why);
            }
        };
        for (const Item& item : batch) {
            switch (item.op) {
                case Item::Op::Open:
                    stopIfNot(Open(item, why));
                    break;
                case Item::Op::Line:
                    if (fd_ >= 0) {
                        pending += item.text + '\n';
                    }
                    break;
                case Item::Op::Traffic:
                    if (fd_ >= 0) {
                        Json record = Record(item.time, item.received ? "rx" : "tx");
                        record["port"] = item.port;
                        record["data"] = trace::BytesToText(item.text);
                        if (item.dropped > 0) {
                            record["dropped"] = item.dropped;
                        }
                        pending += Text(record) + '\n';
                    }
                    break;
                case Item::Op::Close:
                    if (fd_ >= 0) {
                        stopIfNot(WriteOut(pending, why));
                    }
                    if (fd_ >= 0) {
                        ::close(fd_);
                        fd_ = -1;
                    }
                    break;
            }
        }
        if (fd_ >= 0) {
            stopIfNot(WriteOut(pending, why));
        }
        lock.lock();
        written_ = upTo;
        done_.notify_all();
    }
}

bool CSessionTrace::Open(const Item& item, std::string& why) {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    std::string path = item.text;
    if (item.rotate) {
        if (!MakeFolder(item.text, why)) {
            return false;
        }
        Rotate(item.text);
        // Two sessions in one second get a number after the first one's name.
        for (int attempt = 1; fd_ < 0 && attempt <= 100; ++attempt) {
            path = item.text + "/" + FileName(item.time, item.instrument, attempt);
            fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (fd_ < 0 && errno != EEXIST) {
                break;
            }
        }
    } else {
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    }
    const int error = errno;
    {
        const std::lock_guard lock(mutex_);
        path_ = fd_ >= 0 ? path : std::string();
        failure_.clear();
    }
    if (fd_ < 0) {
        why = Error("cannot make " + path, error);
        return false;
    }
    return true;
}

bool CSessionTrace::WriteOut(std::string& pending, std::string& why) {
    size_t done = 0;
    while (done < pending.size()) {
        const ssize_t n = ::write(fd_, pending.data() + done, pending.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            why = Error("cannot write " + Path(), n < 0 ? errno : ENOSPC);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    pending.clear();
    return true;
}

void CSessionTrace::Stop(const std::string& why) {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    {
        const std::lock_guard lock(mutex_);
        failure_ = why;
    }
    const std::lock_guard lock(handlerMutex_);
    if (handler_) {
        handler_(why);
    }
}
