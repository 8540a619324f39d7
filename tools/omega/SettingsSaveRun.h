#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/AutoResetEvent.h"
#include "platform/MessageSink.h"
#include "tools/RunOutcome.h"
#include "tools/omega/SetProgressInterface.h"

class COmegaTempController;

// What the save run needs of its dialog. The run calls it from its worker thread; every call
// returns only when the dialog has carried it out.
class ISettingsSaveView : public CSetProgressInterface, public platform::IMessageSink {
public:
    // Index of the chosen entry of the COM list (0 is "-- Select One --", -1 none) and its text.
    virtual int SelectedPortIndex() = 0;
    virtual std::wstring SelectedPortText() = 0;
    virtual std::filesystem::path OutputPath() = 0;
    // Running: the wait cursor, the progress controls shown, "Save Settings" disabled and
    // "Cancel" enabled. Not running: the buttons back as at start-up and the normal cursor.
    virtual void SetRunning(bool running) = 0;
    // Set by "Cancel"; the run consumes it between registers.
    virtual platform::AutoResetEvent& CancelEvent() = 0;
};

// Adjusts a controller made for a run before it opens (tests shorten its time-outs).
using ControllerTuning = void (*)(COmegaTempController&);

// Reads the controller's registers of the vocabulary into the chosen file, with progress,
// messages and cancellation through view. Returns when the run has ended, with how it ended.
RunOutcome RunSettingsSave(ISettingsSaveView& view, ControllerTuning tuning = nullptr);

// The port number of a "COM%u" entry; 0 when the text is not one.
uint32_t PortNumberOfEntry(const std::wstring& text);
