// The multi-filter instrument and its SmartMotor driver end to end, each device simulated on its
// own pseudo-terminal: what the instrument adds to its drivers (which it selects, what it
// forwards, the set points it derives, its background reset), and what of the motor driver the
// test panel does not reach (time-outs, restart, lost echo, fault report).
#include <gtest/gtest.h>

#include <tuple>

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

const auto Line = [](int port) { return CommSettings{port, 9600, 8, 0, 0, 0}; };

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
    void StartBench(Program program, int controllerModel, int filters = 6) {
        motor = std::make_unique<CSmartMotorSim>(kMotorPort, PortDir(), program, filters);
        ASSERT_TRUE(motor->Start());
        motor->SetMoveTime(std::chrono::milliseconds(1));
        motor->SetHomeTime(std::chrono::milliseconds(1));
        if (controllerModel == kOmega) {
            controller = std::make_unique<sim::COmegaControllerSim>(kControllerPort, PortDir());
        } else if (controllerModel == kAthena) {
            controller = std::make_unique<sim::CAthena16Sim>(kControllerPort, PortDir());
        }
        ASSERT_TRUE(!controller || controller->Start());
        wheel.Config.MotorGeneration = static_cast<int32_t>(program);
        wheel.Config.TempController = controllerModel;
    }
    // What a getter of the wheel reads; -1 when it fails.
    template <typename T>
    T Read(bool (CFilterWheel::*get)(T&)) {
        T value = -1;
        return (wheel.*get)(value) ? value : T(-1);
    }

    std::unique_ptr<CSmartMotorSim> motor;
    std::unique_ptr<sim::CSimulatedDevice> controller;
    CFilterWheel wheel;
};

class EveryPairing : public FilterWheelTest,
                     public testing::WithParamInterface<std::tuple<Program, int>> {};

TEST_P(EveryPairing, RunsEveryOperationOfTheTestPanel) {
    StartBench(std::get<0>(GetParam()), std::get<1>(GetParam()));
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
    EXPECT_FALSE(wheel.ChangeFilter(0));
    EXPECT_FALSE(wheel.ChangeFilter(9)) << "no slot 9 on a 6-filter wheel";
    EXPECT_EQ(Read(&CFilterWheel::GetFilter), 5);
    EXPECT_TRUE(wheel.SetShutterState(1));
    EXPECT_EQ(Read(&CFilterWheel::GetShutterState), 1);
    EXPECT_TRUE(wheel.SetShutterState(0));
    EXPECT_EQ(motor->ShutterState(), 0);
    EXPECT_FALSE(wheel.SetShutterState(-1));
    motor->SetLightSensor(0);
    EXPECT_EQ(Read(&CFilterWheel::GetLightSensorState), 0);
    EXPECT_TRUE(wheel.ResetFilter(true, false, nullptr, nullptr));
    EXPECT_EQ(motor->FilterPosition(), 1);

    const double temperature = Read(&CFilterWheel::ReadTemperature);
    EXPECT_NE(temperature, -1);
    EXPECT_EQ(wheel.GetLastTemperature(), temperature);
    // Heating only: a second set point, where there is one, stands 50 degrees above the first.
    CTempControllerBase& driver = *wheel.SelectedController();
    double setpoint2 = 0;
    for (const auto& [mode, setpoint, second] : {std::tuple{1, 23.0, 73.0}, {2, 24.0, 23.5}}) {
        wheel.Config.HeatingMode = mode;
        wheel.Config.Setpoint1 = setpoint;
        wheel.Config.Setpoint2 = 23.5;
        ASSERT_TRUE(wheel.ConfigureTempController());
        EXPECT_EQ(Read(&CFilterWheel::GetTemperatureSetpoint), setpoint);
        EXPECT_TRUE(!driver.HasSetpoint2() ||
                    (driver.GetSetpoint2(setpoint2) && setpoint2 == second))
            << setpoint2;
    }
    if (auto* omega = dynamic_cast<sim::COmegaControllerSim*>(controller.get())) {
        EXPECT_GE(omega->Restarts(), 2u) << "the controller takes up new set points by a restart";
    }
    ASSERT_TRUE(wheel.SetTemperatureSetpoint(26.0));
    EXPECT_EQ(Read(&CFilterWheel::GetTemperatureSetpoint), 26.0);

    EXPECT_TRUE(wheel.Disconnect());
    EXPECT_EQ(wheel.Connected, 0);
    EXPECT_FALSE(wheel.SelectedMotor()->IsOpen());
    EXPECT_FALSE(driver.IsOpen());
}

INSTANTIATE_TEST_SUITE_P(MotorsAndControllers, EveryPairing,
                         testing::Combine(testing::Values(Program::Current, Program::Legacy),
                                          testing::Values(kOmega, kAthena)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) == Program::Current
                                                    ? "Current"
                                                    : "Legacy") +
                                    (std::get<1>(info.param) == kOmega ? "Omega" : "Athena");
                         });

TEST_F(FilterWheelTest, TheConfigurationSelectsTheMotorAndAnOptionalController) {
    StartBench(Program::Current, kOmega);
    controller.reset();
    EXPECT_FALSE(wheel.Connect());
    EXPECT_TRUE(wheel.Motor.IsOpen()) << "until Disconnect";
    EXPECT_TRUE(wheel.Disconnect());
    EXPECT_FALSE(wheel.Motor.IsOpen());

    wheel.Config.TempController = 0;
    ASSERT_TRUE(wheel.Connect());
    EXPECT_TRUE(wheel.ConfigureTempController());
    EXPECT_EQ(Read(&CFilterWheel::ReadTemperature), -1);
    EXPECT_EQ(wheel.GetLastTemperature(), 0.0);
    EXPECT_FALSE(wheel.ProbeTempController(Line(kControllerPort)));
    EXPECT_TRUE(wheel.Disconnect());

    wheel.Config.TempController = 3;  // a controller no driver exists for
    EXPECT_FALSE(wheel.Connect());
    EXPECT_FALSE(wheel.Disconnect());
    wheel.Config.TempController = kOmega;
    wheel.Config.MotorGeneration = 3;
    EXPECT_EQ(wheel.SelectedMotor(), nullptr);
    wheel.Config.MotorGeneration = 2;
    wheel.Config.InstrumentKind = vocabulary::kFilterModeSingle;
    EXPECT_EQ(wheel.SelectedMotor(), nullptr);
    EXPECT_EQ(wheel.SelectedController(), nullptr);
    EXPECT_FALSE(wheel.Connect());
    EXPECT_FALSE(wheel.ResetFilter(true, true, nullptr, nullptr));
}

TEST_F(FilterWheelTest, TheMotorsRestartIdentificationLostEchoAndFaultReport) {
    StartBench(Program::Current, 0, 8);
    ASSERT_TRUE(wheel.Connect());
    EXPECT_TRUE(motor->EchoOn()) << "connecting switches it on";
    platform::ManualResetEvent done;
    platform::ManualResetEvent failed;
    ASSERT_TRUE(wheel.ResetFilter(false, true, &done, &failed));  // in the background
    EXPECT_EQ(platform::WaitForAny({&done, &failed}, 10000), 0);
    EXPECT_EQ(motor->Resets(), 1u);
    EXPECT_EQ(wheel.Motor.ReplyValid, 1) << "banner seen";
    EXPECT_TRUE(motor->EchoOn()) << "echo switched on again after the restart";
    EXPECT_EQ(wheel.Motor.Timeout, CSmartMotor::kEightFilterTimeouts) << "identification followed";
    InstrumentInfo info;
    motor->SetIdentification({{"nof", "6"}});
    ASSERT_TRUE(wheel.GetDeviceInfo(info));
    EXPECT_EQ(wheel.Motor.Timeout, CSmartMotor::kDefaultTimeouts);
    EXPECT_EQ(info.InstrumentModel, vocabulary::kInstrumentModelTalvor)
        << "a motor that names no model is taken for the talvor";

    const uint64_t before = motor->LinesSeen();
    motor->LoseEchoes(1);
    // The answer comes in the echo's place, and is no echo: GOSUB0, ECHO, GOSUB0 again.
    EXPECT_EQ(Read(&CFilterWheel::GetLightSensorState), 1);
    EXPECT_EQ(motor->LinesSeen() - before, 3u);
    for (int fault = 0; fault < 2; ++fault) {
        motor->FailNext("GOSUB4");
        EXPECT_FALSE(wheel.ChangeFilter(2));
        EXPECT_EQ(motor->LastLine(), "GOSUB9");
        EXPECT_EQ(wheel.LastFailure().Kind, platform::FailureKind::DeviceFault);
        EXPECT_NE(wheel.LastFailure().Text.find("subroutine 4\" in answer to \"GOSUB4<0D>\"; its "
                                                "fault report: \"Fault report; xxx=0; yyy=17\"."),
                  std::string::npos)
            << wheel.LastFailure().Text;
        EXPECT_FALSE(wheel.Motor.FaultEvent.IsSet());
        std::lock_guard reply(wheel.Motor.ReplyLock);
        EXPECT_EQ(wheel.Motor.FaultText, "Fault report\r\nxxx=0\r\nyyy=17\r\n")
            << "this one's alone";
    }
    EXPECT_TRUE(wheel.ChangeFilter(2)) << "the motor carries on";
    // A motor that never echoes again makes the command fail after one more try.
    motor->LoseEchoes(1000);
    EXPECT_EQ(Read(&CFilterWheel::GetLightSensorState), -1);

    // A motor that stops answering: the reset still starts, and its failure arrives as the event.
    done.Reset();
    motor->HangUp();
    ASSERT_TRUE(wheel.ResetFilter(false, true, &done, &failed));
    EXPECT_EQ(platform::WaitForAny({&done, &failed}, 10000), 1);
    EXPECT_EQ(wheel.LastFailure().Kind, platform::FailureKind::DeviceGone) << "why, by then";
    EXPECT_FALSE(wheel.ResetFilter(false, false, &done, &failed)) << "neither wait nor background";
}

}  // namespace
