// The multi-filter instrument end to end: both motor generations and both controller models,
// each simulated on its own pseudo-terminal.
#include <gtest/gtest.h>

#include "instruments/FilterWheel.h"
#include "devices/Vocabulary.h"
#include "platform/ManualResetEvent.h"
#include "sim/Athena16Sim.h"
#include "sim/OmegaControllerSim.h"
#include "sim/SmartMotorSim.h"
#include "support/TestPortDirectory.h"

namespace {

using sim::CSmartMotorSim;
using testing_support::kFirstTestPort;

constexpr int kMotorPort = kFirstTestPort;
constexpr int kControllerPort = kFirstTestPort + 1;

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
        wheel.Config.InstrumentPort.PortNumber = kMotorPort;
        wheel.Config.TempControllerPort.PortNumber = kControllerPort;
    }
    void TearDown() override {
        wheel.Disconnect();
        motor.reset();
        omega.reset();
        athena.reset();
        PortDirectoryTest::TearDown();
    }
    void StartBench(CSmartMotorSim::Program program, int controller) {
        motor = std::make_unique<CSmartMotorSim>(kMotorPort, PortDir(), program, 6);
        ASSERT_TRUE(motor->Start());
        motor->SetMoveTime(std::chrono::milliseconds(1));
        motor->SetHomeTime(std::chrono::milliseconds(1));
        if (controller == vocabulary::kTempControllerOmega) {
            omega = std::make_unique<sim::COmegaControllerSim>(kControllerPort, PortDir());
            ASSERT_TRUE(omega->Start());
        } else if (controller == vocabulary::kTempControllerAthena) {
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

// Every operation of the console's test panel, against whatever bench was started.
void ExerciseEveryOperation(CFilterWheel& wheel, CSmartMotorSim& motor) {
    ASSERT_TRUE(wheel.Connect());
    EXPECT_EQ(wheel.Connected, 1);
    InstrumentInfo info;
    ASSERT_TRUE(wheel.GetDeviceInfo(info));
    EXPECT_EQ(info.NumberOfFilters, 6);

    EXPECT_TRUE(wheel.ChangeFilter(5));
    int32_t position = 0;
    ASSERT_TRUE(wheel.GetFilter(position));
    EXPECT_EQ(position, 5);
    EXPECT_FALSE(wheel.ChangeFilter(0));

    EXPECT_TRUE(wheel.SetShutterState(1));
    int32_t state = -1;
    ASSERT_TRUE(wheel.GetShutterState(state));
    EXPECT_EQ(state, 1);
    EXPECT_TRUE(wheel.SetShutterState(0));
    EXPECT_EQ(motor.ShutterState(), 0);
    EXPECT_FALSE(wheel.SetShutterState(-1));

    motor.SetLightSensor(0);
    ASSERT_TRUE(wheel.GetLightSensorState(state));
    EXPECT_EQ(state, 0);

    EXPECT_TRUE(wheel.ResetFilter(true, false, nullptr, nullptr));
    EXPECT_EQ(motor.FilterPosition(), 1);
}

TEST_F(FilterWheelTest, CurrentMotorWithOmegaController) {
    StartBench(CSmartMotorSim::Program::Current, vocabulary::kTempControllerOmega);
    ExerciseEveryOperation(wheel, *motor);

    double temperature = -1;
    ASSERT_TRUE(wheel.ReadTemperature(temperature));
    EXPECT_EQ(wheel.GetLastTemperature(), temperature);
    ASSERT_TRUE(wheel.SetTemperatureSetpoint(30.5));
    double setpoint = 0;
    ASSERT_TRUE(wheel.GetTemperatureSetpoint(setpoint));
    EXPECT_DOUBLE_EQ(setpoint, 30.5);

    // Heating only: set point 2 stands 50 degrees above set point 1.
    wheel.Config.HeatingMode = 1;
    wheel.Config.Setpoint1 = 23.0;
    ASSERT_TRUE(wheel.ConfigureTempController());
    EXPECT_EQ(omega->Register(0x01), 0x2000E6u);  // 23.0
    EXPECT_EQ(omega->Register(0x02), 0x2002DAu);  // 73.0
    wheel.Config.HeatingMode = 2;
    wheel.Config.Setpoint2 = 23.5;
    ASSERT_TRUE(wheel.ConfigureTempController());
    EXPECT_EQ(omega->Register(0x02), 0x2000EBu);  // 23.5
    EXPECT_GE(omega->Restarts(), 2u) << "the controller takes up new set points by a restart";

    EXPECT_TRUE(wheel.Disconnect());
    EXPECT_EQ(wheel.Connected, 0);
    EXPECT_FALSE(wheel.Motor.IsOpen());
    EXPECT_FALSE(wheel.Omega.IsOpen());
}

TEST_F(FilterWheelTest, LegacyMotorWithAthenaController) {
    StartBench(CSmartMotorSim::Program::Legacy, vocabulary::kTempControllerAthena);
    ExerciseEveryOperation(wheel, *motor);
    EXPECT_FALSE(wheel.Motor.IsOpen()) << "only the selected motor opens";

    athena->SetTemperature(24.6);
    double temperature = 0;
    ASSERT_TRUE(wheel.ReadTemperature(temperature));
    EXPECT_EQ(temperature, 24.0) << "the Athena is read in whole degrees";
    ASSERT_TRUE(wheel.SetTemperatureSetpoint(26.5));
    EXPECT_DOUBLE_EQ(athena->Setpoint(), 26.5);
    // No second set point: configuring writes set point 1 and the reset is a no-op.
    wheel.Config.HeatingMode = 1;
    EXPECT_TRUE(wheel.ConfigureTempController());
    EXPECT_TRUE(wheel.Disconnect());
}

TEST_F(FilterWheelTest, TheOtherPairingsWorkAsWell) {
    for (const auto& [program, controller] :
         {std::pair{CSmartMotorSim::Program::Current, vocabulary::kTempControllerAthena},
          std::pair{CSmartMotorSim::Program::Legacy, vocabulary::kTempControllerOmega}}) {
        SCOPED_TRACE(controller);
        StartBench(program, controller);
        ExerciseEveryOperation(wheel, *motor);
        double temperature = -1000;
        EXPECT_TRUE(wheel.ReadTemperature(temperature));
        EXPECT_NE(temperature, -1000);
        EXPECT_TRUE(wheel.SetTemperatureSetpoint(25.0));
        EXPECT_TRUE(wheel.Disconnect());
        motor.reset();
        omega.reset();
        athena.reset();
    }
}

TEST_F(FilterWheelTest, AWheelWithoutTemperatureControllerUsesTheMotorAlone) {
    StartBench(CSmartMotorSim::Program::Current, 0);
    ASSERT_TRUE(wheel.Connect());
    EXPECT_TRUE(wheel.ConfigureTempController());
    double temperature = 5;
    EXPECT_FALSE(wheel.ReadTemperature(temperature));
    EXPECT_EQ(wheel.GetLastTemperature(), 0.0);
    EXPECT_FALSE(wheel.ProbeTempController(CommSettings{kControllerPort, 9600, 8, 0, 0, 0}));
    EXPECT_TRUE(wheel.Disconnect());

    wheel.Config.TempController = 3;  // a controller no driver exists for
    EXPECT_FALSE(wheel.Connect());
    EXPECT_FALSE(wheel.Disconnect());
}

TEST_F(FilterWheelTest, AControllerThatIsNotThereFailsConnectButLeavesTheMotorOpen) {
    StartBench(CSmartMotorSim::Program::Current, vocabulary::kTempControllerOmega);
    omega.reset();
    EXPECT_FALSE(wheel.Connect());
    EXPECT_EQ(wheel.Connected, 0);
    EXPECT_TRUE(wheel.Motor.IsOpen());
    EXPECT_TRUE(wheel.Disconnect());
    EXPECT_FALSE(wheel.Motor.IsOpen());
}

TEST_F(FilterWheelTest, ABackgroundResetSignalsTheCallersEvents) {
    StartBench(CSmartMotorSim::Program::Current, 0);
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

TEST_F(FilterWheelTest, ProbesPutTheDriversOwnSettingsBack) {
    StartBench(CSmartMotorSim::Program::Current, vocabulary::kTempControllerOmega);
    const CommSettings own{99, 19200, 8, 0, 0, 0};
    wheel.SetInstrumentCommSettings(own);
    wheel.SetTempControllerCommSettings(own);
    EXPECT_TRUE(wheel.ProbeInstrument(CommSettings{kMotorPort, 9600, 8, 0, 0, 0}));
    EXPECT_TRUE(wheel.ProbeTempController(CommSettings{kControllerPort, 9600, 8, 0, 0, 0}));
    EXPECT_FALSE(wheel.ProbeInstrument(CommSettings{kFirstTestPort + 7, 9600, 8, 0, 0, 0}));
    EXPECT_EQ(wheel.Motor.Settings, own);
    EXPECT_EQ(wheel.Omega.Settings, own);
    EXPECT_FALSE(wheel.Motor.IsOpen());
    EXPECT_FALSE(wheel.Omega.IsOpen());
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

}  // namespace
