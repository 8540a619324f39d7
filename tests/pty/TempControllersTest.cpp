// Both temperature-controller drivers against simulated controllers over pseudo-terminals. The
// faults every driver must ride out (garbage, half answers, hang-ups, ...) are FaultSuiteTest's.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "devices/Athena16TempController.h"
#include "devices/OmegaTempController.h"
#include "sim/Athena16Sim.h"
#include "sim/OmegaControllerSim.h"
#include "support/TestPortDirectory.h"

namespace {

using namespace std::chrono_literals;
using sim::COmegaControllerSim;
using testing_support::kFirstTestPort;
using Commands = std::vector<std::string>;

class TempControllers : public testing_support::PortDirectoryTest {
protected:
    void SetUp() override {
        PortDirectoryTest::SetUp();
        omega.Settings.PortNumber = kFirstTestPort;
        athena.Settings.PortNumber = kFirstTestPort;
        // Replies come within milliseconds; only what is never answered waits this long.
        omega.ReplyTimeout = 300;
        athena.ReplyTimeout = 300;
        omega.ReadBackDelayMs = 0;
        omega.DecimalPointRetryDelayMs = 0;
        omega.EchoFixDelayMs = 0;
    }
    COmegaControllerSim& StartOmega() {
        omega.ClosePort();
        omegaSim.reset();
        omegaSim = std::make_unique<COmegaControllerSim>(kFirstTestPort, PortDir());
        EXPECT_TRUE(omegaSim->Start());
        return *omegaSim;
    }
    void OpenOmega() {
        StartOmega();
        ASSERT_TRUE(omega.OpenPort());
        ASSERT_FALSE(omega.EchoMode());
    }

    std::unique_ptr<COmegaControllerSim> omegaSim;  // outlives the drivers that talk to it
    COmegaTempController omega;
    CAthena16TempController athena;
};

TEST_F(TempControllers, OmegaOpeningClearsTheEchoOfAControllerThatEchoes) {
    const struct {
        const char* name;
        uint32_t busFormat;
        bool forceEcho;               // a firmware that echoes whatever the bus format says
        bool commandEcho;             // a half-duplex adapter repeats every command line
        bool echo, setpointReadable;  // the latter once open
    } rows[] = {
        {"Plain", 0x30, false, false, false, true},
        {"EchoBit", 0x34, false, false, true, true},
        {"EchoWithTheBitClear", 0x30, true, false, true, false},
        {"LineRepeatsCommandsEchoBit", 0x34, false, true, true, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        StartOmega().SetRegister(0x1F, row.busFormat);
        omegaSim->ForceEcho(row.forceEcho);
        omegaSim->SetCommandEcho(row.commandEcho);
        ASSERT_TRUE(omega.OpenPort());
        EXPECT_EQ(omega.EchoMode(), row.echo);
        // The bus format goes back without the echo bit, whatever it read, and a restart
        // makes the controller take it up.
        const std::string expected = row.echo ? "*R1F\r*W1F30\r*Z02\r" : "*R1F\r";
        ASSERT_TRUE(omegaSim->WaitForReceived(expected.size(), 5s));
        EXPECT_EQ(omegaSim->ReceivedTail(), expected);
        EXPECT_EQ(omegaSim->Restarts(), row.echo ? 1u : 0u);
        double setpoint = 0.0;
        EXPECT_EQ(omega.GetSetpoint(setpoint), row.setpointReadable);
        EXPECT_DOUBLE_EQ(setpoint, row.setpointReadable ? 25.0 : 0.0);
    }
}

TEST_F(TempControllers, OmegaReadsTemperatureSetpointsAndRegistersAndResets) {
    OpenOmega();
    omegaSim->SetTimeConstant(1e9);  // the process stays where it is put
    omegaSim->SetProcessTemperature(-12.3);
    double value = 0.0;
    ASSERT_TRUE(omega.GetTemperature(value));
    EXPECT_DOUBLE_EQ(value, -12.3);
    omegaSim->DropReplies(1);
    EXPECT_FALSE(omega.GetTemperature(value));
    EXPECT_DOUBLE_EQ(omega.LastTemperature, -12.3) << "only a successful read sets it";
    ASSERT_TRUE(omega.GetSetpoint(value));
    EXPECT_DOUBLE_EQ(value, 25.0);
    omegaSim->SetRegister(0x02, 0xA000FA);
    ASSERT_TRUE(omega.GetSetpoint2(value));
    EXPECT_DOUBLE_EQ(value, -25.0);

    uint32_t raw = 0;
    ASSERT_TRUE(omega.ReadRegister(0x26, raw));
    EXPECT_EQ(raw, static_cast<uint32_t>('*'));
    EXPECT_FALSE(omega.ReadRegister(0x06, raw)) << "not a register of this controller";
    EXPECT_EQ(raw, 0xFFFFFFFFu);
    EXPECT_EQ(omega.RegisterReadPending, 0u);

    // A reset waits until the restarted controller answers a set point.
    omegaSim->SetRestartTime(150ms);
    omega.ReplyTimeout = 20;  // each read during the restart times out
    ASSERT_TRUE(omega.ResetController());
    EXPECT_EQ(omegaSim->Restarts(), 1u);
    EXPECT_EQ(omegaSim->LastCommand(), "R01") << "answered once it was up again";

    // A controller whose set point reads zero is asked 50 times, and the reset still succeeds.
    omegaSim->SetRestartTime(0ms);
    omegaSim->SetRegister(0x01, 0);
    omega.ReplyTimeout = 1000;
    ASSERT_TRUE(omega.ResetController());
    const Commands log = omegaSim->Commands();
    const auto z = std::find(log.rbegin(), log.rend(), "Z02");
    EXPECT_EQ(std::count(log.rbegin(), z, "R01"), COmegaTempController::kResetReadBackTries);
}

// A set point goes out in the decimal point the controller reads, and is read back until the
// controller shows it (a value that never shows does not fail the write).
TEST_F(TempControllers, OmegaSetpointIsWrittenInTheControllersDecimalPointAndReadBack) {
    constexpr int kTries = COmegaTempController::kSetpointReadBackTries;
    const struct {
        int number;
        double value;
        uint32_t readingConfig;
        int staleReads, droppedReplies;
        bool ok;
        Commands commands;  // after the open's "R1F"
        int readBacks;      // reads of the set point after them
        uint32_t shown;
    } rows[] = {
        {1, 37.5, 0x42, 3, 0, true, {"R08", "W01200177"}, 4, 0x200177},
        {2, -5.0, 0x42, 0, 0, true, {"R08", "W02A00032"}, 1, 0xA00032},
        {1, 30.0, 0x42, 1000, 0, true, {"R08", "W0120012C"}, kTries, 0x20012C},  // never shown
        {1, 25.0, 0x40, 0, 0, true, {"R08", "W01     3"}, 1, 0x000003},  // tens, blank-padded
        {1, 131072.0, 0x42, 0, 0, false, {"R08"}, 0, 0x2000FA},          // out of range
        // The decimal point is asked for twice before the write is given up.
        {1, 30.0, 0x42, 0, 2, false, {"R08", "R08"}, 0, 0x2000FA},
        {1, 30.0, 0x42, 0, 1, true, {"R08", "R08", "W0120012C"}, 1, 0x20012C},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.number << ": " << row.value);
        OpenOmega();
        omegaSim->SetRegister(0x08, row.readingConfig);
        omegaSim->SetStaleReads(row.staleReads);
        omegaSim->DropReplies(row.droppedReplies);
        EXPECT_EQ(row.number == 1 ? omega.SetSetpoint(row.value) : omega.SetSetpoint2(row.value),
                  row.ok);
        Commands expected = {"R1F"};
        expected.insert(expected.end(), row.commands.begin(), row.commands.end());
        expected.insert(expected.end(), row.readBacks, row.number == 1 ? "R01" : "R02");
        EXPECT_EQ(omegaSim->Commands(), expected);
        EXPECT_EQ(omegaSim->Register(row.number), row.shown);
    }
}

TEST_F(TempControllers, AthenaIdentifiesReadsAndWritesItsOneSetpoint) {
    auto athenaSim = std::make_unique<sim::CAthena16Sim>(kFirstTestPort, PortDir());
    ASSERT_TRUE(athenaSim->Start());
    ASSERT_TRUE(athena.OpenPort());
    EXPECT_EQ(athena.IdentityText, L" 16DCB030");
    double value = 0.0;
    ASSERT_TRUE(athena.GetTemperature(value));
    EXPECT_DOUBLE_EQ(value, 23.0) << "whole degrees of 23.7";
    ASSERT_TRUE(athena.GetSetpoint(value));
    EXPECT_DOUBLE_EQ(value, 25.0);

    // One decimal goes out; the write holds only when the controller took exactly the value.
    EXPECT_TRUE(athena.SetSetpoint(30.0));
    EXPECT_EQ(athenaSim->LastCommand(), "#01M01 30.0C");
    EXPECT_TRUE(athena.SetSetpoint(-7.5));
    EXPECT_EQ(athenaSim->LastCommand(), "#01M01 -7.5C");
    EXPECT_DOUBLE_EQ(athenaSim->Setpoint(), -7.5);
    EXPECT_FALSE(athena.SetSetpoint(20.05)) << "the controller took 20.1, which is not 20.05";
    EXPECT_EQ(athenaSim->LastCommand(), "#01M01 20.1C");

    // No second set point, no reset to send: nothing goes out for them.
    const uint64_t commands = athenaSim->CommandsSeen();
    EXPECT_FALSE(athena.HasSetpoint2());
    EXPECT_FALSE(athena.GetSetpoint2(value));
    EXPECT_FALSE(athena.SetSetpoint2(30.0));
    EXPECT_TRUE(athena.ResetController());
    EXPECT_EQ(athenaSim->CommandsSeen(), commands);
    athena.ClosePort();
}

TEST_F(TempControllers, TestCommSettingsAndProbeLeaveTheDriverAsItWas) {
    EXPECT_FALSE(omega.OpenPort()) << "no port";
    EXPECT_FALSE(athena.Probe());
    StartOmega();
    EXPECT_TRUE(omega.Probe());
    EXPECT_FALSE(omega.IsOpen()) << "a probe leaves it closed";

    const CommSettings own{77, 19200, 7, 2, 2, 1};
    const CommSettings here{kFirstTestPort, 9600, 8, 0, 0, 0};
    omega.Settings = own;
    EXPECT_TRUE(omega.TestCommSettings(here));
    EXPECT_EQ(omega.Settings, own);
    EXPECT_FALSE(omega.IsOpen());
    athena.Settings = own;
    EXPECT_FALSE(athena.TestCommSettings(here)) << "an Omega does not answer \"#01?9\"";
    EXPECT_EQ(athena.Settings, own);
    EXPECT_FALSE(athena.IsOpen());

    omega.Settings = here;
    omegaSim->DropReplies(1);
    EXPECT_FALSE(omega.OpenPort()) << "a port without an answer is no controller";
    EXPECT_FALSE(omega.IsOpen());
    double value = 0.0;
    EXPECT_FALSE(omega.GetTemperature(value)) << "closed: nothing goes out";
    EXPECT_TRUE(omega.OpenPort()) << "and it opens when the controller answers";
}

}  // namespace
