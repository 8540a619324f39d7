// Both motor drivers against a simulated SmartMotor over a pseudo-terminal.
#include <gtest/gtest.h>

#include "devices/SmartMotorLegacy.h"
#include "devices/Vocabulary.h"
#include "sim/SmartMotorSim.h"
#include "support/TestPortDirectory.h"

namespace {

using sim::CSmartMotorSim;
using testing_support::kFirstTestPort;

class SmartMotorTest : public testing_support::PortDirectoryTest {
protected:
    CSmartMotorSim& StartMotor(CSmartMotorSim::Program program, int filters = 6) {
        sim = std::make_unique<CSmartMotorSim>(kFirstTestPort, PortDir(), program, filters);
        EXPECT_TRUE(sim->Start());
        sim->SetMoveTime(std::chrono::milliseconds(1));
        sim->SetHomeTime(std::chrono::milliseconds(1));
        return *sim;
    }
    void Prepare(CSmartMotor& m) {
        m.Settings.PortNumber = kFirstTestPort;
        // Short waits: every answer here comes within milliseconds or not at all.
        m.Timeout.Echo = 200;
        m.Timeout.Reply = 300;
    }
    void TearDown() override {
        motor.ClosePort();
        legacy.ClosePort();
        sim.reset();
        PortDirectoryTest::TearDown();
    }

    std::unique_ptr<CSmartMotorSim> sim;
    CSmartMotor motor;
    CSmartMotorLegacy legacy;
};

TEST_F(SmartMotorTest, OpeningSwitchesTheEchoOnAndTheMotionProgramAnswers) {
    StartMotor(CSmartMotorSim::Program::Current);
    Prepare(motor);
    EXPECT_FALSE(sim->EchoOn());
    ASSERT_TRUE(motor.OpenPort());
    EXPECT_TRUE(sim->EchoOn());

    EXPECT_TRUE(motor.ChangeFilter(4));
    EXPECT_EQ(sim->FilterPosition(), 4);
    int32_t position = 0;
    ASSERT_TRUE(motor.GetFilter(position));
    EXPECT_EQ(position, 4);
    EXPECT_FALSE(motor.ChangeFilter(9)) << "no slot 9 on a 6-filter wheel";

    EXPECT_TRUE(motor.OpenShutter());
    EXPECT_EQ(sim->ShutterState(), 1);
    int32_t state = -1;
    ASSERT_TRUE(motor.GetShutterState(state));
    EXPECT_EQ(state, 1);
    EXPECT_TRUE(motor.CloseShutter());
    EXPECT_EQ(sim->ShutterState(), 0);

    sim->SetLightSensor(0);
    ASSERT_TRUE(motor.GetLightSensor(state));
    EXPECT_EQ(state, 0);
}

TEST_F(SmartMotorTest, TheLegacyProgramHasItsShutterInAnotherSubroutine) {
    StartMotor(CSmartMotorSim::Program::Legacy);
    Prepare(legacy);
    Prepare(motor);
    ASSERT_TRUE(legacy.OpenPort());
    EXPECT_TRUE(legacy.OpenShutter());
    EXPECT_EQ(sim->ShutterState(), 1);
    EXPECT_EQ(sim->LastLine(), "GOSUB1");
    legacy.ClosePort();

    // The current driver on a legacy program calls a subroutine that is not there.
    ASSERT_TRUE(motor.OpenPort());
    EXPECT_FALSE(motor.CloseShutter());
    EXPECT_EQ(sim->ShutterState(), 1);
}

TEST_F(SmartMotorTest, IdentificationRaisesTheTimeOutsForEightFiltersAndLowersThemAgain) {
    StartMotor(CSmartMotorSim::Program::Current, 8);
    Prepare(motor);
    ASSERT_TRUE(motor.OpenPort());
    InstrumentInfo info;
    ASSERT_TRUE(motor.GetDeviceInfo(info));
    EXPECT_EQ(info.NumberOfFilters, 8);
    EXPECT_EQ(info.TempController, vocabulary::kTempControllerOmega);
    EXPECT_EQ(motor.Timeout, CSmartMotor::kEightFilterTimeouts);

    sim->SetIdentification({{"nof", "6"}});
    ASSERT_TRUE(motor.GetDeviceInfo(info));
    EXPECT_EQ(motor.Timeout, CSmartMotor::kDefaultTimeouts);
    EXPECT_EQ(info.InstrumentModel, vocabulary::kInstrumentModelTalvor)
        << "a motor that names no model is taken for the talvor";
}

TEST_F(SmartMotorTest, AMissedEchoSwitchesEchoOnAgainAndWritesTheCommandOnceMore) {
    StartMotor(CSmartMotorSim::Program::Current);
    Prepare(motor);
    ASSERT_TRUE(motor.OpenPort());
    const uint64_t before = sim->LinesSeen();
    sim->LoseEchoes(1);
    ASSERT_TRUE(motor.ChangeFilter(3));
    // g=3 (echo lost), ECHO, g=3 again, GOSUB4.
    EXPECT_EQ(sim->LinesSeen() - before, 4u);
    EXPECT_EQ(sim->FilterPosition(), 3);

    // A motor that never echoes again makes the command fail after one more try.
    sim->LoseEchoes(1000);
    sim->SetEcho(true);
    int32_t position;
    EXPECT_FALSE(motor.GetFilter(position));
}

TEST_F(SmartMotorTest, FatalDuringAFilterChangeFailsItAfterFetchingTheFaultReport) {
    StartMotor(CSmartMotorSim::Program::Current);
    Prepare(motor);
    ASSERT_TRUE(motor.OpenPort());
    sim->FailNext("GOSUB4");
    EXPECT_FALSE(motor.ChangeFilter(2));
    EXPECT_EQ(sim->LastLine(), "GOSUB9");
    {
        std::lock_guard reply(motor.ReplyLock);
        EXPECT_NE(motor.FaultText.find("yyy=17"), std::string::npos) << motor.FaultText;
    }
    EXPECT_FALSE(motor.FaultEvent.IsSet());
    // The motor carries on.
    EXPECT_TRUE(motor.ChangeFilter(2));
}

TEST_F(SmartMotorTest, ResetRestartsTheProgramAndReadsTheIdentification) {
    StartMotor(CSmartMotorSim::Program::Current, 8);
    Prepare(motor);
    ASSERT_TRUE(motor.OpenPort());
    ASSERT_TRUE(motor.ChangeFilter(5));
    bool restarted = false;
    ASSERT_TRUE(motor.Reset(&restarted));
    EXPECT_TRUE(restarted);
    EXPECT_EQ(sim->Resets(), 1u);
    EXPECT_EQ(motor.ReplyValid, 1) << "banner seen";
    EXPECT_TRUE(sim->EchoOn()) << "echo switched on again after the restart";
    EXPECT_EQ(sim->FilterPosition(), 1);
    EXPECT_EQ(motor.Timeout, CSmartMotor::kEightFilterTimeouts) << "identification followed";
}

TEST_F(SmartMotorTest, ProbeAndTestCommSettingsLeaveTheDriversSettingsAlone) {
    StartMotor(CSmartMotorSim::Program::Current);
    Prepare(motor);
    const CommSettings own = motor.Settings;
    EXPECT_TRUE(motor.Probe());
    EXPECT_FALSE(motor.IsOpen());
    EXPECT_TRUE(motor.TestCommSettings(CommSettings{kFirstTestPort, 9600, 8, 0, 0, 0}));
    EXPECT_FALSE(motor.TestCommSettings(CommSettings{kFirstTestPort + 3, 9600, 8, 0, 0, 0}));
    EXPECT_EQ(motor.Settings, own);
    sim->HangUp();
    EXPECT_FALSE(motor.Probe());
    EXPECT_EQ(motor.Settings, own);
}

}  // namespace
