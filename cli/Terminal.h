#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "platform/Failure.h"

// How pravikctl talks to the person (or the script) that started it.
namespace cli {

// The exit statuses, the same for every command.
inline constexpr int kExitPassed = 0;
inline constexpr int kExitFailed = 1;    // a step, or the tool's run, failed
inline constexpr int kExitNoDevice = 2;  // could not connect: the port busy, forbidden, missing
inline constexpr int kExitUsage = 64;    // the command line was wrong (EX_USAGE)
inline constexpr int kExitInterrupted = 130;  // Ctrl-C, as a shell reports it

// Whether a failure means there was nothing to talk to (2) or the device answered wrongly (1).
int ExitStatusFor(platform::FailureKind kind);

// Output: plain lines to stdout, problems to stderr, and on a terminal a progress bar that
// rewrites its own line and colours in the console log's colours. Where stdout is a pipe or a
// file, everything is plain lines a script can read, without escapes.
class CTerminal {
public:
    explicit CTerminal(std::FILE* out = stdout, std::FILE* err = stderr);

    bool Interactive() const { return interactive_; }

    // One line on stdout (the newline is added).
    void Line(std::string_view text);
    // "pravikctl: " and the text on stderr.
    void Error(std::string_view text);
    // Text in one of the log's colours (a serial::LogCode); plain where not a terminal.
    void Coloured(std::string_view text, int logCode);

    // Progress of a run. On a terminal, a bar redrawn in place; otherwise a line each time the
    // text changes (never one per percent, so a log of the run stays readable).
    void Progress(double percent, std::string_view text);
    // Ends a bar so that the next line starts on a line of its own.
    void EndProgress();

    // Asks a yes/no question on the terminal; false when stdin is not one or the answer is not
    // yes.
    bool Confirm(std::string_view question);

private:
    std::FILE* out_;
    std::FILE* err_;
    bool interactive_;
    bool barShown_ = false;
    std::string lastText_;
};

// The wide texts of the core, as the terminal shows them (UTF-8).
std::string Narrow(std::wstring_view text);
// A UTF-8 text (a path from the command line) as the core's wide texts hold it.
std::wstring Widen(std::string_view text);

}  // namespace cli
