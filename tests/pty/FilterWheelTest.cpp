// The multi-filter instrument and its SmartMotor driver end to end, each device simulated on its
// own pseudo-terminal. The controllers' drivers and every driver's faults have suites of their
// own; here is what the instrument adds (which motor and controller its configuration selects,
// what it forwards to them, the set points it derives, its background reset, what it opens and
// closes), and what of the motor driver the test panel does not reach: the identification's
// time-outs, the restart, a lost echo mode and the fault report.
#include <gtest/gtest.h>

#include "devices/Vocabulary.h"
#include "instruments/FilterWheel.h"
#include "platform/ManualResetEvent.h"
#include "sim/Athena16Sim.h"
#include "sim/OmegaControllerSim.h"
#include "sim/SmartMotorSim.h"
#include "support/TestPortDirectory.h"

namespace {

using sim::CSmartMotorSim;
using testing_support::kFirstTestPort;
using Program = CSmartMotorSim::Program;

constexpr int kMotorPort = kFirstTestPort;
constexpr int kControllerPort = kFirstTestPort + 1;
constexpr int kOmega = vocabulary::kTempControllerOmega;
constexpr int kAthena = vocabulary::kTempControllerAthena;

CommSettings Line(int port) {
    return CommSettings{port, 9600, 8, 0, 0, 0};
}

class FilterWheelTest : public testing_support::PortDirectoryTest {
protected:
    void SetUp() override {
        PortDirectoryTest::SetUp();
        for (CSmartMotor* motor : {&wheel.Motor, static_cast<CSmartMotor*>(&wheel.LegacyMotor)}) {
            motor->Timeout.Echo = 200;
            motor->Timeout.Reply = 300;
            motor->Timeout.Reset = 2000;
        }
        wheel.Omega.ReadBackDelayMs = 1;
        wheel.Omega.EchoFixDelayMs = 1;
        wheel.Config.InstrumentKind = vocabulary::kFilterModeMulti;
        wheel.Config.InstrumentPort = Line(kMotorPort);
        wheel.Config.TempControllerPort = Line(kControllerPort);
    }
    void TearDown() override {
        wheel.Disconnect();
        motor.reset();
        omega.reset();
        athena.reset();
        PortDirectoryTest::TearDown();
    }
    void StartBench(Program program, int controller, int filters = 6) {
        motor = std::make_unique<CSmartMotorSim>(kMotorPort, PortDir(), program, filters);
        ASSERT_TRUE(motor->Start());
        motor->SetMoveTime(std::chrono::milliseconds(1));
        motor->SetHomeTime(std::chrono::milliseconds(1));
        if (controller == kOmega) {
            omega = std::make_unique<sim::COmegaControllerSim>(kControllerPort, PortDir());
            ASSERT_TRUE(omega->Start());
        } else if (controller == kAthena) {
            athena = std::make_unique<sim::CAthena16Sim>(kControllerPort, PortDir());
            ASSERT_TRUE(athena->Start());
        }
        wheel.Config.MotorGeneration = static_cast<int32_t>(program);
        wheel.Config.TempController = controller;
    }

    std::unique_ptr<CSmartMotorSim> motor;
    std::unique_ptr<sim::COmegaControllerSim> omega;
    std::unique_ptr<sim::CAthena16Sim> athena;
    CFilterWheel wheel;
};

class EveryPairing : public FilterWheelTest,
                     public testing::WithParamInterface<std::pair<Program, int>> {};

// Every operation of the console's test panel.
TEST_P(EveryPairing, RunsEveryOperationOfTheTestPanel) {
    StartBench(GetParam().first, GetParam().second);
    // Probes leave the drivers' own settings as they were.
    const CommSettings own{99, 19200, 8, 0, 0, 0};
    wheel.SetInstrumentCommSettings(own);
    wheel.SetTempControllerCommSettings(own);
    EXPECT_TRUE(wheel.ProbeInstrument(Line(kMotorPort)));
    EXPECT_TRUE(wheel.ProbeTempController(Line(kControllerPort)));
    EXPECT_FALSE(wheel.ProbeInstrument(Line(kFirstTestPort + 7)));
    EXPECT_EQ(wheel.SelectedMotor()->Settings, own);
    EXPECT_EQ(wheel.SelectedController()->Settings, own);

    ASSERT_TRUE(wheel.Connect());
    EXPECT_EQ(wheel.Connected, 1);
    EXPECT_NE(wheel.Motor.IsOpen(), wheel.LegacyMotor.IsOpen()) << "only the selected motor opens";
    InstrumentInfo info;
    ASSERT_TRUE(wheel.GetDeviceInfo(info));
    EXPECT_EQ(info.NumberOfFilters, 6);

    EXPECT_TRUE(wheel.ChangeFilter(5));
    int32_t position = 0;
    ASSERT_TRUE(wheel.GetFilter(position));
    EXPECT_EQ(position, 5);
    EXPECT_FALSE(wheel.ChangeFilter(0));
    EXPECT_FALSE(wheel.ChangeFilter(9)) << "no slot 9 on a 6-filter wheel";
    EXPECT_EQ(motor->FilterPosition(), 5);

    EXPECT_TRUE(wheel.SetShutterState(1));
    int32_t state = -1;
    ASSERT_TRUE(wheel.GetShutterState(state));
    EXPECT_EQ(state, 1);
    EXPECT_TRUE(wheel.SetShutterState(0));
    EXPECT_EQ(motor->ShutterState(), 0);
    EXPECT_FALSE(wheel.SetShutterState(-1));
    motor->SetLightSensor(0);
    ASSERT_TRUE(wheel.GetLightSensorState(state));
    EXPECT_EQ(state, 0);
    EXPECT_TRUE(wheel.ResetFilter(true, false, nullptr, nullptr));
    EXPECT_EQ(motor->FilterPosition(), 1);

    double temperature = -1000;
    ASSERT_TRUE(wheel.ReadTemperature(temperature));
    EXPECT_EQ(wheel.GetLastTemperature(), temperature);
    // Heating only: a second set point stands 50 degrees above the first, out of the way.
    CTempControllerBase& controller = *wheel.SelectedController();
    auto expectSetpoints = [&](double first, double second) {
        double value = 0;
        ASSERT_TRUE(wheel.GetTemperatureSetpoint(value));
        EXPECT_DOUBLE_EQ(value, first);
        if (controller.HasSetpoint2()) {
            ASSERT_TRUE(controller.GetSetpoint2(value));
            EXPECT_DOUBLE_EQ(value, second);
        }
    };
    wheel.Config.HeatingMode = 1;
    wheel.Config.Setpoint1 = 23.0;
    ASSERT_TRUE(wheel.ConfigureTempController());
    expectSetpoints(23.0, 73.0);
    wheel.Config.HeatingMode = 2;
    wheel.Config.Setpoint2 = 23.5;
    ASSERT_TRUE(wheel.ConfigureTempController());
    expectSetpoints(23.0, 23.5);
    ASSERT_TRUE(wheel.SetTemperatureSetpoint(26.0));
    expectSetpoints(26.0, 23.5);
    if (omega) {
        EXPECT_GE(omega->Restarts(), 2u) << "the controller takes up new set points by a restart";
    }

    EXPECT_TRUE(wheel.Disconnect());
    EXPECT_EQ(wheel.Connected, 0);
    EXPECT_FALSE(wheel.SelectedMotor()->IsOpen());
    EXPECT_FALSE(controller.IsOpen());
}

INSTANTIATE_TEST_SUITE_P(MotorsAndControllers, EveryPairing,
                         testing::Values(std::pair{Program::Current, kOmega},
                                         std::pair{Program::Legacy, kAthena},
                                         std::pair{Program::Current, kAthena},
                                         std::pair{Program::Legacy, kOmega}));

TEST_F(FilterWheelTest, TheControllerIsOptionalButOneThatIsConfiguredMustOpen) {
    StartBench(Program::Current, kOmega);
    omega.reset();
    EXPECT_FALSE(wheel.Connect());
    EXPECT_EQ(wheel.Connected, 0);
    EXPECT_TRUE(wheel.Motor.IsOpen()) << "until Disconnect";
    EXPECT_TRUE(wheel.Disconnect());
    EXPECT_FALSE(wheel.Motor.IsOpen());

    wheel.Config.TempController = 0;
    ASSERT_TRUE(wheel.Connect());
    EXPECT_TRUE(wheel.ConfigureTempController());
    double temperature = 5;
    EXPECT_FALSE(wheel.ReadTemperature(temperature));
    EXPECT_EQ(wheel.GetLastTemperature(), 0.0);
    EXPECT_FALSE(wheel.ProbeTempController(Line(kControllerPort)));
    EXPECT_TRUE(wheel.Disconnect());

    wheel.Config.TempController = 3;  // a controller no driver exists for
    EXPECT_FALSE(wheel.Connect());
    EXPECT_FALSE(wheel.Disconnect());
}

TEST_F(FilterWheelTest, AConfigurationOfAnotherKindSelectsNothing) {
    wheel.Config.MotorGeneration = 2;
    wheel.Config.TempController = 1;
    wheel.Config.InstrumentKind = vocabulary::kFilterModeSingle;
    EXPECT_EQ(wheel.SelectedMotor(), nullptr);
    EXPECT_EQ(wheel.SelectedController(), nullptr);
    EXPECT_FALSE(wheel.Connect());
    int32_t value;
    EXPECT_FALSE(wheel.GetFilter(value));
    EXPECT_FALSE(wheel.ResetFilter(true, true, nullptr, nullptr));
    wheel.Config.InstrumentKind = vocabulary::kFilterModeMulti;
    wheel.Config.MotorGeneration = 3;
    EXPECT_EQ(wheel.SelectedMotor(), nullptr);
}

TEST_F(FilterWheelTest, ABackgroundResetSignalsTheCallersEvents) {
    StartBench(Program::Current, 0);
    ASSERT_TRUE(wheel.Connect());
    platform::ManualResetEvent done;
    platform::ManualResetEvent failed;
    ASSERT_TRUE(wheel.ResetFilter(false, true, &done, &failed));
    EXPECT_EQ(platform::WaitForAny({&done, &failed}, 10000), 0);
    EXPECT_EQ(motor->Resets(), 1u);

    // The motor stops answering: the reset still starts, and its failure arrives as the event.
    done.Reset();
    motor->HangUp();
    ASSERT_TRUE(wheel.ResetFilter(false, true, &done, &failed));
    EXPECT_EQ(platform::WaitForAny({&done, &failed}, 10000), 1);
    EXPECT_FALSE(wheel.ResetFilter(false, false, &done, &failed)) << "neither wait nor background";
}

TEST_F(FilterWheelTest, ResetAndIdentificationSetTheMotorsTimeOutsForTheWheel) {
    StartBench(Program::Current, 0, 8);
    ASSERT_TRUE(wheel.Connect());
    ASSERT_TRUE(wheel.ChangeFilter(5));
    bool restarted = false;
    ASSERT_TRUE(wheel.Motor.Reset(&restarted));
    EXPECT_TRUE(restarted);
    EXPECT_EQ(motor->Resets(), 1u);
    EXPECT_EQ(wheel.Motor.ReplyValid, 1) << "banner seen";
    EXPECT_TRUE(motor->EchoOn()) << "echo switched on again after the restart";
    EXPECT_EQ(motor->FilterPosition(), 1);
    EXPECT_EQ(wheel.Motor.Timeout, CSmartMotor::kEightFilterTimeouts) << "identification followed";

    InstrumentInfo info;
    ASSERT_TRUE(wheel.GetDeviceInfo(info));
    EXPECT_EQ(info.NumberOfFilters, 8);
    EXPECT_EQ(info.TempController, kOmega);
    motor->SetIdentification({{"nof", "6"}});
    ASSERT_TRUE(wheel.GetDeviceInfo(info));
    EXPECT_EQ(wheel.Motor.Timeout, CSmartMotor::kDefaultTimeouts);
    EXPECT_EQ(info.InstrumentModel, vocabulary::kInstrumentModelTalvor)
        << "a motor that names no model is taken for the talvor";
}

TEST_F(FilterWheelTest, AMissedEchoSwitchesTheMotorsEchoOnAgainAndWritesTheCommandOnceMore) {
    StartBench(Program::Current, 0);
    ASSERT_TRUE(wheel.Connect());
    EXPECT_TRUE(motor->EchoOn()) << "connecting switches it on";
    const uint64_t before = motor->LinesSeen();
    motor->LoseEchoes(1);
    // The answer comes in the echo's place, and is no echo: GOSUB0, ECHO, GOSUB0 again.
    int32_t state = -1;
    ASSERT_TRUE(wheel.GetLightSensorState(state));
    EXPECT_EQ(state, 1);
    EXPECT_EQ(motor->LinesSeen() - before, 3u);
    // A motor that never echoes again makes the command fail after one more try.
    motor->LoseEchoes(1000);
    EXPECT_FALSE(wheel.GetLightSensorState(state));
}

TEST_F(FilterWheelTest, FatalFailsAMotorCommandAfterFetchingTheFaultReportEachTime) {
    StartBench(Program::Current, 0);
    ASSERT_TRUE(wheel.Connect());
    for (int fault = 0; fault < 2; ++fault) {
        motor->FailNext("GOSUB4");
        EXPECT_FALSE(wheel.ChangeFilter(2));
        EXPECT_EQ(motor->LastLine(), "GOSUB9");
        EXPECT_FALSE(wheel.Motor.FaultEvent.IsSet());
        std::lock_guard reply(wheel.Motor.ReplyLock);
        EXPECT_EQ(wheel.Motor.FaultText, "Fault report\r\nxxx=0\r\nyyy=17\r\n")
            << "this one's alone";
    }
    EXPECT_TRUE(wheel.ChangeFilter(2)) << "the motor carries on";
}

}  // namespace
