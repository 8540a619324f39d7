#pragma once

#include <optional>
#include <string>
#include <string_view>

// What the replies to the drivers' commands mean, for the traffic log: each driver reads them
// with its own parsers and says in a few words what they report ("shutter open", "filter 3",
// "process 25.0").
namespace reply_meaning {

// A received line as the text parsers read it: without the line feed left over from the CR LF
// that ended the line before, without its own line end, and up to a NUL.
std::string_view LineText(std::string_view reply);

// A reading with at least one decimal ("25.0", "-3.25"), whatever the user's locale.
std::string Reading(double value);

}  // namespace reply_meaning

// The meaning of reply as the answer to command (the bytes written to its port), as the driver
// that sends that command reads it; nothing for traffic no driver knows. A ReplyMeaning.
std::optional<std::string> DescribeReply(std::string_view command, std::string_view reply);
