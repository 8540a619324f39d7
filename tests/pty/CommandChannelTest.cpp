// The command channel end to end: the v2.6 shutter controller driver against a simulated box
// on a pseudo-terminal. What each device does with a fault (a bad check byte, a late or missing
// answer, a hang-up) is the fault suite's, for every driver at once.
#include <gtest/gtest.h>
#include <pthread.h>
#include <time.h>

#include <chrono>
#include <thread>

#include "devices/ShutterBoxDevice.h"
#include "sim/ShutterControllerSim.h"
#include "support/TestPortDirectory.h"

namespace {

using testing_support::kFirstTestPort;

double ThreadCpuMs(std::thread& thread) {
    clockid_t clock;
    timespec ts{};
    if (::pthread_getcpuclockid(thread.native_handle(), &clock) != 0 ||
        ::clock_gettime(clock, &ts) != 0) {
        return 0.0;
    }
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

class CommandChannelTest : public testing_support::PortDirectoryTest {
protected:
    void SetUp() override {
        PortDirectoryTest::SetUp();
        box = std::make_unique<sim::CShutterControllerSim>(kFirstTestPort, PortDir());
        ASSERT_TRUE(box->Start());
        driver.Settings.PortNumber = kFirstTestPort;
        driver.SettleDelayMs = 0;
    }
    void TearDown() override {
        driver.ClosePort();
        box.reset();
        PortDirectoryTest::TearDown();
    }

    std::unique_ptr<sim::CShutterControllerSim> box;
    CShutterBoxDevice driver;
};

TEST_F(CommandChannelTest, ShutterCommandsRoundTrip) {
    ASSERT_TRUE(driver.OpenPort());
    int32_t state = -5;
    ASSERT_TRUE(driver.GetShutterState(state));
    EXPECT_EQ(state, 0);
    ASSERT_TRUE(driver.OpenShutter());
    EXPECT_EQ(box->ShutterState(), 1);
    ASSERT_TRUE(driver.GetShutterState(state));
    EXPECT_EQ(state, 1);
    // Closing writes the state byte 0 inside a five-byte command; all five must go out, and
    // nothing but the commands' own bytes (the state read that confirms it).
    box->ClearReceived();
    ASSERT_TRUE(driver.CloseShutter());
    EXPECT_EQ(box->ShutterState(), 0);
    EXPECT_EQ(box->ReceivedTail(), std::string("#0S\x00\xFF#0R", 8));

    CShutterBoxDevice::StatusMap status;
    box->SetStatus({{"sts", "ok"}, {"tmp", " 21 "}});
    ASSERT_TRUE(driver.ReadStatus(status));
    EXPECT_EQ(status.size(), 2u);
    EXPECT_EQ(status.at(L"tmp"), L"21");
}

TEST_F(CommandChannelTest, AWakeUpLeftOverFromAnEarlierReplyIsNotTakenForTheNextOne) {
    // A reply wakes its caller only once the monitoring thread has let go of the channel's
    // locks, so the wake-up can outlive a caller that gave up at that very moment. The next
    // command must still wait for its own answer.
    ASSERT_TRUE(driver.OpenPort());
    box->SetShutterState(1);
    box->SetReplyDelay(std::chrono::milliseconds(200));
    driver.ReplyReadyEvent.Set();
    int32_t state = -5;
    ASSERT_TRUE(driver.GetShutterState(state));
    EXPECT_EQ(state, 1);
    EXPECT_FALSE(driver.ReplyReadyEvent.IsSet());
    EXPECT_FALSE(driver.ReplyPendingEvent.IsSet());
}

TEST_F(CommandChannelTest, AHangUpMidCommandFailsItWithoutSpinningAndCloseReturns) {
    ASSERT_TRUE(driver.OpenPort());
    driver.ReplyTimeout = 500;
    box->HangUpOnNextReply();
    const double cpuBefore = ThreadCpuMs(driver.MonitorThread);
    int32_t state;
    EXPECT_FALSE(driver.GetShutterState(state));
    const double cpuUsed = ThreadCpuMs(driver.MonitorThread) - cpuBefore;
    // A thread that kept polling a hung-up terminal would burn the whole half second.
    EXPECT_LT(cpuUsed, 250.0);

    // Recovery once the adapter is back is the fault suite's; here only that close returns.
    EXPECT_TRUE(driver.ClosePort());
    EXPECT_FALSE(driver.MonitorThread.joinable());
}

TEST_F(CommandChannelTest, OpenPortRetriesOnceThenGivesUpLeavingNoThread) {
    driver.Settings.PortNumber = kFirstTestPort + 5;  // nothing published there
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(driver.OpenPort());
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100))
        << "one retry after a pause";
    EXPECT_FALSE(driver.MonitorThread.joinable());
    EXPECT_EQ(driver.ThreadAlive, 0);
    int32_t state;
    EXPECT_FALSE(driver.GetShutterState(state));
}

TEST_F(CommandChannelTest, ProbeOpensReadsAndClosesAgain) {
    EXPECT_TRUE(driver.Probe());
    EXPECT_FALSE(driver.IsOpen());
    CSerialPort plain;
    EXPECT_FALSE(plain.TestCommSettings(CommSettings{}));
    box->HangUp();
    EXPECT_FALSE(driver.Probe());
}

}  // namespace
