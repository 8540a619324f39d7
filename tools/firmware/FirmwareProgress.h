#pragma once

#include <cstdint>
#include <string>

// What the updater's status text, percentage label and progress bar show.
struct FirmwareProgressDisplay {
    bool Visible = false;  // all three are shown together and hidden together
    std::wstring StatusText = L"Status";
    std::wstring PercentText = L"0%";
    int32_t BarPosition = 0;  // 0 to 100

    bool operator==(const FirmwareProgressDisplay&) const = default;
};

// The updater's handling of the SMI host's notifications (code, value), as a window of the
// updater applies them to its three controls.
//
// A step notification (1, 4 to 8) stores its value as the notification total and shows the
// step's text. A progress notification (2) shows value * 100 / total, truncated, in the label,
// and on the bar when the total is positive; while the total is 0 it changes nothing. The end
// of a step (3) shows "100%" and hides the three controls. Other codes are ignored.
//
// The total belongs to the process, not to a window: a progress notification that comes before
// the first step of a run divides by what the previous run left there.
class CFirmwareProgress {
public:
    // Applies one notification; false when it left the display as it was.
    bool Apply(int32_t code, int32_t value);
    const FirmwareProgressDisplay& Display() const { return display_; }

    // The text a step shows; nullptr for codes that are not steps.
    static const wchar_t* StepText(int32_t code);

    static int32_t Total();
    // Back to the start-up value 0 (for tests, which share one process).
    static void ResetTotal();

private:
    FirmwareProgressDisplay display_;
};
