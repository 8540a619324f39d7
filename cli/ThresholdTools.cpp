// threshold get, set and search: the v3.0 shutter controller's light-sensor threshold, through
// the threshold window's advanced controls and its search.
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "cli/ToolStep.h"
#include "cli/Tools.h"
#include "devices/ShutterController3.h"
#include "tools/threshold/ThresholdSearch.h"

namespace cli {

namespace {

// The box needs this long to write its memory before the saved threshold reads back right.
constexpr auto kSaveSettleTime = std::chrono::milliseconds(50);

std::string ThresholdText(int32_t value) {
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), "0x%04X", static_cast<unsigned>(value) & 0xFFFFu);
    return text.data();
}

// The window's advanced controls, pressed as a technician presses them: Connect (which protects
// the saved threshold and reads both thresholds), the buttons, and Connect again to let go
// (which protects it again). Each press sends what the window's does, and fails with the
// window's words; the first failure is kept.
class CAdvancedControls {
public:
    CAdvancedControls(CTerminal& terminal, int port) : terminal_(terminal), port_(port) {}
    ~CAdvancedControls() { Disconnect(); }
    CAdvancedControls(const CAdvancedControls&) = delete;
    CAdvancedControls& operator=(const CAdvancedControls&) = delete;

    bool Connect() {
        CommSettings& settings = device_.Settings;
        settings.PortNumber = port_;
        settings.BaudRate = 9600;
        settings.DataBits = 8;
        settings.Parity = 0;
        settings.StopBits = 0;
        settings.FlowControl = 0;
        device_.PortConnected = device_.OpenPort() ? 1 : 0;
        if (device_.PortConnected == 0) {
            return Failed(L"Error connecting to shutter controller.");
        }
        // Whatever the box was left at, a fresh connection starts protected.
        return device_.SetWriteProtect(true) ? Refresh() : Failed(L"Error checking write protect.");
    }
    bool WriteProtect(bool protect) {
        return device_.SetWriteProtect(protect) || Failed(L"Error setting write protect.");
    }
    bool Set(uint16_t threshold) {
        return device_.SetThreshold(threshold) ? Refresh() : Failed(L"Error setting threshold.");
    }
    bool Save() {
        if (!device_.SaveThreshold()) {
            return Failed(L"Error saving active threshold to memory.");
        }
        std::this_thread::sleep_for(kSaveSettleTime);
        return Refresh();
    }
    // Leaves the box protected for whoever comes next.
    void Disconnect() {
        if (device_.PortConnected != 0) {
            WriteProtect(true);
            device_.ClosePort();
            device_.PortConnected = 0;
        }
    }

    // How the presses went; what the thresholds read last.
    RunOutcome Outcome() const { return outcome_; }
    int32_t Saved = 0;
    int32_t Active = 0;

private:
    bool Refresh() {
        if (!device_.ReadActiveThreshold(Active)) {
            return Failed(L"Error getting active threshold.");
        }
        return device_.ReadSavedThreshold(Saved) || Failed(L"Error getting saved threshold.");
    }
    bool Failed(const wchar_t* text) {
        // The window's message, and why the box failed as its status line shows it.
        const platform::Failure why = device_.LastFailure();
        terminal_.Error(Narrow(text) + (why.Text.empty() ? "" : " " + why.Text));
        if (outcome_.Ending == RunOutcome::End::Done) {
            const std::wstring reason = why.Text.empty() ? L"" : L"\n" + Widen(why.Text);
            outcome_ = RunOutcome::Fail(why.Kind, text + reason);
        }
        return false;
    }

    CTerminal& terminal_;
    int port_;
    CShutterController3 device_;
    RunOutcome outcome_;
};

class CSearchView final : public CTerminalView<IThresholdSearchView> {
public:
    CSearchView(CTerminal& terminal, int port) : CTerminalView(terminal), port_(port) {}
    int32_t SelectedPort() override { return port_; }
    void SearchEnded() override {}

private:
    int port_;
};

}  // namespace

int ThresholdGet(int port, CTerminal& terminal, CReport& report) {
    CToolStep step("threshold-get", terminal, report);
    report.AddPort("shutter", port);
    CAdvancedControls controls(terminal, port);
    if (controls.Connect()) {
        terminal.Line("Saved Threshold: " + ThresholdText(controls.Saved));
        terminal.Line("Active Threshold: " + ThresholdText(controls.Active));
    }
    controls.Disconnect();
    return step.Finish(controls.Outcome(), "saved " + ThresholdText(controls.Saved) + ", active " +
                                               ThresholdText(controls.Active));
}

int ThresholdSet(int port, uint16_t threshold, CTerminal& terminal, CReport& report) {
    CToolStep step("threshold-set", terminal, report);
    report.AddPort("shutter", port);
    CAdvancedControls controls(terminal, port);
    const bool stored = controls.Connect() && controls.WriteProtect(false) &&
                        controls.Set(threshold) && controls.Save();
    controls.Disconnect();
    RunOutcome outcome = controls.Outcome();
    if (stored && controls.Saved != threshold) {
        outcome =
            RunOutcome::Fail(platform::FailureKind::DeviceFault,
                             Widen("The saved threshold reads " + ThresholdText(controls.Saved) +
                                   ", not " + ThresholdText(threshold) + "."));
    }
    return step.Finish(outcome, ThresholdText(threshold) + " saved");
}

int ThresholdSearch(int port, CTerminal& terminal, CReport& report) {
    CToolStep step("threshold-search", terminal, report);
    report.AddPort("shutter", port);
    CShutterController3 device;
    std::atomic<int32_t> running{0};
    platform::ManualResetEvent cancel;
    CSearchView view(terminal, port);
    // Ctrl-C is the window's Cancel: the saved threshold is reloaded and the search ends.
    const COnInterrupt onInterrupt([&cancel] { cancel.Set(); });
    const ThresholdSearchOutcome outcome = RunThresholdSearch({device, running, cancel}, view);
    return step.Finish(outcome, ThresholdText(outcome.Threshold));
}

}  // namespace cli
