#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/CommSettings.h"
#include "serial/SerialEchoSink.h"

// One port of a traced connection: what it is to the instrument, its number and line settings.
struct TracedPort {
    std::string Role;  // "motor", "controller", "shutter"
    CommSettings Line;
};

// Writes what one connection did into a trace file of its own (serial/TraceFormat.h): how it
// connected, every byte sent and received on its ports and how it ended. Sessions outlive the
// window: a technician can send the file to whoever looks into a fault, and pravik-sim can serve
// it back as a simulated device.
//
// Nothing here waits for the disk. Records go into a bounded queue that a thread of the trace's
// own writes out; a record that finds the queue full is dropped and counted, and the count goes
// into the file as soon as there is room again. A file that cannot be made or written (a full
// disk, a folder that is a file) stops that session's trace, tells OnStopped once, and leaves
// the caller to go on without it.
class CSessionTrace {
public:
    // The sessions folder keeps the newest ones: a new session first removes the oldest files
    // until, with it, there are at most kKeptSessions and the others hold at most kKeptBytes.
    static constexpr size_t kKeptSessions = 50;
    static constexpr int64_t kKeptBytes = int64_t{200} * 1000 * 1000;
    // What may wait for the writer: far more than a window's worth of commands and replies,
    // and a few seconds of a device streaming at 115200 baud.
    static constexpr size_t kQueueRecords = 8192;
    static constexpr size_t kQueueBytes = size_t{4} * 1024 * 1024;

    CSessionTrace() = default;
    CSessionTrace(const CSessionTrace&) = delete;
    CSessionTrace& operator=(const CSessionTrace&) = delete;
    // Ends a session still going ("closed"), writes what waits and stops the writer.
    ~CSessionTrace();

    // $XDG_STATE_HOME/pravik/sessions, else ~/.local/state/pravik/sessions; empty without a home.
    static std::string SessionsFolder();
    // Makes folder and what is missing above it, each mode 0700; false, with why, when it is
    // not a folder after all.
    static bool MakeFolder(const std::string& folder, std::string& why);

    // Starts a session in folder (made, mode 0700, when missing): old sessions are removed as
    // above, then the records go to a new file named from the time and the instrument,
    // "2026-12-06T17-03-25_multi.jsonl" (UTC). A session still going is ended first.
    void Begin(const std::string& folder, const std::string& instrument,
               const std::vector<TracedPort>& ports);
    // The same into exactly path, which must not exist yet; nothing is removed.
    void BeginFile(const std::string& path, const std::string& instrument,
                   const std::vector<TracedPort>& ports);
    // A port's line settings changed, or were refused (note says how).
    void Settings(const TracedPort& port, const std::string& note);
    // A connection's failure text says a port refused its line settings ("COM5 (/dev/ttyUSB0)
    // refused ..."): the settings record goes to the port of ports it names first.
    void SettingsRefused(const std::vector<TracedPort>& ports, const std::string& failureText);
    // A port's record, from any thread: queued with the time it was tapped, or dropped and
    // counted when the queue is full. Outside a session it is ignored.
    void Tap(const SerialEcho& echo);
    // Ends the session: why ("asked", "device lost", ...) and the port it concerns, if one.
    void End(const std::string& reason, int port = 0);

    // Waits until what was queued before the call is written, or the trace has stopped; false
    // when timeout passed first. For tests and for a program about to exit.
    bool Flush(std::chrono::milliseconds timeout);
    // The file of the current or the last session; empty before its file is made.
    std::string Path() const;
    // Why the last session stopped writing; empty while it writes.
    std::string Failure() const;
    // Records the last session dropped because the queue was full.
    uint64_t Lost() const;

    // Called once a session, on the writer's thread, with the reason when its writing stops.
    // After it returns for null, no call of the old handler runs or is to come.
    void SetStoppedHandler(std::function<void(const std::string& reason)> handler);

private:
    struct Item {
        enum class Op { Open, Line, Traffic, Close } op = Op::Line;
        std::chrono::system_clock::time_point time;
        std::string text;  // Open: folder or file; Line: the record; Traffic: the bytes
        std::string instrument;
        bool rotate = false;
        int port = 0;
        bool received = false;
        int64_t dropped = 0;
    };

    static Item LineItem(std::string text);
    void Start(Item open, const std::string& instrument, const std::vector<TracedPort>& ports);
    // Queues under mutex_, starting the writer the first time.
    void Push(Item item, bool wake);
    void Run();
    // The writer's own steps; each returns false with why when the session must stop.
    bool Open(const Item& item, std::string& why);
    bool WriteOut(std::string& pending, std::string& why);
    void Stop(const std::string& why);

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::deque<Item> queue_;  // everything from here to done_ under mutex_
    size_t queuedBytes_ = 0;
    uint64_t pushed_ = 0;
    uint64_t written_ = 0;
    bool session_ = false;
    bool stopping_ = false;
    bool urgent_ = false;  // the writer is not to wait for more
    uint64_t lost_ = 0;
    uint64_t unreported_ = 0;
    std::string path_;
    std::string failure_;
    std::thread writer_;

    std::mutex handlerMutex_;
    std::function<void(const std::string&)> handler_;  // under handlerMutex_

    // The writer thread's own.
    int fd_ = -1;
};

// Taps every record of the ports that post to it into trace on its way on to next (none: the
// records end here). Headless programs hand it to their ports as the console hands its window.
class CTracingEchoSink final : public ISerialEchoSink {
public:
    CTracingEchoSink(CSessionTrace& trace, ISerialEchoSink* next) : trace_(trace), next_(next) {}
    void PostSerialEcho(std::unique_ptr<SerialEcho> echo) override {
        trace_.Tap(*echo);
        if (next_ != nullptr) {
            next_->PostSerialEcho(std::move(echo));
        }
    }
    void PostPortGone(int portNumber) override {
        if (next_ != nullptr) {
            next_->PostPortGone(portNumber);
        }
    }

private:
    CSessionTrace& trace_;
    ISerialEchoSink* next_;
};
