#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "platform/MessageSink.h"
#include "tools/RunOutcome.h"
#include "tools/firmware/Smi.h"

// The caption of the box that shows a failed SMI operation's description.
inline constexpr const wchar_t* kSmiErrorCaption = L"ZororUdiruVovirivuv Error!";

// What the firmware update needs of its window. Everything is called on the thread that runs
// the update, and returns when the window has carried it out.
class IFirmwareUpdateView : public platform::IMessageSink {
public:
    // Index of the chosen entry of the port list (0 is "-- Select One --", -1 none) and its
    // text ("Com3").
    virtual int SelectedPortIndex() = 0;
    virtual std::wstring SelectedPortText() = 0;
    // The path field's text as it stands.
    virtual std::wstring FirmwarePath() = 0;
    // The wait cursor, on from the start of a run to its end.
    virtual void SetWaitCursor(bool on) = 0;
    // A failed SMI operation: a box owned by the window, captioned kSmiErrorCaption, with the
    // exclamation icon, an OK button and the description as its text (empty when there is none).
    virtual void ShowSmiError(const std::wstring& description) = 0;
    // A notification of the SMI host, while one of its operations runs; CFirmwareProgress says
    // what it does to the window.
    virtual void OnSmiNotification(int32_t code, int32_t value) = 0;
};

// "Download to SmartMotor": checks the choices, creates the SMI host, sets it up for the chosen
// port, gets motor 1, backs its program up beside the firmware file, downloads the firmware
// file and says "Download complete!". Plain messages go to the view's ShowMessage (style
// Plain): "Please select a Com port.", "Please select a firmware file.", the three messages of
// a host that cannot be made or lacks an interface, and "Download complete!". A failed SMI
// operation ends the run with ShowSmiError. The host and motor are released before it returns,
// with how the run ended and, when it loaded the file, where the old program went and how many
// bytes the motor took.
struct FirmwareUpdateOutcome : RunOutcome {
    std::wstring BackupPath;
    int32_t LoadedBytes = 0;
};
FirmwareUpdateOutcome RunFirmwareUpdate(IFirmwareUpdateView& view,
                                        const SmiHostFactory& createHost);
FirmwareUpdateOutcome RunFirmwareUpdate(IFirmwareUpdateView& view);

// The local time as a backup's name carries it: "%d %b %Y - %H_%M_%S" in the C locale
// ("04 Mar 2025 - 09_05_07"), whatever locale the program runs in; empty if it cannot be made.
std::wstring FormatBackupTime(const std::tm& localTime);

// The backup file for a firmware file: the firmware file's folder (the path up to and including
// its last '/' or '\'; nothing when it has neither, which means the current folder), "Backup ",
// the time, ".sms".
std::wstring BackupFileName(const std::wstring& firmwarePath, const std::tm& localTime);
