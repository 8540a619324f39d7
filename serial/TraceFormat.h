#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The session trace's file format (docs/traces.md): JSON Lines, one record a line, each with its
// time "t" and its "type". Port traffic is a JSON string whose characters are the bytes, U+0000
// to U+00FF: printable ASCII reads as it is, every other byte is a JSON escape ("\r", "\u0006").
// What reads a trace here takes any input without crashing: it says what is wrong instead.
namespace trace {

// "2026-12-06T17:03:25.475Z": UTC, to the millisecond.
std::string IsoTime(std::chrono::system_clock::time_point time);
// IsoTime's text back as milliseconds since the epoch; nothing for any other text.
std::optional<int64_t> ParseIsoTime(std::string_view text);

// The bytes as the UTF-8 text of the characters U+0000 to U+00FF that a JSON string holds them
// as, and back; nothing when the text holds a character above U+00FF or is not UTF-8.
std::string BytesToText(std::string_view bytes);
std::optional<std::string> TextToBytes(std::string_view text);

// One tx or rx record of a trace, its time in milliseconds since the epoch.
struct Traffic {
    int64_t TimeMs = 0;
    int Port = 0;
    bool Received = false;
    std::string Bytes;
};

// What a trace file recorded of the traffic, in order; the other records are checked but not
// kept. Nothing, with "line N: what is wrong" in error, for a file that is not a trace (one
// begins with its connect record).
std::optional<std::vector<Traffic>> ReadTrace(std::string_view text, std::string& error);

// What a device answered on one port: for each command (the bytes of one tx record), every
// answer it gave, in order. An answer is the rx bytes up to the next tx on that port, each piece
// with its delay after the command.
struct ReplyPiece {
    int64_t DelayMs = 0;
    std::string Bytes;

    bool operator==(const ReplyPiece&) const = default;
};
using RecordedReplies = std::map<std::string, std::vector<std::vector<ReplyPiece>>>;
RecordedReplies RepliesOnPort(const std::vector<Traffic>& traffic, int port);

}  // namespace trace
