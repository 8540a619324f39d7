#include "cli/ToolStep.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "cli/Check.h"
#include "cli/Interrupt.h"
#include "platform/RegularFile.h"
#include "serial/TrafficEcho.h"

namespace cli {

namespace {

// A reason of several lines (a status line and the device's why) on one.
std::string OneLine(std::string text) {
    for (char& c : text) {
        c = c == '\n' ? ' ' : c;
    }
    return text;
}

std::string Quoted(const std::string& path) {
    return "'" + path + "'";
}

}  // namespace

CToolStep::CToolStep(std::string name, CTerminal& terminal, CReport& report)
    : terminal_(terminal),
      report_(report),
      index_(report.Steps().size()),
      start_(std::chrono::steady_clock::now()) {
    report.AddStep(std::move(name));
}

int CToolStep::Refuse(platform::FailureKind kind, const std::string& why) {
    Record().Result = "failed";
    Record().Kind = kind;
    Record().Error = why;
    terminal_.Error(why);
    return kExitUsage;
}

int CToolStep::Decline(const std::string& why) {
    Record().Result = "skipped";
    Record().Value = why;
    Show();
    return kExitFailed;
}

int CToolStep::Finish(const RunOutcome& outcome, const std::string& value) {
    StepRecord& record = Record();
    record.DurationMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_)
            .count();
    int status = kExitPassed;
    if (outcome.Ending == RunOutcome::End::Done) {
        record.Result = "passed";
        record.Value = value;
    } else {
        record.Result = "failed";
        record.Kind = outcome.Kind;
        const bool cancelled = outcome.Ending == RunOutcome::End::Cancelled;
        record.Error = cancelled ? "Cancelled." : OneLine(Narrow(outcome.Why));
        status = cancelled ? kExitInterrupted : ExitStatusFor(outcome.Kind);
    }
    // A run that went on to its end after Ctrl-C still says it was asked to stop.
    if (interrupt::Requested()) {
        status = kExitInterrupted;
    }
    Show();
    return status;
}

void CToolStep::Show() {
    const StepRecord& record = Record();
    terminal_.Coloured(StepLine(record) + "\n", record.Result == "passed"   ? kLogSuccess
                                                : record.Result == "failed" ? kLogError
                                                                            : kLogPlain);
}

COnInterrupt::COnInterrupt(std::function<void()> action) {
    interrupt::OnRequest(std::move(action));
}

COnInterrupt::~COnInterrupt() {
    interrupt::Clear();
}

std::optional<std::string> InputProblem(const std::string& argument, const std::string& path) {
    const int fd = platform::OpenRegularFile(path, O_RDONLY);
    if (fd >= 0) {
        ::close(fd);
        return std::nullopt;
    }
    const int error = errno;
    return argument + ": " + Quoted(path) +
           (error == platform::kNotARegularFile
                ? " is not a regular file (a folder, a pipe or a device)"
                : " cannot be read: " + std::string(std::strerror(error)));
}

std::optional<std::string> OutputProblem(const std::string& argument, const std::string& path,
                                         bool mustBeNew) {
    namespace fs = std::filesystem;
    if (path.empty()) {
        return argument + ": no file named";
    }
    const fs::path target(path);
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::error_code error;
    if (!fs::is_directory(folder, error)) {
        return argument + ": the folder " + Quoted(folder.string()) + " does not exist";
    }
    if (!fs::exists(fs::symlink_status(target, error))) {
        return std::nullopt;
    }
    if (mustBeNew) {
        return argument + ": " + Quoted(path) + " exists already, and is never overwritten";
    }
    if (!fs::is_regular_file(fs::status(target, error))) {
        return argument + ": " + Quoted(path) + " is not a regular file";
    }
    return std::nullopt;
}

void ShowRunMessage(CTerminal& terminal, const std::wstring& text, platform::MessageStyle style) {
    if (style == platform::MessageStyle::Error || style == platform::MessageStyle::Stop) {
        terminal.Error(Narrow(text));
    } else {
        terminal.Line(Narrow(text));
    }
}

}  // namespace cli
