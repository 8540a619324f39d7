#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/ManualResetEvent.h"
#include "platform/MessageSink.h"
#include "tools/RunOutcome.h"
#include "tools/omega/SetProgressInterface.h"

class CShutterController3;

// What the threshold search needs of its dialog, called from the search's worker thread; each
// call returns when the dialog has carried it out.
class IThresholdSearchView : public CSetProgressInterface, public platform::IMessageSink {
public:
    // The port list's choice: the port number, -1 when none.
    virtual int32_t SelectedPort() = 0;
    // The search is over: "Run", the port list and the advanced-controls check box usable
    // again, "Cancel" not, and the advanced controls brought up to date.
    virtual void SearchEnded() = 0;
};

// The dialog's state that the search shares with it.
struct ThresholdSearchShared {
    CShutterController3& Device;
    // 1 from the search's start to its end.
    std::atomic<int32_t>& SearchRunning;
    // Set by "Cancel"; looked at between steps and reset when the search ends.
    platform::ManualResetEvent& CancelEvent;
};

// The search's fixed figures.
struct ThresholdSearchConstants {
    static constexpr uint16_t kStartThreshold = 0x0400;
    static constexpr int64_t kCancelPollMs = 5;
};

// Finds the threshold at which the v3.0 controller closes its shutter in the light present now
// and stores it in the controller's memory. With the shutter commanded open the threshold goes
// up in 6 dB steps until the shutter closes, down in 6 dB steps until it opens, and up one count
// at a time until it closes again: the threshold then is the closing point. Progress goes to
// the view; the search ends in success (a message with the threshold), an error (its message),
// or a cancel (the saved threshold reloaded, no message). Returns when the search has ended,
// with how it ended and, when it succeeded, the threshold found and stored.
struct ThresholdSearchOutcome : RunOutcome {
    int32_t Threshold = 0;
};
ThresholdSearchOutcome RunThresholdSearch(ThresholdSearchShared shared, IThresholdSearchView& view);

// Reads a desired threshold as typed: "0x" and hexadecimal digits, or the digits alone (at most
// four are read), clamped to 0x0400..0x0FFF. Nothing readable gives fallback.
uint16_t ReadDesiredThreshold(const std::wstring& text, uint16_t fallback);
