// Both temperature-controller drivers against simulated controllers over pseudo-terminals.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>

#include "devices/Athena16TempController.h"
#include "devices/OmegaTempController.h"
#include "sim/Athena16Sim.h"
#include "sim/OmegaControllerSim.h"
#include "support/TestPortDirectory.h"

namespace {

using namespace std::chrono_literals;
using sim::CAthena16Sim;
using sim::COmegaControllerSim;
using testing_support::kFirstTestPort;

// How often command appears in the controller's log.
long Count(const std::vector<std::string>& commands, const std::string& command) {
    return std::count(commands.begin(), commands.end(), command);
}

class TempControllers : public testing_support::PortDirectoryTest {
protected:
    void SetUp() override {
        PortDirectoryTest::SetUp();
        omega.Settings.PortNumber = kFirstTestPort;
        athena.Settings.PortNumber = kFirstTestPort;
        omega.ReadBackDelayMs = 0;
        omega.DecimalPointRetryDelayMs = 0;
        omega.EchoFixDelayMs = 0;
    }
    void TearDown() override {
        omega.ClosePort();
        athena.ClosePort();
        omegaSim.reset();
        athenaSim.reset();
        PortDirectoryTest::TearDown();
    }
    COmegaControllerSim& StartOmega() {
        omegaSim = std::make_unique<COmegaControllerSim>(kFirstTestPort, PortDir());
        EXPECT_TRUE(omegaSim->Start());
        return *omegaSim;
    }
    CAthena16Sim& StartAthena() {
        athenaSim = std::make_unique<CAthena16Sim>(kFirstTestPort, PortDir());
        EXPECT_TRUE(athenaSim->Start());
        return *athenaSim;
    }
    // Opens the Omega on a controller whose echo is off, and forgets the opening's traffic.
    void OpenOmega() {
        ASSERT_TRUE(omega.OpenPort());
        ASSERT_FALSE(omega.EchoMode());
        omegaSim->ClearReceived();
    }

    COmegaTempController omega;
    CAthena16TempController athena;
    std::unique_ptr<COmegaControllerSim> omegaSim;
    std::unique_ptr<CAthena16Sim> athenaSim;
};

TEST_F(TempControllers, OmegaWithoutEchoIsOnlyAskedForItsBusFormat) {
    StartOmega();
    ASSERT_TRUE(omega.OpenPort());
    EXPECT_TRUE(omega.IsOpen());
    EXPECT_FALSE(omega.EchoMode());
    EXPECT_EQ(omegaSim->Commands(), std::vector<std::string>{"R1F"});
    EXPECT_EQ(omegaSim->Restarts(), 0u);
}

TEST_F(TempControllers, OmegaThatEchoesHasItsEchoBitClearedAndIsRestarted) {
    StartOmega().SetRegister(0x1F, 0x34);
    omega.ReplyTimeout = 100;  // neither the write nor the restart gets an answer it reads
    ASSERT_TRUE(omega.OpenPort());
    EXPECT_TRUE(omega.EchoMode());
    const std::string expected = "*R1F\r*W1F30\r*Z02\r";
    ASSERT_TRUE(omegaSim->WaitForReceived(expected.size(), 5s));
    EXPECT_EQ(omegaSim->ReceivedTail(), expected);
    EXPECT_EQ(omegaSim->Register(0x1F), 0x30u);
    EXPECT_FALSE(omegaSim->EchoMode());
    EXPECT_EQ(omegaSim->Restarts(), 1u);

    omega.ReplyTimeout = 1000;
    double setpoint = 0.0;
    ASSERT_TRUE(omega.GetSetpoint(setpoint)) << "answers come without the prefix now";
    EXPECT_DOUBLE_EQ(setpoint, 25.0);
}

TEST_F(TempControllers, OmegaThatEchoesWithTheBitClearIsWrittenTheSameFormat) {
    StartOmega().ForceEcho(true);
    // The write and the restart are answered in a form the driver does not take, so each ends
    // by its time-out: short, but not so short that a busy machine misses the first answer.
    omega.ReplyTimeout = 400;
    ASSERT_TRUE(omega.OpenPort());
    EXPECT_TRUE(omega.EchoMode());
    const std::string expected = "*R1F\r*W1F30\r*Z02\r";
    ASSERT_TRUE(omegaSim->WaitForReceived(expected.size(), 5s));
    EXPECT_EQ(omegaSim->ReceivedTail(), expected);
    double setpoint = 0.0;
    EXPECT_FALSE(omega.GetSetpoint(setpoint)) << "still echoing: \"R012000FA\" is no set point";
}

TEST_F(TempControllers, OmegaSkipsItsOwnCommandRepeatedByTheLine) {
    StartOmega().SetCommandEcho(true);
    ASSERT_TRUE(omega.OpenPort());
    EXPECT_FALSE(omega.EchoMode());
    ASSERT_TRUE(omega.ClosePort());

    omegaSim->SetRegister(0x1F, 0x34);
    omega.ReplyTimeout = 100;
    ASSERT_TRUE(omega.OpenPort());
    EXPECT_TRUE(omega.EchoMode()) << "\"*R1F\" skipped, \"R1F34\" read";
    EXPECT_EQ(omegaSim->Register(0x1F), 0x30u);
}

TEST_F(TempControllers, OmegaReadsTemperatureAndBothSetpoints) {
    StartOmega();
    OpenOmega();
    omegaSim->SetTimeConstant(1e9);  // the process stays where it is put
    omegaSim->SetProcessTemperature(-12.3);
    double value = 0.0;
    ASSERT_TRUE(omega.GetTemperature(value));
    EXPECT_DOUBLE_EQ(value, -12.3);
    EXPECT_DOUBLE_EQ(omega.LastTemperature, -12.3);

    omegaSim->SetRegister(0x08, 0x41);  // whole degrees on the display
    ASSERT_TRUE(omega.GetTemperature(value));
    EXPECT_DOUBLE_EQ(value, -12.0);

    ASSERT_TRUE(omega.GetSetpoint(value));
    EXPECT_DOUBLE_EQ(value, 25.0);
    ASSERT_TRUE(omega.GetSetpoint2(value));
    EXPECT_DOUBLE_EQ(value, 0.0);
    omegaSim->SetRegister(0x02, 0xA000FA);
    ASSERT_TRUE(omega.GetSetpoint2(value));
    EXPECT_DOUBLE_EQ(value, -25.0);
    EXPECT_TRUE(omega.HasSetpoint2());

    uint32_t raw = 0;
    ASSERT_TRUE(omega.ReadRegister(0x26, raw));
    EXPECT_EQ(raw, static_cast<uint32_t>('*'));
    omega.ReplyTimeout = 100;
    EXPECT_FALSE(omega.ReadRegister(0x06, raw)) << "not a register of this controller";
    EXPECT_EQ(raw, 0xFFFFFFFFu);
    EXPECT_EQ(omega.RegisterReadPending, 0u);
    EXPECT_DOUBLE_EQ(omega.LastTemperature, -12.0) << "reads of other kinds leave it";
}

TEST_F(TempControllers, OmegaSetpointIsWrittenThenReadBackUntilTheControllerShowsIt) {
    StartOmega().SetStaleReads(3);
    OpenOmega();
    ASSERT_TRUE(omega.SetSetpoint(37.5));
    EXPECT_EQ(omegaSim->Register(0x01), 0x200177u);
    EXPECT_EQ(omegaSim->Commands(),
              (std::vector<std::string>{"R1F", "R08", "W01200177", "R01", "R01", "R01", "R01"}));

    ASSERT_TRUE(omega.SetSetpoint2(-5.0));
    EXPECT_EQ(omegaSim->Register(0x02), 0xA00032u);
    EXPECT_EQ(omegaSim->LastCommand(), "R02");

    // A controller that never shows the value is read 20 times; the write still succeeded.
    omegaSim->SetStaleReads(1000);
    const auto before = omegaSim->Commands().size();
    ASSERT_TRUE(omega.SetSetpoint(30.0));
    const std::vector<std::string> log = omegaSim->Commands();
    EXPECT_EQ(log.size() - before, 2u + COmegaTempController::kSetpointReadBackTries);
    EXPECT_EQ(Count(log, "W0120012C"), 1);
}

TEST_F(TempControllers, OmegaSetpointWithDecimalPointZeroIsPaddedWithBlanks) {
    StartOmega().SetRegister(0x08, 0x40);
    OpenOmega();
    ASSERT_TRUE(omega.SetSetpoint(25.0));
    EXPECT_NE(omegaSim->ReceivedTail().find("*W01     3\r"), std::string::npos);
    EXPECT_EQ(omegaSim->Register(0x01), 0x000003u);
    double setpoint = 0.0;
    ASSERT_TRUE(omega.GetSetpoint(setpoint));
    EXPECT_DOUBLE_EQ(setpoint, 30.0) << "tens: 25 was rounded to 3";
}

TEST_F(TempControllers, OmegaSetpointIsNotWrittenWhenOutOfRangeOrTheDecimalPointIsUnknown) {
    StartOmega();
    OpenOmega();
    omega.ReplyTimeout = 100;
    EXPECT_FALSE(omega.SetSetpoint(131072.0));
    EXPECT_FALSE(omega.SetSetpoint2(-200000.0));

    omegaSim->DropReplies(2);
    EXPECT_FALSE(omega.SetSetpoint(30.0)) << "the decimal point was asked for twice, in vain";
    const std::vector<std::string> log = omegaSim->Commands();
    EXPECT_EQ(log, (std::vector<std::string>{"R1F", "R08", "R08", "R08", "R08"}));
    EXPECT_EQ(omegaSim->Register(0x01), 0x2000FAu);

    omegaSim->DropReplies(1);
    EXPECT_TRUE(omega.SetSetpoint(30.0)) << "the second try answered";
    EXPECT_EQ(omegaSim->Register(0x01), 0x20012Cu);
}

TEST_F(TempControllers, OmegaResetWaitsUntilTheRestartedControllerAnswersASetpoint) {
    StartOmega().SetRestartTime(150ms);
    OpenOmega();
    omega.ReplyTimeout = 20;  // each read during the restart times out
    ASSERT_TRUE(omega.ResetController());
    EXPECT_EQ(omegaSim->Restarts(), 1u);
    EXPECT_EQ(omegaSim->LastCommand(), "R01") << "answered once it was up again";

    // A controller whose set point reads zero is asked 50 times, and the reset still succeeds.
    omegaSim->SetRestartTime(0ms);
    omegaSim->SetRegister(0x01, 0);
    omega.ReplyTimeout = 1000;
    ASSERT_TRUE(omega.ResetController());
    const std::vector<std::string> log = omegaSim->Commands();
    const auto z = std::find(log.rbegin(), log.rend(), "Z02");
    EXPECT_EQ(std::count(log.rbegin(), z, "R01"), COmegaTempController::kResetReadBackTries);
}

TEST_F(TempControllers, OmegaProcessTemperatureApproachesTheSetpoint) {
    StartOmega();
    OpenOmega();
    omegaSim->SetTimeConstant(0.05);
    omegaSim->SetProcessTemperature(20.0);
    ASSERT_TRUE(omega.SetSetpoint(30.0));
    double previous = 0.0;
    ASSERT_TRUE(omega.GetTemperature(previous));
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    double reading = previous;
    while (reading < 29.9 && std::chrono::steady_clock::now() < deadline) {
        ASSERT_TRUE(omega.GetTemperature(reading));
        EXPECT_GE(reading, previous) << "heating towards the set point never goes back";
        EXPECT_LE(reading, 30.0);
        previous = reading;
    }
    EXPECT_GE(reading, 29.9);
    EXPECT_DOUBLE_EQ(omega.LastTemperature, reading);
}

TEST_F(TempControllers, OmegaStaysUsableAfterAMissedReply) {
    StartOmega();
    OpenOmega();
    omega.ReplyTimeout = 100;
    omegaSim->DropReplies(1);
    double value = 0.0;
    EXPECT_FALSE(omega.GetTemperature(value));
    EXPECT_DOUBLE_EQ(omega.LastTemperature, 0.0) << "only a successful read sets it";
    EXPECT_TRUE(omega.GetTemperature(value));
    EXPECT_DOUBLE_EQ(omega.LastTemperature, 25.0);
}

TEST_F(TempControllers, AthenaIdentifiesReadsAndWritesItsSetpoint) {
    StartAthena();
    ASSERT_TRUE(athena.OpenPort());
    EXPECT_EQ(athena.IdentityText, L" 16DCB030");

    double value = 0.0;
    ASSERT_TRUE(athena.GetTemperature(value));
    EXPECT_DOUBLE_EQ(value, 23.0) << "whole degrees of 23.7";
    EXPECT_DOUBLE_EQ(athena.LastTemperature, 23.0);
    ASSERT_TRUE(athena.GetSetpoint(value));
    EXPECT_DOUBLE_EQ(value, 25.0);

    EXPECT_TRUE(athena.SetSetpoint(30.0));
    EXPECT_EQ(athenaSim->LastCommand(), "#01M01 30.0C");
    EXPECT_DOUBLE_EQ(athenaSim->Setpoint(), 30.0);
    EXPECT_TRUE(athena.SetSetpoint(-7.5));
    EXPECT_EQ(athenaSim->LastCommand(), "#01M01 -7.5C");

    EXPECT_FALSE(athena.SetSetpoint(20.05)) << "the controller took 20.1, which is not 20.05";
    EXPECT_EQ(athenaSim->LastCommand(), "#01M01 20.1C");
    EXPECT_DOUBLE_EQ(athenaSim->Setpoint(), 20.1);
}

TEST_F(TempControllers, AthenaHasNoSecondSetpointAndNeedsNoReset) {
    StartAthena();
    ASSERT_TRUE(athena.OpenPort());
    const uint64_t commands = athenaSim->CommandsSeen();
    double value = 1.0;
    EXPECT_FALSE(athena.HasSetpoint2());
    EXPECT_FALSE(athena.GetSetpoint2(value));
    EXPECT_DOUBLE_EQ(value, 1.0);
    EXPECT_FALSE(athena.SetSetpoint2(30.0));
    EXPECT_TRUE(athena.ResetController());
    ASSERT_TRUE(athena.GetTemperature(value));
    EXPECT_EQ(athenaSim->CommandsSeen(), commands + 1) << "only the temperature read went out";
}

TEST_F(TempControllers, AthenaErrorFailsTheCommandByTimeOutAndTheDriverCarriesOn) {
    StartAthena();
    ASSERT_TRUE(athena.OpenPort());
    athena.ReplyTimeout = 100;
    {
        std::lock_guard command(athena.CommandLock);
        EXPECT_FALSE(athena.SendCommand("#01R99", false, true));
    }
    EXPECT_EQ(athenaSim->LastCommand(), "#01R99");
    double value = 0.0;
    EXPECT_TRUE(athena.GetTemperature(value));
}

TEST_F(TempControllers, TestCommSettingsLeavesTheDriversOwnSettingsAlone) {
    StartOmega();
    const CommSettings own{77, 19200, 7, 2, 2, 1};
    const CommSettings here{kFirstTestPort, 9600, 8, 0, 0, 0};
    const CommSettings nowhere{kFirstTestPort + 9, 9600, 8, 0, 0, 0};

    omega.Settings = own;
    EXPECT_TRUE(omega.TestCommSettings(here));
    EXPECT_EQ(omega.Settings, own);
    EXPECT_FALSE(omega.IsOpen());
    EXPECT_FALSE(omega.TestCommSettings(nowhere));
    EXPECT_EQ(omega.Settings, own);

    athena.Settings = own;
    athena.ReplyTimeout = 100;
    EXPECT_FALSE(athena.TestCommSettings(here)) << "an Omega does not answer \"#01?9\"";
    EXPECT_EQ(athena.Settings, own);
    EXPECT_FALSE(athena.IsOpen());
}

TEST_F(TempControllers, AControllerThatIsNotThereFailsToOpen) {
    EXPECT_FALSE(omega.OpenPort()) << "no port";
    EXPECT_FALSE(athena.Probe());

    StartOmega();
    EXPECT_TRUE(omega.Probe());
    EXPECT_FALSE(omega.IsOpen()) << "a probe leaves it closed";

    omega.ReplyTimeout = 100;
    omegaSim->DropReplies(1);
    EXPECT_FALSE(omega.OpenPort()) << "a port without an answer is no controller";
    EXPECT_FALSE(omega.IsOpen());
    double value = 0.0;
    EXPECT_FALSE(omega.GetTemperature(value)) << "closed: nothing goes out";
    EXPECT_TRUE(omega.OpenPort()) << "and it opens when the controller answers";
}

}  // namespace
