#include "tools/threshold/ThresholdSearch.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "devices/ShutterController3.h"
#include "serial/ReplyScan.h"
#include "serial/WireText.h"

namespace {

// How the search ends early: with a message for the user, or silently after a cancel.
struct Stop {
    std::wstring message;  // empty: cancelled
    std::string reason;    // why the controller failed the step, when it recorded why
    platform::FailureKind kind = platform::FailureKind::None;  // ... and its kind
};

std::wstring ThresholdText(int32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(value) & 0xFFFFu);
    return std::wstring(text, text + std::char_traits<char>::length(text));
}

class Search {
    using Step = CShutterController3::ThresholdStep;

public:
    Search(ThresholdSearchShared shared, IThresholdSearchView& view)
        : device_(shared.Device), cancel_(shared.CancelEvent), view_(view) {}

    // The threshold found, or how the search stopped.
    std::optional<Stop> Run(int32_t& found, bool wasProtected) {
        // Only what fails from here on stops the search; an older failure is not its reason.
        device_.ClearFailure();
        view_.SetProgress(0, L"Connecting to shutter controller.");
        CommSettings& settings = device_.Settings;
        settings.PortNumber = view_.SelectedPort();
        settings.BaudRate = 9600;
        settings.DataBits = 8;
        settings.Parity = 0;
        settings.StopBits = 0;
        settings.FlowControl = 0;
        if (device_.PortConnected == 0) {
            device_.PortConnected = device_.OpenPort() ? 1 : 0;
            if (device_.PortConnected == 0) {
                return Failed(L"Error connecting to shutter controller.");
            }
        }
        if (!device_.ReadActiveThreshold(found)) {
            return Failed(L"Shutter controller not found.");
        }
        if (!device_.SetWriteProtect(false)) {
            return Failed(L"Error clearing write protect.");
        }
        double p = 5;
        view_.SetProgress(p, L"Initializing settings.");
        if (!device_.SetThreshold(ThresholdSearchConstants::kStartThreshold)) {
            return Failed(L"Error setting threshold to 0x0400.");
        }
        if (!device_.OpenShutter()) {
            return Failed(L"Error opening shutter");
        }
        int32_t state = 0;
        if (!device_.GetShutterState(state) || state == 0) {
            return Failed(L"Error: shutter most be open to start.");
        }

        // Each phase takes at least one step, and ends only when the shutter changes state.
        // Its progress covers a fixed share of what is left of the phase at every step.
        if (auto stop = Phase(p, 20, 20, L"Searching for closing point with 6 dB steps.",
                              Step::Up6dB, L"Error incrementing threshold by 6 dB.", state, 1)) {
            return stop;
        }
        view_.SetProgress(20, L"Found closing point with 6 dB steps.");
        double q = 20;
        if (auto stop = Phase(q, 30, 10, L"Searching for opening point with 6 dB steps.",
                              Step::Down6dB, L"Error decrementing threshold by 6 dB.", state, 0)) {
            return stop;
        }
        view_.SetProgress(30, L"Found opening point with 6 dB steps.");
        p = 30;
        if (auto stop = Phase(p, 100, 250, L"Searching for closing point with 1 count steps.",
                              Step::Up1, L"Error incrementing threshold by 1 dB.", state, 1)) {
            return stop;
        }
        view_.SetProgress(100, L"Found opening point with 1 count steps.");

        if (!device_.ReadActiveThreshold(found)) {
            return Failed(L"Error getting active threshold.");
        }
        if (!device_.SaveThreshold()) {
            return Failed(L"Error saving threshold to memory.");
        }
        if (wasProtected && !device_.SetWriteProtect(true)) {
            return Failed(L"Error setting write protect.");
        }
        return std::nullopt;
    }

private:
    // One phase: step while the shutter stays in state `whileState`.
    std::optional<Stop> Phase(double& percent, double mark, double divisor, const wchar_t* status,
                              Step step, const wchar_t* failure, int32_t& state,
                              int32_t whileState) {
        do {
            percent += (mark - percent) / divisor;
            view_.SetProgress(percent, status);
            if (!device_.StepThreshold(step)) {
                return Failed(failure);
            }
            if (cancel_.Wait(ThresholdSearchConstants::kCancelPollMs)) {
                return Stop{};
            }
            // A state that could not be read leaves the last one; the next step reads again,
            // and its failure is no reason for whatever stops the search later.
            if (!device_.GetShutterState(state)) {
                device_.ClearFailure();
            }
        } while (state == whileState);
        return std::nullopt;
    }

    // Stops the search with message, and with the controller's reason when it recorded one.
    Stop Failed(const wchar_t* message) const {
        const platform::Failure failure = device_.LastFailure();
        return Stop{message, failure.Text, failure.Kind};
    }

    CShutterController3& device_;
    platform::ManualResetEvent& cancel_;
    IThresholdSearchView& view_;
};

}  // namespace

ThresholdSearchOutcome RunThresholdSearch(ThresholdSearchShared shared,
                                          IThresholdSearchView& view) {
    shared.SearchRunning = 1;
    CShutterController3& device = shared.Device;
    const bool wasConnected = device.PortConnected != 0;
    const bool wasProtected = device.WriteProtected != 0;

    int32_t found = 0;
    const std::optional<Stop> stop = Search(shared, view).Run(found, wasProtected);
    ThresholdSearchOutcome outcome;
    if (!stop) {
        outcome.Threshold = found;
        view.ShowMessage(L"Threshold setting was found (" + ThresholdText(found) + L")",
                         platform::MessageStyle::Success);
        view.SetProgress(100, L"Configuration complete. Threshold = " + ThresholdText(found));
    } else if (!stop->message.empty()) {
        // The threshold stays where the search left it, and write protection off, so that the
        // technician can see and finish by hand what went wrong.
        view.ShowMessage(stop->message, platform::MessageStyle::Stop);
        const std::wstring why = stop->reason.empty()
                                     ? stop->message
                                     : stop->message + L"\n" + wire::Widen(stop->reason);
        view.SetProgress(100, why);
        outcome = {RunOutcome::Fail(stop->kind, why), 0};
    } else {
        outcome = {RunOutcome::Cancel(), 0};
        // Cancelled: back to the threshold the controller had saved, and to its protection.
        device.ReloadThreshold();
        if (wasProtected) {
            device.SetWriteProtect(true);
        }
    }

    if (!wasConnected) {
        device.ClosePort();
        device.PortConnected = 0;
    }
    view.SearchEnded();
    shared.CancelEvent.Reset();
    shared.SearchRunning = 0;
    return outcome;
}

uint16_t ReadDesiredThreshold(const std::wstring& text, uint16_t fallback) {
    std::wstring_view digits = text;
    while (!digits.empty() && (digits.front() == L' ' || digits.front() == L'\t')) {
        digits.remove_prefix(1);
    }
    if (digits.size() >= 2 && digits[0] == L'0' && (digits[1] == L'x' || digits[1] == L'X')) {
        digits.remove_prefix(2);
    }
    uint32_t value = 0;
    size_t read = 0;
    for (; read < digits.size() && read < 4; ++read) {
        const wchar_t c = digits[read];
        const int digit = c < 0x80 ? wire::HexValue(static_cast<char>(c)) : -1;
        if (digit < 0) {
            break;
        }
        value = value * 16 + static_cast<uint32_t>(digit);
    }
    if (read == 0) {
        return fallback;
    }
    return static_cast<uint16_t>(std::clamp<uint32_t>(value, 0x0400, 0x0FFF));
}
