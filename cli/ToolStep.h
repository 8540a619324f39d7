#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "cli/Report.h"
#include "cli/Terminal.h"
#include "platform/MessageSink.h"
#include "tools/RunOutcome.h"

// What the tool commands share: their one step in the report, the checks of the files they are
// given, and the terminal standing in for a tool window.
namespace cli {

// A tool command's step: timed from its start, kept in the report, printed when it ends, and
// turned into the command's exit status.
class CToolStep {
public:
    CToolStep(std::string name, CTerminal& terminal, CReport& report);

    // Bad input, found before any device is touched: says why and fails with a usage status.
    int Refuse(platform::FailureKind kind, const std::string& why);
    // Nothing done, at the technician's word.
    int Decline(const std::string& why);
    // The end of the run. value: what it did, when it did it.
    int Finish(const RunOutcome& outcome, const std::string& value);

private:
    StepRecord& Record() { return report_.Steps()[index_]; }
    void Show();

    CTerminal& terminal_;
    CReport& report_;
    size_t index_;
    std::chrono::steady_clock::time_point start_;
};

// What Ctrl-C does while this lives; nothing once it is gone. Declared after what the action
// refers to, so that it goes first.
class COnInterrupt {
public:
    explicit COnInterrupt(std::function<void()> action);
    ~COnInterrupt();
    COnInterrupt(const COnInterrupt&) = delete;
    COnInterrupt& operator=(const COnInterrupt&) = delete;
};

// Why a file a command reads cannot be: missing, unreadable, or not a regular file (opened as
// the tools open it, so a pipe is refused without waiting for a writer). Names the argument.
std::optional<std::string> InputProblem(const std::string& argument, const std::string& path);
// Why path cannot take the file a command writes: its folder missing, or something other than
// a regular file there, or (mustBeNew) anything there at all.
std::optional<std::string> OutputProblem(const std::string& argument, const std::string& path,
                                         bool mustBeNew);

// A run's message: success and plain ones on stdout, errors on stderr.
void ShowRunMessage(CTerminal& terminal, const std::wstring& text, platform::MessageStyle style);

// The progress and messages of a run written against a tool window's interface.
template <typename View>
class CTerminalView : public View {
public:
    explicit CTerminalView(CTerminal& terminal) : terminal_(terminal) {}

    void SetProgress(double percent, const std::wstring& text) override {
        percent_ = percent;
        terminal_.Progress(percent, Narrow(text));
    }
    void ShowMessage(const std::wstring& text, platform::MessageStyle style) override {
        ShowRunMessage(terminal_, text, style);
    }

protected:
    CTerminal& terminal_;
    double percent_ = 0.0;  // the last progress shown
};

}  // namespace cli
