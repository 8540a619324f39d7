// The automatic light-sensor threshold search against a simulated v3.0 shutter controller.
#include <gmock/gmock.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "devices/ShutterController3.h"
#include "sim/ShutterControllerSim.h"
#include "support/TestPortDirectory.h"
#include "tools/threshold/ThresholdSearch.h"

namespace {

using platform::MessageStyle;
using sim::CShutterControllerSim;
using testing_support::kFirstTestPort;

using Messages = std::vector<std::pair<std::wstring, MessageStyle>>;

class RecordingView : public IThresholdSearchView {
public:
    void SetProgress(double percent, const std::wstring& text) override {
        steps.emplace_back(percent, text);
        if (text == cancelAt) {
            cancel.Set();
        }
    }
    void ShowMessage(const std::wstring& text, MessageStyle style) override {
        messages.emplace_back(text, style);
    }
    int32_t SelectedPort() override { return port; }
    void SearchEnded() override { ++ended; }

    std::vector<std::pair<double, std::wstring>> steps;
    Messages messages;
    int32_t port = kFirstTestPort;
    int ended = 0;
    std::wstring cancelAt;  // the status at which "Cancel" is pressed
    platform::ManualResetEvent cancel;
};

const std::wstring kPhase1 = L"Searching for closing point with 6 dB steps.";
const std::wstring kPhase2 = L"Searching for opening point with 6 dB steps.";
const std::wstring kPhase3 = L"Searching for closing point with 1 count steps.";

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
    // A search from a fresh view; asserts that it ended the way every search ends.
    void Run(bool portOpen = false) {
        view.steps.clear();
        view.messages.clear();
        view.ended = 0;
        box->ClearReceived();
        RunThresholdSearch({device, running, view.cancel}, view);
        EXPECT_EQ(view.ended, 1);
        EXPECT_EQ(running.load(), 0);
        EXPECT_FALSE(view.cancel.IsSet());
        EXPECT_EQ(device.PortConnected, portOpen ? 1 : 0);
        EXPECT_EQ(device.IsOpen(), portOpen);
        ASSERT_FALSE(view.steps.empty());
    }
    size_t Sent(const std::string& command) {
        const std::string sent = box->ReceivedTail();
        size_t count = 0;
        for (size_t at = sent.find(command); at != std::string::npos;
             at = sent.find(command, at + command.size())) {
            ++count;
        }
        return count;
    }

    std::unique_ptr<CShutterControllerSim> box;
    CShutterController3 device;
    std::atomic<int32_t> running{0};
    RecordingView view;
};

// Up in 6 dB steps from 0x0400 until the shutter closes, down until it opens, up one count at a
// time until it closes: each phase steps at least once, and the closing point is stored.
TEST_F(ThresholdSearch, FindsAndStoresTheClosingPointOfTheLightPresentInAFixedShareOfEachPhase) {
    struct Row {
        uint16_t light;
        size_t up6dB, down6dB, up1;
        const wchar_t* found;
    };
    for (const Row& row : {Row{0x0401, 1, 1, 1, L"0x0401"}, Row{0x1003, 3, 1, 3, L"0x1003"}}) {
        SCOPED_TRACE(row.light);
        box->SetLightLevel(row.light);
        box->SetSavedThreshold(0x0600);
        Run();
        EXPECT_TRUE(Eventually([&] { return box->WriteProtected(); })) << "protection as it was";
        EXPECT_EQ(box->ActiveThreshold(), row.light);
        EXPECT_EQ(box->SavedThreshold(), row.light);
        EXPECT_EQ(Sent("!0TH6+"), row.up6dB);
        EXPECT_EQ(Sent("!0TH6-"), row.down6dB);
        EXPECT_EQ(Sent("!0TH+"), row.up1);
        EXPECT_EQ(Sent("!0TS"), 1u);
        EXPECT_EQ(view.messages,
                  (Messages{{L"Threshold setting was found (" + std::wstring(row.found) + L")",
                             MessageStyle::Success}}));
        EXPECT_EQ(view.steps.back(), std::make_pair(100.0, L"Configuration complete. Threshold = " +
                                                               std::wstring(row.found)));
    }
    // Each phase covers a fixed share of the progress. The last light: 0x400 doubles three times
    // to pass 0x1C00; one halving opens it; 0x1000 counts up to it.
    using testing::DoubleEq;
    using testing::Pair;
    EXPECT_THAT(
        view.steps,
        testing::ElementsAre(
            Pair(0.0, L"Connecting to shutter controller."), Pair(5.0, L"Initializing settings."),
            Pair(DoubleEq(5.75), kPhase1), Pair(DoubleEq(6.4625), kPhase1),
            Pair(DoubleEq(7.139375), kPhase1), Pair(20.0, L"Found closing point with 6 dB steps."),
            Pair(21.0, kPhase2), Pair(30.0, L"Found opening point with 6 dB steps."),
            Pair(DoubleEq(30.28), kPhase3), Pair(DoubleEq(30.55888), kPhase3),
            Pair(DoubleEq(30.83664448), kPhase3),
            Pair(100.0, L"Found opening point with 1 count steps."), testing::_));
}

TEST_F(ThresholdSearch, CancelInAnyPhaseReloadsTheSavedThresholdSilently) {
    for (const std::wstring& phase : {kPhase1, kPhase2, kPhase3}) {
        SCOPED_TRACE(std::string(phase.begin(), phase.end()));
        box->SetLightLevel(0x0810);
        box->SetSavedThreshold(0x0700);
        view.cancelAt = phase;
        Run();
        EXPECT_TRUE(Eventually([&] { return box->WriteProtected(); }));
        EXPECT_TRUE(view.messages.empty());
        EXPECT_EQ(view.steps.back().second, phase) << "the status stays at the running phase";
        EXPECT_EQ(box->ActiveThreshold(), 0x0700) << "reloaded";
        EXPECT_EQ(box->SavedThreshold(), 0x0700);
        EXPECT_EQ(Sent("!0TR"), 1u);
        EXPECT_EQ(Sent("!0TS"), 0u);
    }

    // A port the user had connected stays open, and unprotected stays unprotected.
    ASSERT_TRUE(device.OpenPort());
    device.PortConnected = 1;
    ASSERT_TRUE(device.SetWriteProtect(false));
    view.cancelAt = kPhase2;
    Run(true);
    EXPECT_TRUE(Eventually([&] { return box->ActiveThreshold() == 0x0700; }));
    EXPECT_FALSE(box->WriteProtected());
}

TEST_F(ThresholdSearch, ErrorsEndTheSearchWithTheirMessage) {
    // The light fails just after the shutter opened: no threshold step is taken, and protection
    // is left off for the technician.
    box->SetLightLevel(0x0800);
    box->DimAfterStateReads(1, 0x0300);
    Run();
    const std::wstring closed = L"Error: shutter most be open to start.";
    EXPECT_EQ(view.messages, (Messages{{closed, MessageStyle::Stop}}));
    EXPECT_EQ(view.steps.back(), std::make_pair(100.0, closed));
    EXPECT_EQ(Sent("!0TH6+"), 0u);
    EXPECT_FALSE(box->WriteProtected());

    box->SetThresholdQueryMute(true);
    Run();
    EXPECT_EQ(view.messages, (Messages{{L"Shutter controller not found.", MessageStyle::Stop}}));
    view.port = -1;
    Run();
    EXPECT_EQ(view.messages,
              (Messages{{L"Error connecting to shutter controller.", MessageStyle::Stop}}));
}

TEST(DesiredThreshold, TypedTextIsReadAsHexAndClamped) {
    const std::pair<const wchar_t*, uint16_t> rows[] = {
        {L"0X0abc", 0x0ABC}, {L" 800 ", 0x0800}, {L"0x03FF", 0x0400}, {L"0x0FFF", 0x0FFF},
        {L"FFFF", 0x0FFF},   {L"", 0x0500},      {L"0x", 0x0500},     {L"zz", 0x0500}};
    for (const auto& [text, value] : rows) {
        EXPECT_EQ(ReadDesiredThreshold(text, 0x500), value)
            << testing::PrintToString(std::wstring(text));
    }
}

}  // namespace
