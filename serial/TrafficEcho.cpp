#include "serial/TrafficEcho.h"

#include <time.h>
#include <algorithm>
#include <cstdio>
#include <string_view>

namespace {

constexpr char kCarriageReturn = '\r';

std::string_view RecordBytes(const SerialEcho& echo) {
    const std::size_t length =
        std::min(static_cast<std::size_t>(std::max<int32_t>(echo.Length, 0)), echo.Text.size());
    return std::string_view(echo.Text.data(), length);
}

std::string Escape(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + 1);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte <= 0x7E) {
            out += c;
            continue;
        }
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "[0x%02X]", byte);
        out += escaped;
        if (byte == '\r' || byte == '\n') {
            out += '\n';
        }
    }
    if (out.empty() || out.back() != '\n') {
        out += '\n';
    }
    return out;
}

bool Printable(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

std::string PortPrefix(int32_t port, const char* direction) {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "COM%d %s ", static_cast<int>(port), direction);
    return prefix;
}

}  // namespace

std::string EscapeTraffic(const SerialEcho& echo) {
    return Escape(RecordBytes(echo));
}

std::string CTrafficEcho::SentLine(const SerialEcho& echo) {
    return PortPrefix(echo.PortNumber, ">>") + EscapeTraffic(echo);
}

std::string CTrafficEcho::DroppedLine(int32_t port, int64_t count) {
    std::string digits = std::to_string(count);
    for (auto at = static_cast<std::ptrdiff_t>(digits.size()) - 3; at > 0; at -= 3) {
        digits.insert(static_cast<std::size_t>(at), 1, ',');
    }
    return "COM" + std::to_string(port) + ": " + digits +
           (count == 1 ? " received byte" : " received bytes") +
           " dropped: the device sends faster than the log can show.\n";
}

std::string CTrafficEcho::TimeOfDay(std::chrono::system_clock::time_point time) {
    using std::chrono::duration_cast;
    using std::chrono::milliseconds;
    const auto sinceEpoch = duration_cast<milliseconds>(time.time_since_epoch()).count();
    // Floored, so that a time before the epoch still counts its milliseconds up to the next second.
    auto seconds = static_cast<std::time_t>(sinceEpoch / 1000);
    auto millis = static_cast<int>(sinceEpoch % 1000);
    if (millis < 0) {
        millis += 1000;
        --seconds;
    }
    if (seconds != shownSecond_) {
        std::tm local{};
        char clock[16] = "??:??:??";
        if (::localtime_r(&seconds, &local) != nullptr) {
            std::snprintf(clock, sizeof clock, "%02d:%02d:%02d", local.tm_hour, local.tm_min,
                          local.tm_sec);
        }
        shownSecond_ = seconds;
        shownClock_ = clock;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%s.%03d ", shownClock_.c_str(), millis);
    return text;
}

std::string CTrafficEcho::LineStart(int32_t port, const char* direction, const EchoTime& time) {
    // The gap is measured whatever is shown, so that choosing to show it mid-session is right
    // from the first line. Lines of two ports can reach the log a little out of the order in
    // which they began: such a line shows no gap rather than a negative one.
    std::chrono::steady_clock::duration gap{};
    if (previous_) {
        gap = std::max(time.Monotonic - *previous_, std::chrono::steady_clock::duration::zero());
    }
    previous_ = previous_ ? std::max(*previous_, time.Monotonic) : time.Monotonic;
    switch (times_) {
        case LineTimes::TimeOfDay:
            return TimeOfDay(time.TimeOfDay) + PortPrefix(port, direction);
        case LineTimes::SincePrevious: {
            const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(gap).count();
            char text[40];
            std::snprintf(text, sizeof text, "+%lld.%03d ", static_cast<long long>(millis / 1000),
                          static_cast<int>(millis % 1000));
            return text + PortPrefix(port, direction);
        }
        case LineTimes::None:
            break;
    }
    return PortPrefix(port, direction);
}

std::vector<TrafficText> CTrafficEcho::Sent(const SerialEcho& echo) {
    std::vector<TrafficText> logged;
    if (std::optional<TrafficText> partial = Flush(echo.PortNumber)) {
        logged.push_back(std::move(*partial));
    }
    logged.push_back({LineStart(echo.PortNumber, ">>", echo.Time) + EscapeTraffic(echo), kLogSent});
    commands_[echo.PortNumber] = {std::string(RecordBytes(echo)), echo.Time.Monotonic};
    return logged;
}

std::string CTrafficEcho::Pairing(int32_t port, std::string_view reply,
                                  std::chrono::steady_clock::time_point first) const {
    if (times_ == LineTimes::None && !pairAlways_) {
        return {};
    }
    const auto command = commands_.find(port);
    if (command == commands_.end()) {
        return {};
    }
    // A reply read before its command's record was made (the two come from different threads)
    // shows no time rather than a negative one.
    const auto since =
        std::max(first - command->second.sent, std::chrono::steady_clock::duration::zero());
    const long long tenths =
        (std::chrono::duration_cast<std::chrono::microseconds>(since).count() + 50) / 100;
    char text[48];
    std::snprintf(text, sizeof text, "  +%lld.%d ms", tenths / 10, static_cast<int>(tenths % 10));
    std::string pairing = text;
    if (meaning_) {
        // Whatever a decoder says, the log stays one printable line per reply.
        if (const std::optional<std::string> meaning = meaning_(command->second.bytes, reply);
            meaning && !meaning->empty() && Printable(*meaning)) {
            pairing += "  " + *meaning;
        }
    }
    return pairing;
}

std::string CTrafficEcho::ReceivedLine(const Waiting& line, bool partial) {
    std::string text = LineStart(line.port, "<<", line.first) + Escape(line.bytes);
    text.insert(text.size() - 1, (partial ? kPartialMark : "") +
                                     Pairing(line.port, line.bytes, line.first.Monotonic));
    return text;
}

std::optional<TrafficText> CTrafficEcho::FlushLine(Waiting& line) {
    if (line.bytes.empty()) {
        return std::nullopt;
    }
    std::string text = ReceivedLine(line, true);
    line.bytes.clear();
    return TrafficText{std::move(text), kLogReceived};
}

std::optional<TrafficText> CTrafficEcho::Flush(int32_t port) {
    for (Waiting* line : {&instrument_, &controller_}) {
        if (line->port == port && !line->bytes.empty()) {
            return FlushLine(*line);
        }
    }
    return std::nullopt;
}

std::vector<TrafficText> CTrafficEcho::FlushQuiet(std::chrono::steady_clock::time_point now,
                                                  std::chrono::steady_clock::duration quiet) {
    std::vector<TrafficText> logged;
    for (Waiting* line : {&instrument_, &controller_}) {
        if (!line->bytes.empty() && now - line->last >= quiet) {
            logged.push_back(*FlushLine(*line));
        }
    }
    return logged;
}

std::vector<TrafficText> CTrafficEcho::FlushAll() {
    std::vector<TrafficText> logged;
    for (Waiting* line : {&instrument_, &controller_}) {
        if (std::optional<TrafficText> partial = FlushLine(*line)) {
            logged.push_back(std::move(*partial));
        }
    }
    commands_.clear();
    return logged;
}

std::optional<std::chrono::steady_clock::time_point> CTrafficEcho::QuietDeadline(
    std::chrono::steady_clock::duration quiet) const {
    std::optional<std::chrono::steady_clock::time_point> deadline;
    for (const Waiting* line : {&instrument_, &controller_}) {
        if (!line->bytes.empty() && (!deadline || line->last + quiet < *deadline)) {
            deadline = line->last + quiet;
        }
    }
    return deadline;
}

std::vector<TrafficText> CTrafficEcho::Received(const SerialEcho& echo, bool haveInstrument,
                                                int instrumentPort, int controllerPort) {
    if (!haveInstrument) {
        return {};
    }
    Waiting* line = nullptr;
    if (echo.PortNumber == instrumentPort) {
        line = &instrument_;
    } else if (echo.PortNumber == controllerPort) {
        line = &controller_;
    } else {
        return {};
    }

    std::vector<TrafficText> logged;
    if (line->port != echo.PortNumber && !line->bytes.empty()) {
        // The buffer's port was chosen again for another role: what waited is the old port's.
        logged.push_back(*FlushLine(*line));
    }
    line->port = echo.PortNumber;
    if (echo.Dropped > 0) {
        // What came before the gap is shown as it is, unended, rather than joined to what comes
        // after it into a line the device never sent.
        if (!line->bytes.empty()) {
            logged.push_back({ReceivedLine(*line, false), kLogReceived});
            line->bytes.clear();
        }
        logged.push_back({DroppedLine(echo.PortNumber, echo.Dropped), kLogError});
    }
    // Every line the record's bytes complete, one after the other, in one piece of text.
    std::string completed;
    for (const char byte : RecordBytes(echo)) {
        if (line->bytes.empty()) {
            line->first = echo.Time;
        }
        line->bytes.push_back(byte);
        // At the bound the gathered bytes are logged as a line of their own rather than dropped:
        // whatever a misbehaving device sent stays visible, and since such a line does not end
        // in [0x0D] it is plain to see that no carriage return closed it.
        if (byte == kCarriageReturn || line->bytes.size() >= kLineLimit) {
            completed += ReceivedLine(*line, false);
            line->bytes.clear();
        }
    }
    line->last = echo.Time.Monotonic;
    if (!completed.empty()) {
        logged.push_back({std::move(completed), kLogReceived});
    }
    return logged;
}
