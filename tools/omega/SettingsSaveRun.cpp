#include "tools/omega/SettingsSaveRun.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "devices/OmegaTempController.h"
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

// Writes all of text to the file that the run created, without truncating it again.
bool WriteOutput(const std::filesystem::path& path, const std::string& text, bool& opened) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    opened = fd >= 0;
    if (!opened) {
        return false;
    }
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        done += static_cast<size_t>(wrote);
    }
    const bool closed = ::close(fd) == 0;
    return done == text.size() && closed;
}

void Save(ISettingsSaveView& view, ControllerTuning tuning) {
    const int index = view.SelectedPortIndex();
    if (index <= 0) {
        view.ShowMessage(L"Please select a COM port.", platform::MessageStyle::Plain);
        return;
    }

    // The file is made before the controller is touched, so a bad path costs no port time.
    const std::filesystem::path path = view.OutputPath();
    std::FILE* created = path.empty() ? nullptr : std::fopen(path.c_str(), "wb");
    if (created == nullptr) {
        view.ShowMessage(L"Error creating output file.", platform::MessageStyle::Plain);
        return;
    }
    std::fclose(created);

    auto controller = std::make_unique<COmegaTempController>();
    controller->Settings.PortNumber = static_cast<int32_t>(PortNumberOfEntry(view.SelectedPortText()));
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
        return;
    }

    double percent = 0.0;
    const double step = 100.0 / static_cast<double>(table.size());
    RegisterTable read;
    for (RegisterEntry entry : table) {
        if (view.CancelEvent().Wait(0)) {
            controller->ClosePort();
            view.SetProgress(100.0, L"Cancelled.");
            return;
        }
        view.SetProgress(percent, L"Getting " + entry.Name + L" ...");
        if (controller->ReadRegister(static_cast<int32_t>(entry.Register), entry.Value)) {
            percent += step;
        } else {
            // The line shows FFFFFFFF for it, which no register of the controller can hold.
            view.ShowMessage(L"Error getting register 0x" + omega::WideHex(entry.Register, 2) +
                                 L" (" + entry.Name + L").",
                             platform::MessageStyle::Plain);
        }
        read.Set(std::move(entry));
    }

    bool opened = false;
    const bool written = WriteOutput(path, omega::FormatSettingsFile(read), opened);
    if (!opened) {
        view.ShowMessage(L"Error opening output file for writing!", platform::MessageStyle::Plain);
        return;
    }
    if (!written) {
        view.ShowMessage(L"Error writing output file.", platform::MessageStyle::Plain);
        return;
    }
    view.SetProgress(100.0, L"Done.");
    controller->ClosePort();
}

}  // namespace

void RunSettingsSave(ISettingsSaveView& view, ControllerTuning tuning) {
    view.SetRunning(true);
    Save(view, tuning);
    // Every way out ends here: the controller is gone (its port closed) and the dialog idle.
    view.SetRunning(false);
}
