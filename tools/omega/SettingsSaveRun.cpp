#include "tools/omega/SettingsSaveRun.h"

#include <memory>

#include "devices/OmegaTempController.h"
#include "platform/ReplacementFile.h"
#include "serial/WireText.h"
#include "tools/omega/RegisterHex.h"
#include "tools/omega/RegisterTable.h"
#include "tools/omega/TempCtrlSettingsFile.h"

uint32_t PortNumberOfEntry(const std::wstring& text) {
    if (text.size() < 4 || text.compare(0, 3, L"COM") != 0) {
        return 0;
    }
    uint64_t number = 0;
    for (size_t i = 3; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        number = number * 10 + static_cast<uint64_t>(text[i] - L'0');
        if (number > 0x7FFFFFFF) {
            return 0;
        }
    }
    return static_cast<uint32_t>(number);
}

namespace {

RunOutcome Save(ISettingsSaveView& view, ControllerTuning tuning) {
    const int index = view.SelectedPortIndex();
    if (index <= 0) {
        view.ShowMessage(L"Please select a COM port.", platform::MessageStyle::Plain);
        return RunOutcome::Fail(platform::FailureKind::InvalidRequest,
                                L"Please select a COM port.");
    }

    // The new file is made before the controller is touched, so a bad path costs no port time.
    // It takes the chosen file's place only when every register has been read into it: until
    // then a settings file saved earlier stays as it was, whatever ends the run (a wrong port,
    // Cancel, a controller gone silent, a full disk, the program killed).
    const std::filesystem::path path = view.OutputPath();
    platform::CReplacementFile output;
    if (path.empty() || output.Create(path) != 0) {
        view.ShowMessage(L"Error creating output file.", platform::MessageStyle::Plain);
        return RunOutcome::Fail(platform::FailureKind::FileError, L"Error creating output file.");
    }

    auto controller = std::make_unique<COmegaTempController>();
    controller->Settings.PortNumber =
        static_cast<int32_t>(PortNumberOfEntry(view.SelectedPortText()));
    controller->Settings.BaudRate = 9600;
    controller->Settings.DataBits = 8;
    controller->Settings.Parity = 0;
    controller->Settings.StopBits = 0;
    controller->Settings.FlowControl = 0;
    if (tuning != nullptr) {
        tuning(*controller);
    }

    // The vocabulary gives the order, names and widths; the values are read from the controller.
    RegisterTable table = omega::RtdHeatFilterwheelTable();
    view.SetProgress(0.0, L"Connecting to temperature controller ...");
    if (!controller->OpenPort()) {
        view.ShowMessage(L"Error connecting to temperature controller.",
                         platform::MessageStyle::Plain);
        const platform::Failure failure = controller->LastFailure();
        view.SetProgress(0.0, wire::Widen(failure.Text));
        return RunOutcome::Fail(failure.Kind, wire::Widen(failure.Text));
    }

    double percent = 0.0;
    bool complete = true;
    platform::Failure lastFailure;  // why the controller failed the last register it failed
    const double step = 100.0 / static_cast<double>(table.size());
    RegisterTable read;
    for (RegisterEntry entry : table) {
        if (view.CancelEvent().Wait(0)) {
            controller->ClosePort();
            view.SetProgress(100.0, L"Cancelled.");
            return RunOutcome::Cancel();
        }
        view.SetProgress(percent, L"Getting " + entry.Name + L" ...");
        if (controller->ReadRegister(static_cast<int32_t>(entry.Register), entry.Value)) {
            percent += step;
        } else {
            complete = false;
            lastFailure = controller->LastFailure();
            view.ShowMessage(L"Error getting register 0x" + omega::WideHex(entry.Register, 2) +
                                 L" (" + entry.Name + L").",
                             platform::MessageStyle::Plain);
        }
        read.Set(std::move(entry));
    }

    // A register left at FFFFFFFF would make a file that no reset can take; better the file
    // that was there (or none) than that.
    if (!complete) {
        const std::wstring why =
            L"Not saved: some registers could not be read.\n" + wire::Widen(lastFailure.Text);
        view.SetProgress(100.0, why);
        controller->ClosePort();
        return RunOutcome::Fail(lastFailure.Kind, why);
    }
    if (output.Commit(omega::FormatSettingsFile(read)) != 0) {
        view.ShowMessage(L"Error writing output file.", platform::MessageStyle::Plain);
        return RunOutcome::Fail(platform::FailureKind::FileError, L"Error writing output file.");
    }
    view.SetProgress(100.0, L"Done.");
    controller->ClosePort();
    return {};
}

}  // namespace

RunOutcome RunSettingsSave(ISettingsSaveView& view, ControllerTuning tuning) {
    view.SetRunning(true);
    RunOutcome outcome = Save(view, tuning);
    // Every way out ends here: the controller is gone (its port closed) and the dialog idle.
    view.SetRunning(false);
    return outcome;
}
