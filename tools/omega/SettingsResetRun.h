#pragma once

#include <array>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/AutoResetEvent.h"
#include "platform/MessageSink.h"
#include "tools/omega/SetProgressInterface.h"
#include "tools/omega/SettingsSaveRun.h"

// The configurations the reset tool offers, in the order of its list.
inline constexpr std::wstring_view kCustomSettingsFile = L"Custom Settings File";
extern const std::array<std::wstring_view, 4> kResetConfigurations;

// Whether a configuration's text names the settings file choice (case does not matter).
bool IsCustomSettingsFile(const std::wstring& configuration);

// What the reset run needs of its dialog; called from the run's worker thread, each call
// returning when the dialog has carried it out.
class ISettingsResetView : public CSetProgressInterface, public platform::IMessageSink {
public:
    virtual int SelectedPortIndex() = 0;
    virtual std::wstring SelectedPortText() = 0;
    // "Use Factory Default COM Settings": 7 data bits and odd parity instead of 8 and none.
    virtual bool UseFactoryDefaults() = 0;
    virtual std::wstring SelectedConfiguration() = 0;
    virtual std::filesystem::path InputPath() = 0;
    // The progress bar's position as it stands.
    virtual int ProgressPosition() = 0;
    // Running: wait cursor, progress controls shown, everything but "Cancel" disabled.
    // Not running: the idle state, the path field enabled only for the settings file choice.
    virtual void SetRunning(bool running) = 0;
    virtual platform::AutoResetEvent& CancelEvent() = 0;
};

// Writes the chosen configuration to the controller with read-back, then restarts it so that
// it takes the settings up. Returns when the run has ended, with how it ended: failed when a
// register did not take its value, though the controller is restarted all the same.
RunOutcome RunSettingsReset(ISettingsResetView& view, ControllerTuning tuning = nullptr);
