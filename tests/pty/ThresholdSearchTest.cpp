// The automatic light-sensor threshold search against a simulated v3.0 shutter controller.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "devices/ShutterController3.h"
#include "sim/ShutterControllerSim.h"
#include "support/TestPortDirectory.h"
#include "tools/threshold/ThresholdSearch.h"

namespace {

using platform::MessageStyle;
using sim::CShutterControllerSim;
using testing_support::kFirstTestPort;

struct Step {
    double percent;
    std::wstring text;
};

class RecordingView : public IThresholdSearchView {
public:
    void SetProgress(double percent, const std::wstring& text) override {
        steps.push_back({percent, text});
        if (onProgress) {
            onProgress(text);
        }
    }
    void ShowMessage(const std::wstring& text, MessageStyle style) override {
        messages.push_back(text);
        styles.push_back(style);
    }
    int32_t SelectedPort() override { return port; }
    void SearchEnded() override { ++ended; }

    // The percentages shown with status text.
    std::vector<double> Percents(const std::wstring& text) const {
        std::vector<double> percents;
        for (const Step& step : steps) {
            if (step.text == text) {
                percents.push_back(step.percent);
            }
        }
        return percents;
    }

    std::vector<Step> steps;
    std::vector<std::wstring> messages;
    std::vector<MessageStyle> styles;
    int32_t port = kFirstTestPort;
    int ended = 0;
    std::function<void(const std::wstring&)> onProgress;
};

const std::wstring kPhase1 = L"Searching for closing point with 6 dB steps.";
const std::wstring kPhase2 = L"Searching for opening point with 6 dB steps.";
const std::wstring kPhase3 = L"Searching for closing point with 1 count steps.";

size_t Occurrences(const std::string& haystack, const std::string& needle) {
    size_t count = 0;
    for (size_t at = haystack.find(needle); at != std::string::npos;
         at = haystack.find(needle, at + needle.size())) {
        ++count;
    }
    return count;
}

// The last commands of a search are sent without awaiting a reply, so the controller may still
// be taking them in when the search returns: waits, bounded, until it has.
bool Eventually(const std::function<bool()>& condition) {
    for (int i = 0; i < 2000 && !condition(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return condition();
}

class ThresholdSearch : public testing_support::PortDirectoryTest {
protected:
    void SetUp() override {
        PortDirectoryTest::SetUp();
        box = std::make_unique<CShutterControllerSim>(kFirstTestPort, PortDir(),
                                                      CShutterControllerSim::Generation::V30);
        ASSERT_TRUE(box->Start());
        device.SettleDelayMs = 0;
        device.ReplyTimeout = 150;
    }
    void TearDown() override {
        device.ClosePort();
        box.reset();
        PortDirectoryTest::TearDown();
    }
    void Run() { RunThresholdSearch({device, running, cancel}, view); }
    // Asserts that the search ended the way every search ends.
    void ExpectEnded(bool portOpen) {
        EXPECT_EQ(view.ended, 1);
        EXPECT_EQ(running.load(), 0);
        EXPECT_FALSE(cancel.IsSet());
        EXPECT_EQ(device.PortConnected, portOpen ? 1 : 0);
        EXPECT_EQ(device.IsOpen(), portOpen);
    }

    std::unique_ptr<CShutterControllerSim> box;
    CShutterController3 device;
    std::atomic<int32_t> running{0};
    platform::ManualResetEvent cancel;
    RecordingView view;
};

TEST_F(ThresholdSearch, FindsAndStoresTheClosingPointOfTheLightPresent) {
    for (const uint16_t light : {0x0401, 0x0805, 0x1010}) {
        SCOPED_TRACE(light);
        view = RecordingView();
        box->SetLightLevel(light);
        box->SetSavedThreshold(0x0600);
        Run();

        const std::wstring found = [&] {
            wchar_t text[8];
            std::swprintf(text, 8, L"0x%04X", static_cast<unsigned>(light));
            return std::wstring(text);
        }();
        EXPECT_TRUE(Eventually([&] { return box->WriteProtected(); })) << "protection as it was";
        EXPECT_EQ(box->ActiveThreshold(), light);
        EXPECT_EQ(box->SavedThreshold(), light) << "stored with !0TS";
        EXPECT_EQ(view.messages,
                  std::vector<std::wstring>{L"Threshold setting was found (" + found + L")"});
        EXPECT_EQ(view.styles, std::vector<MessageStyle>{MessageStyle::Success});
        ASSERT_FALSE(view.steps.empty());
        EXPECT_EQ(view.steps.back().text, L"Configuration complete. Threshold = " + found);
        EXPECT_EQ(view.steps.back().percent, 100.0);
        ExpectEnded(false);
    }
}

TEST_F(ThresholdSearch, ProgressCoversAFixedShareOfEachPhase) {
    // 0x400 doubles three times to pass 0x1C00; one halving opens it; 0x1000 counts up to it.
    box->SetLightLevel(0x1003);
    Run();
    ASSERT_TRUE(Eventually([&] { return box->SavedThreshold() == 0x1003; }));

    EXPECT_EQ(view.steps[0].text, L"Connecting to shutter controller.");
    EXPECT_EQ(view.steps[1].text, L"Initializing settings.");
    EXPECT_EQ(view.steps[1].percent, 5.0);
    const std::vector<double> phase1 = view.Percents(kPhase1);
    ASSERT_EQ(phase1.size(), 3u);
    EXPECT_DOUBLE_EQ(phase1[0], 5.75);
    EXPECT_DOUBLE_EQ(phase1[1], 6.4625);
    EXPECT_DOUBLE_EQ(phase1[2], 7.139375);
    EXPECT_EQ(view.Percents(kPhase2), std::vector<double>{21.0});
    const std::vector<double> phase3 = view.Percents(kPhase3);
    ASSERT_EQ(phase3.size(), 3u);
    EXPECT_DOUBLE_EQ(phase3[0], 30.28);
    EXPECT_DOUBLE_EQ(phase3[1], 30.55888);
    EXPECT_DOUBLE_EQ(phase3[2], 30.83664448);
    EXPECT_EQ(view.Percents(L"Found closing point with 6 dB steps."), std::vector<double>{20.0});
    EXPECT_EQ(view.Percents(L"Found opening point with 6 dB steps."), std::vector<double>{30.0});
    EXPECT_EQ(view.Percents(L"Found opening point with 1 count steps."),
              std::vector<double>{100.0});
}

TEST_F(ThresholdSearch, EveryPhaseStepsAtLeastOnce) {
    // Already tripped at 0x0400 the shutter could not be open; just above, each phase's end
    // condition is met after its first step.
    box->SetLightLevel(0x0401);
    box->ClearReceived();
    Run();
    ASSERT_TRUE(Eventually([&] { return box->WriteProtected(); }));
    const std::string sent = box->ReceivedTail();
    EXPECT_EQ(Occurrences(sent, "!0TH6+"), 1u);
    EXPECT_EQ(Occurrences(sent, "!0TH6-"), 1u);
    EXPECT_EQ(Occurrences(sent, "!0TH+"), 1u);
    EXPECT_EQ(Occurrences(sent, "!0TS"), 1u);
}

TEST_F(ThresholdSearch, CancelInAnyPhaseReloadsTheSavedThresholdSilently) {
    for (const std::wstring& phase : {kPhase1, kPhase2, kPhase3}) {
        SCOPED_TRACE(std::string(phase.begin(), phase.end()));
        view = RecordingView();
        box->SetLightLevel(0x0810);
        box->SetSavedThreshold(0x0700);
        box->ClearReceived();
        view.onProgress = [&](const std::wstring& text) {
            if (text == phase) {
                cancel.Set();
            }
        };
        Run();
        EXPECT_TRUE(Eventually([&] { return box->WriteProtected(); }));
        EXPECT_TRUE(view.messages.empty());
        EXPECT_EQ(view.steps.back().text, phase) << "the status stays at the running phase";
        EXPECT_EQ(box->ActiveThreshold(), 0x0700) << "reloaded";
        EXPECT_EQ(box->SavedThreshold(), 0x0700);
        EXPECT_TRUE(box->WriteProtected());
        EXPECT_EQ(Occurrences(box->ReceivedTail(), "!0TR"), 1u);
        EXPECT_EQ(Occurrences(box->ReceivedTail(), "!0TS"), 0u);
        ExpectEnded(false);
    }

    // A port the user had connected stays open, and unprotected stays unprotected.
    view = RecordingView();
    ASSERT_TRUE(device.OpenPort());
    device.PortConnected = 1;
    ASSERT_TRUE(device.SetWriteProtect(false));
    view.onProgress = [&](const std::wstring& text) {
        if (text == kPhase2) {
            cancel.Set();
        }
    };
    Run();
    EXPECT_TRUE(Eventually([&] { return box->ActiveThreshold() == 0x0700; }));
    EXPECT_FALSE(box->WriteProtected());
    ExpectEnded(true);
}

TEST_F(ThresholdSearch, ErrorsEndTheSearchWithTheirMessage) {
    // The light fails just after the shutter opened: no threshold step is taken.
    box->SetLightLevel(0x0800);
    box->DimAfterStateReads(1, 0x0300);
    box->ClearReceived();
    Run();
    EXPECT_EQ(view.messages,
              std::vector<std::wstring>{L"Error: shutter most be open to start."});
    EXPECT_EQ(view.styles, std::vector<MessageStyle>{MessageStyle::Stop});
    EXPECT_EQ(view.steps.back().percent, 100.0);
    EXPECT_EQ(view.steps.back().text, L"Error: shutter most be open to start.");
    EXPECT_EQ(Occurrences(box->ReceivedTail(), "!0TH6+"), 0u);
    EXPECT_FALSE(box->WriteProtected()) << "left off for the technician";
    ExpectEnded(false);

    view = RecordingView();
    box->SetThresholdQueryMute(true);
    Run();
    EXPECT_EQ(view.messages, std::vector<std::wstring>{L"Shutter controller not found."});
    ExpectEnded(false);

    view = RecordingView();
    view.port = -1;
    Run();
    EXPECT_EQ(view.messages,
              std::vector<std::wstring>{L"Error connecting to shutter controller."});
    ExpectEnded(false);
}

TEST(DesiredThreshold, TypedTextIsReadAsHexAndClamped) {
    EXPECT_EQ(ReadDesiredThreshold(L"0x0ABC", 0x500), 0x0ABC);
    EXPECT_EQ(ReadDesiredThreshold(L"0X0abc", 0x500), 0x0ABC);
    EXPECT_EQ(ReadDesiredThreshold(L"abc", 0x500), 0x0ABC);
    EXPECT_EQ(ReadDesiredThreshold(L" 800 ", 0x500), 0x0800);
    EXPECT_EQ(ReadDesiredThreshold(L"0x0100", 0x500), 0x0400);
    EXPECT_EQ(ReadDesiredThreshold(L"FFFF", 0x500), 0x0FFF);
    EXPECT_EQ(ReadDesiredThreshold(L"123456", 0x500), 0x0FFF) << "four digits at most";
    EXPECT_EQ(ReadDesiredThreshold(L"", 0x500), 0x0500);
    EXPECT_EQ(ReadDesiredThreshold(L"0x", 0x500), 0x0500);
    EXPECT_EQ(ReadDesiredThreshold(L"zz", 0x500), 0x0500);
}

}  // namespace
