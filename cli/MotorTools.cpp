// motor backup and motor load: the SmartMotor's program through the SMI host, its
// notifications shown as the updater window words them.
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <mutex>

#include "cli/Interrupt.h"
#include "cli/ToolStep.h"
#include "cli/Tools.h"
#include "tools/firmware/FirmwareProgress.h"
#include "tools/firmware/FirmwareUpdateRun.h"
#include "tools/firmware/Smi.h"

namespace cli {

namespace {

// The port as the SMI host is told it.
std::wstring SmiPortName(int port) {
    return L"Com" + std::to_wstring(port);
}

// The terminal of a transfer with the motor. Ctrl-C does not stop one, but is answered at once
// with a note, from the thread that waits for it: everything shown goes through one lock.
class CMotorTerminal {
public:
    explicit CMotorTerminal(CTerminal& terminal) : terminal_(terminal) {}

    void Notify(int32_t code, int32_t value) {
        const std::lock_guard lock(mutex_);
        if (!progress_.Apply(code, value)) {
            return;
        }
        // The window's texts; each step's bar starts empty rather than where the last one ended.
        const FirmwareProgressDisplay& display = progress_.Display();
        const double percent = code == smi_notify::kProgress   ? display.BarPosition
                               : code == smi_notify::kFinished ? 100.0
                                                               : 0.0;
        terminal_.Progress(percent, Narrow(display.StatusText));
        if (!display.Visible) {
            terminal_.EndProgress();
        }
    }
    void Message(const std::wstring& text, platform::MessageStyle style) {
        const std::lock_guard lock(mutex_);
        ShowRunMessage(terminal_, text, style);
    }
    // Says once that the transfer goes on.
    void Note(const char* text) {
        const std::lock_guard lock(mutex_);
        if (!noted_) {
            noted_ = true;
            terminal_.Error(text);
        }
    }

private:
    std::mutex mutex_;
    CTerminal& terminal_;
    CFirmwareProgress progress_;
    bool noted_ = false;
};

class CUpdateView final : public IFirmwareUpdateView {
public:
    CUpdateView(CMotorTerminal& terminal, int port, std::wstring path)
        : terminal_(terminal), port_(port), path_(std::move(path)) {}

    int SelectedPortIndex() override { return 1; }
    std::wstring SelectedPortText() override { return SmiPortName(port_); }
    std::wstring FirmwarePath() override { return path_; }
    void SetWaitCursor(bool) override {}
    void ShowMessage(const std::wstring& text, platform::MessageStyle style) override {
        terminal_.Message(text, style);
    }
    void ShowSmiError(const std::wstring& description) override {
        terminal_.Message(description.empty() ? kSmiErrorCaption : description,
                          platform::MessageStyle::Error);
    }
    void OnSmiNotification(int32_t code, int32_t value) override { terminal_.Notify(code, value); }

private:
    CMotorTerminal& terminal_;
    int port_;
    std::wstring path_;
};

// Finds the motor on port as the updater does, then reads its program into path.
RunOutcome Backup(int port, const std::string& path, CMotorTerminal& terminal) {
    std::unique_ptr<ISMIHost> host = CreateSmiHost();
    try {
        SmiCheck(host->SetNotify(
            [&terminal](int32_t code, int32_t value) { terminal.Notify(code, value); }));
        SmiCheck(host->SetPortName(SmiPortName(port)));
        SmiCheck(host->SetBaudRate(9600));
        SmiCheck(host->HostSetupOption(0));
        std::unique_ptr<ISMIMotor> motor;  // released before the host
        const SmiStatus got = host->GetMotor(1, motor);
        SmiCheck(got);
        if (!motor) {
            throw CSmiError(got);
        }
        SmiCheck(motor->BackupProgram(Widen(path)));
        return {};
    } catch (const CSmiError& error) {
        terminal.Message(error.Description(), platform::MessageStyle::Error);
        return RunOutcome::Fail(error.Kind(), error.Description());
    }
}

}  // namespace

int MotorBackup(int port, const std::string& file, CTerminal& terminal, CReport& report) {
    CToolStep step("motor-backup", terminal, report);
    report.AddPort("motor", port);
    if (const auto problem = OutputProblem("file", file, true)) {
        return step.Refuse(platform::FailureKind::FileError, *problem);
    }
    CMotorTerminal shown(terminal);
    const COnInterrupt note([&shown] {
        shown.Note("The backup goes on to its end: a transfer with the motor is never broken off.");
    });
    const RunOutcome outcome = Backup(port, file, shown);
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    return step.Finish(outcome, file + " (" + std::to_string(error ? 0 : size) + " bytes)");
}

int MotorLoad(int port, const std::string& file, bool yes, CTerminal& terminal, CReport& report) {
    CToolStep step("motor-load", terminal, report);
    report.AddPort("motor", port);
    if (const auto problem = InputProblem("file", file)) {
        return step.Refuse(platform::FailureKind::FileError, *problem);
    }
    if (!yes) {
        if (isatty(STDIN_FILENO) != 1) {
            return step.Refuse(platform::FailureKind::InvalidRequest,
                               "--yes: there is no terminal to ask before loading; pass --yes "
                               "to load without asking");
        }
        const bool agreed = terminal.Confirm("Load " + file + " into the motor on COM" +
                                             std::to_string(port) + "?");
        if (interrupt::Requested()) {
            return step.Finish(RunOutcome::Cancel(), "");
        }
        if (!agreed) {
            return step.Decline("not loaded: the answer was not yes");
        }
    }
    CMotorTerminal shown(terminal);
    CUpdateView view(shown, port, Widen(file));
    // A motor left with half a program would not run: the load always goes on to its end.
    const COnInterrupt note([&shown] {
        shown.Note("The load goes on to its end: a motor left with half a program would not run.");
    });
    const FirmwareUpdateOutcome outcome = RunFirmwareUpdate(view);
    return step.Finish(outcome, std::to_string(outcome.LoadedBytes) +
                                    " bytes loaded, the old program backed up to " +
                                    Narrow(outcome.BackupPath));
}

}  // namespace cli
