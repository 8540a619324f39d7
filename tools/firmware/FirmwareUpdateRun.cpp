#include "tools/firmware/FirmwareUpdateRun.h"

#include <locale.h>
#include <time.h>

#include <memory>

#include "serial/WireText.h"

namespace {

// The wait cursor stays on however the run ends.
class WaitCursor {
public:
    explicit WaitCursor(IFirmwareUpdateView& view) : view_(view) { view_.SetWaitCursor(true); }
    ~WaitCursor() { view_.SetWaitCursor(false); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    IFirmwareUpdateView& view_;
};

std::tm LocalTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

FirmwareUpdateOutcome Update(IFirmwareUpdateView& view, const SmiHostFactory& createHost) {
    // A message that ends the run before the motor is asked anything.
    auto refuse = [&view](platform::FailureKind kind, const wchar_t* text) {
        view.ShowMessage(text, platform::MessageStyle::Plain);
        return FirmwareUpdateOutcome{RunOutcome::Fail(kind, text), {}, 0};
    };
    using platform::FailureKind;
    if (view.SelectedPortIndex() < 1) {
        return refuse(FailureKind::InvalidRequest, L"Please select a Com port.");
    }
    const std::wstring portName = view.SelectedPortText();
    const std::wstring firmwarePath = view.FirmwarePath();
    if (firmwarePath.empty()) {
        return refuse(FailureKind::InvalidRequest, L"Please select a firmware file.");
    }

    // Declared before the motor so that the motor is released first, then the interfaces
    // with the host.
    std::unique_ptr<ISMIHost> host = createHost ? createHost() : nullptr;
    if (!host) {
        return refuse(FailureKind::NotFitted, L"Cannot create an instance of \"SMIHost\" class!");
    }
    // Held to the end and never called: a host without them is not the host this was made for.
    ISMICMotion* const motion = host->QueryCMotion();
    if (motion == nullptr) {
        return refuse(FailureKind::NotFitted, L"The interface \"ISMICMotion\" not found!");
    }
    ISMIPath* const path = host->QueryPath();
    if (path == nullptr) {
        return refuse(FailureKind::NotFitted, L"The interface \"ISMIPath\" not found!");
    }

    FirmwareUpdateOutcome outcome;
    std::unique_ptr<ISMIMotor> motor;
    try {
        SmiCheck(host->SetNotify(
            [&view](int32_t code, int32_t value) { view.OnSmiNotification(code, value); }));
        SmiCheck(host->SetPortName(portName));
        SmiCheck(host->SetBaudRate(9600));
        int32_t setup = 0;
        SmiCheck(host->HostSetupQuery(setup));
        SmiCheck(host->HostSetupOption(0));
        const SmiStatus got = host->GetMotor(1, motor);
        SmiCheck(got);
        if (!motor) {
            throw CSmiError(got);
        }
        const std::wstring backup = BackupFileName(firmwarePath, LocalTimeNow());
        SmiCheck(motor->BackupProgram(backup));
        outcome.BackupPath = backup;
        int32_t loaded = 0;
        SmiCheck(motor->DownloadProgram(firmwarePath, 1, loaded));
        outcome.LoadedBytes = loaded;
        view.ShowMessage(L"Download complete!", platform::MessageStyle::Plain);
    } catch (const CSmiError& error) {
        motor.reset();
        view.ShowSmiError(error.Description());
        // A backup made before the failure stays, and the outcome still says where it is.
        outcome = {RunOutcome::Fail(error.Kind(), error.Description()), outcome.BackupPath, 0};
    }
    return outcome;
}

}  // namespace

FirmwareUpdateOutcome RunFirmwareUpdate(IFirmwareUpdateView& view,
                                        const SmiHostFactory& createHost) {
    WaitCursor cursor(view);
    return Update(view, createHost);
}

FirmwareUpdateOutcome RunFirmwareUpdate(IFirmwareUpdateView& view) {
    return RunFirmwareUpdate(view, CreateSmiHost);
}

std::wstring FormatBackupTime(const std::tm& localTime) {
    // The month's name must not follow the user's locale (the window toolkit sets it from the
    // environment): the backup names read the same on every machine.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
    if (cLocale == nullptr) {
        return {};
    }
    char text[129];
    const size_t length = strftime_l(text, sizeof text, "%d %b %Y - %H_%M_%S", &localTime, cLocale);
    return wire::Widen(std::string_view(text, length));
}

std::wstring BackupFileName(const std::wstring& firmwarePath, const std::tm& localTime) {
    const size_t separator = firmwarePath.find_last_of(L"/\\");
    const std::wstring folder =
        separator == std::wstring::npos ? std::wstring() : firmwarePath.substr(0, separator + 1);
    return folder + L"Backup " + FormatBackupTime(localTime) + L".sms";
}
