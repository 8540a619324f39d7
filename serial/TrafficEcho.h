#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "serial/SerialEcho.h"

// Turns the record's Length bytes into printable text: printable ASCII as it is, every other
// byte as "[0xHH]", a line break after an escaped carriage return or line feed, and a line break
// at the end when there is none. Never reads past Text, whatever Length claims.
std::string EscapeTraffic(const SerialEcho& echo);

// The terminal log's colours, by what a line is; the codes the log takes, with any other value
// written plain.
enum LogCode : int {
    kLogPlain = 0,
    kLogSent = 1,
    kLogReceived = 2,
    kLogError = 3,
    kLogSuccess = 4
};

// Text for the terminal log and the colour code it is written in.
struct TrafficText {
    std::string Text;
    int Code = 0;

    bool operator==(const TrafficText&) const = default;
};

// What a reply means ("shutter open", "filter 3"), told by whoever knows the protocol of the
// command it answers: given the bytes last written to the reply's port and the bytes of one
// received line (its carriage return included when one ended it), in printable ASCII; nothing
// for a reply it does not know.
using ReplyMeaning =
    std::function<std::optional<std::string>(std::string_view command, std::string_view reply)>;

// What a sent or received line shows before its "COM%d": nothing, the time of day to the
// millisecond ("17:03:25.475 "), or the seconds since the previous sent or received line
// ("+12.345 ").
enum class LineTimes : int { None = 0, TimeOfDay = 1, SincePrevious = 2 };

// The terminal lines for port traffic. Sent records become one line each; received bytes are
// gathered per port (the instrument's and the temperature controller's) until a carriage return
// completes a line, or until the bytes are flushed as a partial line: the device has gone quiet,
// the program is about to write to the port, or the port is closing. Holds no Qt and does not
// log itself: the window appends what it returns.
class CTrafficEcho {
public:
    // A device that streams without ever sending a carriage return must not grow our memory.
    // Far longer than any reply of the supported devices (the longest, an identification line,
    // is a few dozen bytes).
    static constexpr std::size_t kLineLimit = 4096;
    // Ends a line that was flushed before its carriage return came; the rest of it, when it
    // comes, starts a line of its own.
    static constexpr const char* kPartialMark = " [partial]";

    // "COM%d >> " and the escaped bytes of a completed write, without a time.
    static std::string SentLine(const SerialEcho& echo);

    // "COM%d: ... received bytes dropped: ..." for a gap the port left in its port's traffic.
    static std::string DroppedLine(int32_t port, int64_t count);

    void SetTimes(LineTimes times) { times_ = times; }
    LineTimes Times() const { return times_; }
    // Pairs received lines with their commands also when no times are shown.
    void SetPairing(bool always) { pairAlways_ = always; }
    void SetMeaning(ReplyMeaning meaning) { meaning_ = std::move(meaning); }

    // Takes one sent record: the bytes waiting on its port, flushed as a partial line (they came
    // before the write), then the record's "COM%d >> " line, in the sent colour.
    std::vector<TrafficText> Sent(const SerialEcho& echo);

    // Takes one received record: the bytes of one read, and how many bytes the port dropped
    // just before them. It is ignored, leaving both buffers as they are, when there is no
    // current instrument or its port is neither the instrument's nor the controller's (the
    // instrument's buffer wins when both name the same port). Returns what it adds to the log,
    // in order: at a gap, the bytes gathered before it as a line of their own and the gap's
    // notice in the error colour; then every "COM%d << " line that a carriage return completes,
    // in the received colour. Bytes after the last carriage return wait in the buffer. A line's
    // time is that of the read that brought its first byte: how long a reply took to start.
    std::vector<TrafficText> Received(const SerialEcho& echo, bool haveInstrument,
                                      int instrumentPort, int controllerPort);
    // Takes a record of either kind: Sent's for a write, Received's for a read.
    std::vector<TrafficText> Take(const SerialEcho& echo, bool haveInstrument, int instrumentPort,
                                  int controllerPort) {
        return echo.Received == 0 ? Sent(echo)
                                  : Received(echo, haveInstrument, instrumentPort, controllerPort);
    }

    // The bytes waiting on port, as a "COM%d << " line that ends in kPartialMark, in the received
    // colour; nothing when none wait.
    std::optional<TrafficText> Flush(int32_t port);
    // Flushes every port whose last bytes were read at least quiet before now.
    std::vector<TrafficText> FlushQuiet(std::chrono::steady_clock::time_point now,
                                        std::chrono::steady_clock::duration quiet);
    // Flushes every port and forgets the commands written: its connection is ending, and
    // nothing may be carried into the next.
    std::vector<TrafficText> FlushAll();
    // When the first port that has bytes waiting will have been quiet for quiet; nothing when no
    // bytes wait.
    std::optional<std::chrono::steady_clock::time_point> QuietDeadline(
        std::chrono::steady_clock::duration quiet) const;

    // The bytes waiting for their carriage return.
    const std::string& InstrumentLine() const { return instrument_.bytes; }
    const std::string& ControllerLine() const { return controller_.bytes; }

private:
    struct Waiting {
        std::string bytes;
        int32_t port = 0;
        EchoTime first;                              // the read that brought the first of the bytes
        std::chrono::steady_clock::time_point last;  // the read that brought the last
    };

    // The time (when shown) and "COM%d << " or "COM%d >> " for a line that began at time.
    std::string LineStart(int32_t port, const char* direction, const EchoTime& time);
    std::string TimeOfDay(std::chrono::system_clock::time_point time);
    std::optional<TrafficText> FlushLine(Waiting& line);
    // A received line of the bytes that wait, with its pairing; marked partial when asked.
    std::string ReceivedLine(const Waiting& line, bool partial);
    // "  +5.2 ms" and the meaning for a reply on port, or nothing.
    std::string Pairing(int32_t port, std::string_view reply,
                        std::chrono::steady_clock::time_point first) const;

    Waiting instrument_;
    Waiting controller_;
    LineTimes times_ = LineTimes::None;
    bool pairAlways_ = false;
    ReplyMeaning meaning_;
    struct Command {
        std::string bytes;
        std::chrono::steady_clock::time_point sent;
    };
    // The last write on each port, kept whatever is shown, like the gap between lines.
    std::map<int32_t, Command> commands_;
    // The latest start of a sent or received line so far, for the time since it.
    std::optional<std::chrono::steady_clock::time_point> previous_;
    // The last second turned into a time of day, and its text: a flood of lines within one
    // second looks up the time zone once.
    std::time_t shownSecond_ = -1;
    std::string shownClock_;
};
