#include "serial/TraceFormat.h"

#include <time.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <nlohmann/json.hpp>

namespace trace {

namespace {

// The digits of text[at, at + count) as a number; nothing when one of them is not a digit.
std::optional<int> Digits(std::string_view text, size_t at, size_t count) {
    int value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return std::nullopt;
        }
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

std::string Line(size_t number, const std::string& what) {
    return "line " + std::to_string(number) + ": " + what;
}

}  // namespace

std::string IsoTime(std::chrono::system_clock::time_point time) {
    const auto ms = std::chrono::floor<std::chrono::milliseconds>(time.time_since_epoch()).count();
    const auto seconds = static_cast<time_t>(ms >= 0 ? ms / 1000 : (ms - 999) / 1000);
    tm utc{};
    ::gmtime_r(&seconds, &utc);
    std::array<char, 64> text{};
    std::snprintf(text.data(), text.size(), "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ",
                  utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min,
                  utc.tm_sec, static_cast<int>(ms - static_cast<int64_t>(seconds) * 1000));
    return text.data();
}

std::optional<int64_t> ParseIsoTime(std::string_view text) {
    // YYYY-MM-DDTHH:MM:SS.mmmZ
    constexpr std::string_view kShape = "0000-00-00T00:00:00.000Z";
    if (text.size() != kShape.size()) {
        return std::nullopt;
    }
    for (size_t i = 0; i < kShape.size(); ++i) {
        if (kShape[i] != '0' && text[i] != kShape[i]) {
            return std::nullopt;
        }
    }
    const auto year = Digits(text, 0, 4);
    const auto month = Digits(text, 5, 2);
    const auto day = Digits(text, 8, 2);
    const auto hour = Digits(text, 11, 2);
    const auto minute = Digits(text, 14, 2);
    const auto second = Digits(text, 17, 2);
    const auto ms = Digits(text, 20, 3);
    if (!year || !month || !day || !hour || !minute || !second || !ms || *month < 1 ||
        *month > 12 || *day < 1 || *day > 31 || *hour > 23 || *minute > 59 || *second > 60) {
        return std::nullopt;
    }
    tm utc{};
    utc.tm_year = *year - 1900;
    utc.tm_mon = *month - 1;
    utc.tm_mday = *day;
    utc.tm_hour = *hour;
    utc.tm_min = *minute;
    utc.tm_sec = *second;
    return static_cast<int64_t>(::timegm(&utc)) * 1000 + *ms;
}

std::string BytesToText(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            text += c;
        } else {
            text += static_cast<char>(0xC0 | (byte >> 6));
            text += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return text;
}

std::optional<std::string> TextToBytes(std::string_view text) {
    std::string bytes;
    bytes.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            bytes += text[i];
            continue;
        }
        // Only U+0080 to U+00FF: a lead byte of C2 or C3 and one continuation byte.
        if ((lead != 0xC2 && lead != 0xC3) || i + 1 >= text.size()) {
            return std::nullopt;
        }
        const auto next = static_cast<unsigned char>(text[++i]);
        if ((next & 0xC0) != 0x80) {
            return std::nullopt;
        }
        bytes += static_cast<char>(((lead & 0x03) << 6) | (next & 0x3F));
    }
    return bytes;
}

std::optional<std::vector<Traffic>> ReadTrace(std::string_view text, std::string& error) {
    std::vector<Traffic> traffic;
    size_t number = 0;
    bool begun = false;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++number;
        if (line.empty()) {
            continue;
        }
        const nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
        if (record.is_discarded() || !record.is_object()) {
            error = Line(number, "not a JSON object");
            return std::nullopt;
        }
        const auto time = record.find("t");
        const auto type = record.find("type");
        const std::optional<int64_t> ms = time != record.end() && time->is_string()
                                              ? ParseIsoTime(time->get_ref<const std::string&>())
                                              : std::nullopt;
        if (!ms || type == record.end() || !type->is_string()) {
            error = Line(number, R"(a record needs a time "t" and a "type")");
            return std::nullopt;
        }
        const auto& kind = type->get_ref<const std::string&>();
        if (!begun && kind != "connect") {
            error = Line(number, "a trace begins with its connect record");
            return std::nullopt;
        }
        begun = true;
        if (kind != "tx" && kind != "rx") {
            continue;
        }
        const auto port = record.find("port");
        const auto data = record.find("data");
        if (port == record.end() || !port->is_number_integer() || *port < 1 || *port > 255 ||
            data == record.end() || !data->is_string()) {
            error = Line(number, kind + R"( needs a port from 1 to 255 and its "data")");
            return std::nullopt;
        }
        std::optional<std::string> bytes = TextToBytes(data->get_ref<const std::string&>());
        if (!bytes) {
            error = Line(number, R"("data" holds a character that is no byte (above U+00FF))");
            return std::nullopt;
        }
        traffic.push_back({*ms, port->get<int>(), kind == "rx", std::move(*bytes)});
    }
    if (!begun) {
        error = "no records: a trace begins with its connect record";
        return std::nullopt;
    }
    return traffic;
}

RecordedReplies RepliesOnPort(const std::vector<Traffic>& traffic, int port) {
    RecordedReplies replies;
    std::vector<ReplyPiece>* answer = nullptr;
    int64_t sentAt = 0;
    for (const Traffic& record : traffic) {
        // A write of no bytes is no command; nothing could tell its answer from the last one's.
        if (record.Port != port || (!record.Received && record.Bytes.empty())) {
            continue;
        }
        if (!record.Received) {
            // Valid until the next tx, the only record that adds an answer.
            std::vector<std::vector<ReplyPiece>>& answers = replies[record.Bytes];
            answers.emplace_back();
            answer = &answers.back();
            sentAt = record.TimeMs;
        } else if (answer != nullptr) {
            answer->push_back({std::max<int64_t>(record.TimeMs - sentAt, 0), record.Bytes});
        }
    }
    return replies;
}

}  // namespace trace
