#include "tools/omega/SettingsResetRun.h"

#include <memory>
#include <optional>

#include "devices/OmegaTempController.h"
#include "serial/WireText.h"
#include "tools/omega/RegisterTable.h"
#include "tools/omega/TempCtrlSettingsFile.h"
#include "tools/omega/WriteRegisters.h"

const std::array<std::wstring_view, 4> kResetConfigurations = {
    omega::kRtdHeatFilterwheel, omega::kRtdHeatCoolFilterwheel, omega::kThermocoupleHeat,
    kCustomSettingsFile};

namespace {

wchar_t Lower(wchar_t c) {
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

bool SameIgnoringCase(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) {
            return false;
        }
    }
    return true;
}

std::optional<RegisterTable> BuiltInTable(const std::wstring& configuration) {
    if (SameIgnoringCase(configuration, omega::kRtdHeatFilterwheel)) {
        return omega::RtdHeatFilterwheelTable();
    }
    if (SameIgnoringCase(configuration, omega::kRtdHeatCoolFilterwheel)) {
        return omega::RtdHeatCoolFilterwheelTable();
    }
    if (SameIgnoringCase(configuration, omega::kThermocoupleHeat)) {
        return omega::ThermocoupleHeatTable();
    }
    return std::nullopt;
}

// Passes the messages of the register writes on, counting them: each is a register that did
// not take its value.
class CountedMessages final : public platform::IMessageSink {
public:
    explicit CountedMessages(platform::IMessageSink& sink) : sink_(sink) {}
    void ShowMessage(const std::wstring& text, platform::MessageStyle style) override {
        ++count;
        sink_.ShowMessage(text, style);
    }
    int count = 0;

private:
    platform::IMessageSink& sink_;
};

RunOutcome Reset(ISettingsResetView& view, ControllerTuning tuning) {
    auto controller = std::make_unique<COmegaTempController>();
    if (view.SelectedPortIndex() <= 0) {
        view.ShowMessage(L"Please select a COM port.", platform::MessageStyle::Plain);
        return RunOutcome::Fail(platform::FailureKind::InvalidRequest,
                                L"Please select a COM port.");
    }
    // A controller fresh from the factory talks 7 data bits with odd parity; the configurations
    // switch it to 8 bits without parity ("COM Settings" 25).
    const bool factory = view.UseFactoryDefaults();
    CommSettings& settings = controller->Settings;
    settings.PortNumber = static_cast<int32_t>(PortNumberOfEntry(view.SelectedPortText()));
    settings.BaudRate = 9600;
    settings.DataBits = factory ? 7 : 8;
    settings.Parity = factory ? 1 : 0;
    settings.StopBits = 0;
    settings.FlowControl = 0;
    if (tuning != nullptr) {
        tuning(*controller);
    }

    // A settings file is read and checked whole before the port is opened: the controller hears
    // nothing of a file that cannot be written to it in full, and the person gets one message
    // with the first line at fault on the status line, not one per line.
    const std::wstring configuration = view.SelectedConfiguration();
    std::optional<RegisterTable> table = BuiltInTable(configuration);
    if (!table && IsCustomSettingsFile(configuration)) {
        CTempCtrlSettingsFile file;
        RegisterTable read;
        if (!file.Open(view.InputPath()) || !file.ReadSettingsFile(read)) {
            if (!file.Problem().empty()) {
                view.SetProgress(0.0, file.Problem());
            }
            view.ShowMessage(L"Error opening input file.", platform::MessageStyle::Plain);
            return RunOutcome::Fail(
                platform::FailureKind::FileError,
                file.Problem().empty() ? L"Error opening input file." : file.Problem());
        }
        table = std::move(read);
    }

    view.SetProgress(0.0, L"Connecting to temperature controller ...");
    if (!controller->OpenPort()) {
        view.ShowMessage(L"Error connecting to temperature controller.",
                         platform::MessageStyle::Plain);
        const platform::Failure failure = controller->LastFailure();
        view.SetProgress(0.0, wire::Widen(failure.Text));
        return RunOutcome::Fail(failure.Kind, wire::Widen(failure.Text));
    }

    bool ok = false;
    std::string lastFailure;
    CountedMessages notTaken(view);
    RunOutcome outcome;
    if (table) {
        ok = omega::WriteRegisters(*controller, *table, view, view.CancelEvent(), notTaken,
                                   &lastFailure);
        if (!ok) {
            outcome = RunOutcome::Cancel();
        }
    } else {
        view.ShowMessage(L"Invalid settings configuration selection.",
                         platform::MessageStyle::Error);
        outcome = RunOutcome::Fail(platform::FailureKind::InvalidRequest,
                                   L"Invalid settings configuration selection.");
    }

    std::wstring text;
    if (ok) {
        view.SetProgress(view.ProgressPosition(), L"Resetting Controller");
        controller->ResetController();
        text = L"Done.";
    } else {
        view.ShowMessage(L"Errors encountered!", platform::MessageStyle::Error);
        text = L"Done with Errors.";
    }
    // A register the controller failed is worth its reason, whatever the run's end.
    if (!lastFailure.empty()) {
        text += L"\n" + wire::Widen(lastFailure);
    }
    view.SetProgress(100.0, text);
    controller->ClosePort();
    if (ok && notTaken.count > 0) {
        return RunOutcome::Fail(platform::FailureKind::DeviceFault,
                                std::to_wstring(notTaken.count) +
                                    L" register(s) did not take the value written." +
                                    (lastFailure.empty() ? L"" : L"\n" + wire::Widen(lastFailure)));
    }
    return outcome;
}

}  // namespace

bool IsCustomSettingsFile(const std::wstring& configuration) {
    return SameIgnoringCase(configuration, kCustomSettingsFile);
}

RunOutcome RunSettingsReset(ISettingsResetView& view, ControllerTuning tuning) {
    view.SetRunning(true);
    RunOutcome outcome = Reset(view, tuning);
    view.SetRunning(false);
    return outcome;
}
