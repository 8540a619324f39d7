// Every driver and both instruments against their simulated devices, through the faults a bench
// throws at them: the adapter pulled out in the middle of a command and while idle, garbage,
// half an answer, a bad check byte, the answer to another command, an answer after the time-out,
// a line that never ends, a line that stops draining, and a line running at 300 baud. Each fault
// must end in the result the driver documents, within its time-outs, with no thread left behind
// and no buffer growing, and the driver must work again once the device behaves (or is plugged
// in) again.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "devices/Athena16TempController.h"
#include "devices/OmegaTempController.h"
#include "devices/ShutterBoxDeviceLegacy.h"
#include "devices/ShutterController3.h"
#include "devices/SmartMotorLegacy.h"
#include "devices/Vocabulary.h"
#include "instruments/FilterWheel.h"
#include "instruments/ShutterBox.h"
#include "sim/Athena16Sim.h"
#include "sim/OmegaControllerSim.h"
#include "sim/ShutterControllerSim.h"
#include "sim/SmartMotorSim.h"
#include "support/TestPortDirectory.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using sim::CShutterControllerSim;
using sim::CSimulatedDevice;
using sim::CSmartMotorSim;
using testing_support::kFirstTestPort;

constexpr int kDevicePort = kFirstTestPort;
constexpr int kSparePort = kFirstTestPort + 1;
constexpr int kBaud = 9600;
constexpr int kSlowBaud = 300;
// Every simulated answer comes within milliseconds or not at all, so the tests wait far less
// than the devices' real time-outs.
constexpr int64_t kShortReplyMs = 300;
constexpr int64_t kShortEchoMs = 200;
// What a loaded machine, or a sanitizer, may add to a time-out before a result comes back. Only
// a hang or a wait for the wrong time-out (a 30 s motor reset) goes past it.
constexpr auto kSlack = 4s;

size_t ThreadCount() {
    const std::filesystem::directory_iterator tasks("/proc/self/task");
    return static_cast<size_t>(std::distance(begin(tasks), end(tasks)));
}

// A thread that has been joined can still be listed for a moment while the kernel reaps it.
size_t ThreadCountSettledAt(size_t expected) {
    const auto deadline = Clock::now() + 2s;
    size_t count = ThreadCount();
    while (count != expected && Clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
        count = ThreadCount();
    }
    return count;
}

// A device under test and the driver or instrument that talks to it.
struct Rig {
    std::unique_ptr<CSimulatedDevice> device;  // the one the faults are thrown at
    std::unique_ptr<CSimulatedDevice> spare;   // another device the instrument needs
    std::shared_ptr<void> owner;         // the driver or instrument; goes before the devices do
    CCommandChannel* channel = nullptr;  // the driver that talks to device
    std::function<bool()> open;
    std::function<bool()> close;
    // The operation under test; value is what it read, or the state it left the device in.
    std::function<bool(double& value)> operate;
    std::function<platform::Failure()> failure;  // why operate returned false
};

struct Outcome {
    bool result;
    double value = 0.0;  // compared when the result is true
};

struct DeviceCase {
    std::string name;
    std::function<Rig(const std::string& portDir, int baud)> make;
    double value;               // what the operation gives on a device that behaves
    int64_t budgetMs;           // the most the operation can wait in all, with the short time-outs
    int lineChars;              // characters the operation moves over the line, both ways
    std::string other;          // the answer to another command
    int answersAhead = 0;       // answers (a motor's echoes) ahead of the one the operation reads
    bool checkByte = false;     // the answer carries a check byte
    Outcome garbage = {false};  // after kGarbage
    Outcome afterOther = {false};  // after other
};

void PrintTo(const DeviceCase& c, std::ostream* os) {
    *os << c.name;
}

const std::string kGarbage("\xA7\x13\x00\xFEZ\r\n", 7);

std::string Half(std::string_view answer) {
    return std::string(answer.substr(0, answer.size() / 2));
}

std::string FlipCheckByte(std::string_view answer) {
    std::string changed(answer);
    changed.at(1) ^= 0x01;
    return changed;
}

template <typename Sim, typename... Args>
std::unique_ptr<Sim> StartDevice(int port, const std::string& dir, Args... args) {
    auto device = std::make_unique<Sim>(port, dir, args...);
    EXPECT_TRUE(device->Start());
    return device;
}

CommSettings Line(int port, int baud) {
    return CommSettings{port, baud, 8, 0, 0, 0};
}

template <typename Driver>
Rig DriverRig(std::unique_ptr<CSimulatedDevice> device, std::shared_ptr<Driver> driver,
              std::function<bool(Driver&, double&)> operate) {
    Rig rig;
    rig.device = std::move(device);
    Driver* d = driver.get();
    rig.channel = d;
    rig.open = [d] { return d->OpenPort(); };
    rig.close = [d] { return d->ClosePort(); };
    rig.operate = [d, operate](double& value) { return operate(*d, value); };
    rig.failure = [d] { return d->LastFailure(); };
    rig.owner = std::move(driver);
    return rig;
}

template <typename Driver, CShutterControllerSim::Generation generation>
Rig ShutterRig(const std::string& dir, int baud) {
    auto driver = std::make_shared<Driver>();
    driver->Settings = Line(kDevicePort, baud);
    // At 300 baud the box keeps its own 2000 ms: a state read is 170 ms of line time.
    if (baud != kSlowBaud) {
        driver->ReplyTimeout = kShortReplyMs;
    }
    return DriverRig<Driver>(StartDevice<CShutterControllerSim>(kDevicePort, dir, generation),
                             driver, [](Driver& d, double& value) {
                                 int32_t state = -1;
                                 const bool ok = d.GetShutterState(state);
                                 value = state;
                                 return ok;
                             });
}

void SetMotorTimeouts(CSmartMotor& motor, int baud) {
    if (baud == kSlowBaud) {
        // A subroutine call and its echo are 14 characters, 467 ms at 300 baud: the motor's
        // 500 ms echo wait leaves no room for a loaded machine.
        motor.Timeout.Echo = 1500;
        return;
    }
    motor.Timeout.Echo = kShortEchoMs;
    motor.Timeout.Reply = kShortReplyMs;
    motor.Timeout.Filter = kShortReplyMs;
}

std::unique_ptr<CSmartMotorSim> StartMotor(const std::string& dir,
                                           CSmartMotorSim::Program program) {
    auto motor = StartDevice<CSmartMotorSim>(kDevicePort, dir, program, 6);
    motor->SetMoveTime(1ms);
    motor->SetHomeTime(1ms);
    return motor;
}

// The shutter through the motor: "d=1", "GOSUB6" (legacy "GOSUB1"), "SHTR:1".
template <typename Motor, CSmartMotorSim::Program program>
Rig MotorRig(const std::string& dir, int baud) {
    auto motor = std::make_shared<Motor>();
    motor->Settings = Line(kDevicePort, baud);
    SetMotorTimeouts(*motor, baud);
    auto device = StartMotor(dir, program);
    CSmartMotorSim* sim = device.get();
    return DriverRig<Motor>(std::move(device), motor, [sim](Motor& m, double& value) {
        const bool ok = m.OpenShutter();
        value = sim->ShutterState();
        return ok;
    });
}

template <typename Driver, typename Sim>
Rig TempControllerRig(const std::string& dir, int baud) {
    auto driver = std::make_shared<Driver>();
    driver->Settings = Line(kDevicePort, baud);
    // At 300 baud an Athena reading is 20 characters, 667 ms of the controller's 1000.
    driver->ReplyTimeout = baud == kSlowBaud ? 2000 : kShortReplyMs;
    return DriverRig<Driver>(StartDevice<Sim>(kDevicePort, dir), driver,
                             [](Driver& d, double& value) { return d.GetTemperature(value); });
}

// The single-filter instrument with a v3.0 box: open the shutter, confirmed by a state read.
Rig ShutterBoxRig(const std::string& dir, int baud) {
    auto box = std::make_shared<CShutterBox>();
    box->Config.InstrumentKind = vocabulary::kFilterModeSingle;
    box->Config.ShutterControllerGeneration = 3;
    box->Config.InstrumentPort = Line(kDevicePort, baud);
    box->Driver30.SettleDelayMs = 0;
    if (baud != kSlowBaud) {
        box->Driver30.ReplyTimeout = kShortReplyMs;
    }
    Rig rig;
    rig.device = StartDevice<CShutterControllerSim>(kDevicePort, dir,
                                                    CShutterControllerSim::Generation::V30);
    auto* sim = static_cast<CShutterControllerSim*>(rig.device.get());
    CShutterBox* b = box.get();
    rig.channel = &box->Driver30;
    rig.open = [b] { return b->Connect(); };
    rig.close = [b] { return b->Disconnect(); };
    rig.operate = [b, sim](double& value) {
        const bool ok = b->SetShutterState(1);
        value = sim->ShutterState();
        return ok;
    };
    rig.failure = [b] { return b->LastFailure(); };
    rig.owner = std::move(box);
    return rig;
}

// The multi-filter instrument with its Omega; the faults hit the motor, the controller's own
// are its driver's rows. The filter change is an exchange the instrument runs itself.
Rig FilterWheelRig(const std::string& dir, int baud) {
    auto wheel = std::make_shared<CFilterWheel>();
    wheel->Config.InstrumentKind = vocabulary::kFilterModeMulti;
    wheel->Config.MotorGeneration = 2;
    wheel->Config.TempController = vocabulary::kTempControllerOmega;
    wheel->Config.InstrumentPort = Line(kDevicePort, baud);
    wheel->Config.TempControllerPort = Line(kSparePort, baud);
    SetMotorTimeouts(wheel->Motor, baud);
    if (baud == kSlowBaud) {
        wheel->Omega.ReplyTimeout = 2000;
    }
    Rig rig;
    rig.device = StartMotor(dir, CSmartMotorSim::Program::Current);
    rig.spare = StartDevice<sim::COmegaControllerSim>(kSparePort, dir);
    auto* sim = static_cast<CSmartMotorSim*>(rig.device.get());
    CFilterWheel* w = wheel.get();
    rig.channel = &wheel->Motor;
    rig.open = [w] { return w->Connect(); };
    rig.close = [w] { return w->Disconnect(); };
    rig.operate = [w, sim](double& value) {
        const bool ok = w->ChangeFilter(3);
        value = sim->FilterPosition();
        return ok;
    };
    rig.failure = [w] { return w->LastFailure(); };
    rig.owner = std::move(wheel);
    return rig;
}

std::vector<DeviceCase> Cases() {
    using Generation = CShutterControllerSim::Generation;
    using Program = CSmartMotorSim::Program;
    // Any two bytes that do not add up to 255 fail a state read; "!0" is the start of the
    // threshold answer. A motor subroutine's reading that does not match its pattern leaves the
    // value as it was, 0 on a driver that has read nothing yet: the shutter is not confirmed
    // open, the filter not reported moved. The Omega takes any temperature line: without a
    // number it reads 0.0, and the set point's hex digits read as far as they are decimal.
    const std::string threshold = "!0TH?=0400\r";
    // The three shutter controllers answer the same faults the same way: a state read, 3 + 2
    // characters, with a check byte; 5 + 3 + 2 an open and its read-back. A motor command pair
    // is "d=1" CR and "GOSUB6" CR, each with its echo, and the 7-character answer.
    constexpr int64_t kMotorBudgetMs = 8 * kShortEchoMs + kShortReplyMs;
    return {
        {"ShutterLegacy", ShutterRig<CShutterBoxDeviceLegacy, Generation::Legacy>, 0, kShortReplyMs,
         5, threshold, 0, true},
        {"Shutter26", ShutterRig<CShutterBoxDevice, Generation::V26>, 0, kShortReplyMs, 5,
         threshold, 0, true},
        {"Shutter30", ShutterRig<CShutterController3, Generation::V30>, 0, kShortReplyMs, 5,
         threshold, 0, true},
        {"SmartMotor", MotorRig<CSmartMotor, Program::Current>, 1, kMotorBudgetMs, 29, "FILT:1\r",
         2},
        {"SmartMotorLegacy", MotorRig<CSmartMotorLegacy, Program::Legacy>, 1, kMotorBudgetMs, 29,
         "FILT:1\r", 2},
        {"Omega", TempControllerRig<COmegaTempController, sim::COmegaControllerSim>, 25.0,
         kShortReplyMs, 11, "2000FA\r", 0, false, Outcome{true, 0.0}, Outcome{true, 2000.0}},
        {"Athena", TempControllerRig<CAthena16TempController, sim::CAthena16Sim>, 23.0,
         kShortReplyMs, 20, "#01R01=25.0\r\n"},
        {"ShutterBoxInstrument", ShutterBoxRig, 1, 2 * kShortReplyMs, 10, threshold, 0, true},
        {"FilterWheelInstrument", FilterWheelRig, 3, kMotorBudgetMs, 29, "SHTR:1\r", 2},
    };
}

class Faults : public testing_support::PortDirectoryTest,
               public testing::WithParamInterface<DeviceCase> {
protected:
    void TearDown() override {
        rig = Rig{};
        PortDirectoryTest::TearDown();
    }

    // Builds the bench, notes the threads running with the devices up, and connects.
    void Connect(int baud = kBaud,
                 CSimulatedDevice::Pacing pacing = CSimulatedDevice::Pacing::Off) {
        rig = GetParam().make(PortDir(), baud);
        for (CSimulatedDevice* device : {rig.device.get(), rig.spare.get()}) {
            if (device != nullptr) {
                device->SetPacing(pacing);
            }
        }
        threads = ThreadCount();
        ASSERT_TRUE(rig.open());
    }

    CSimulatedDevice& Device() { return *rig.device; }

    // Runs the operation with the device misbehaving; a failure must be recorded as why.
    void ExpectOutcome(const Outcome& expected, platform::FailureKind why) {
        double value = -1000.0;
        const auto start = Clock::now();
        const bool ok = rig.operate(value);
        const auto took = Clock::now() - start;
        EXPECT_EQ(ok, expected.result);
        if (ok && expected.result) {
            EXPECT_DOUBLE_EQ(value, expected.value);
        }
        if (!ok) {
            const platform::Failure failure = rig.failure();
            EXPECT_EQ(platform::FailureKindName(failure.Kind), platform::FailureKindName(why))
                << failure.Text;
            EXPECT_NE(failure.Text.find("COM" + std::to_string(kDevicePort)), std::string::npos);
        }
        EXPECT_LT(took, std::chrono::milliseconds(GetParam().budgetMs) + kSlack);
        // Whatever happened, the channel is idle again: nothing can complete the next command
        // before its own answer is in.
        EXPECT_FALSE(rig.channel->ReplyPendingEvent.IsSet());
        EXPECT_FALSE(rig.channel->ReplyReadyEvent.IsSet());
    }

    void ExpectWorks() {
        double value = -1000.0;
        EXPECT_TRUE(rig.operate(value));
        EXPECT_DOUBLE_EQ(value, GetParam().value);
    }

    // The device behaves again, or is plugged in again: a driver that is still open takes the
    // next command, it closes, opens again and works, and leaves no thread running.
    void ExpectRecovery() {
        if (Device().Connected()) {
            ExpectWorks();
        }
        EXPECT_TRUE(rig.close());
        if (!Device().Connected()) {
            ASSERT_TRUE(Device().PlugIn());
        }
        EXPECT_EQ(ThreadCountSettledAt(threads), threads);
        ASSERT_TRUE(rig.open());
        ExpectWorks();
        EXPECT_TRUE(rig.close());
        EXPECT_EQ(ThreadCountSettledAt(threads), threads);
    }

    void ExpectAnswerChanged(std::function<std::string(std::string_view)> change,
                             const Outcome& expected) {
        Connect();
        Device().ChangeNextReply(std::move(change), GetParam().answersAhead);
        ExpectOutcome(expected, platform::FailureKind::ReplyNotUnderstood);
        ExpectRecovery();
    }

    void ExpectLineBounded() {
        std::lock_guard receive(rig.channel->ReceiveLock);
        EXPECT_LE(rig.channel->ReceiveLine.size(), CCommandChannel::kMaxReplyLine);
    }

    Rig rig;
    size_t threads = 0;
};

TEST_P(Faults, HangUpInTheMiddleOfACommand) {
    Connect();
    Device().HangUpOnNextReply();
    ExpectOutcome({false}, platform::FailureKind::DeviceGone);
    ExpectRecovery();
}

TEST_P(Faults, HangUpWhileIdle) {
    Connect();
    Device().HangUp();
    ExpectOutcome({false}, platform::FailureKind::DeviceGone);
    ExpectRecovery();
}

TEST_P(Faults, Garbage) {
    ExpectAnswerChanged([](std::string_view) { return kGarbage; }, GetParam().garbage);
}

TEST_P(Faults, HalfAnAnswer) {
    ExpectAnswerChanged(Half, {false});
}

// Only the shutter controllers' state answer carries a check byte.
class CheckByteFaults : public Faults {};

TEST_P(CheckByteFaults, AWrongCheckByte) {
    Connect();
    Device().ChangeNextReply(FlipCheckByte);
    ExpectOutcome({false}, platform::FailureKind::ReplyNotUnderstood);
    // The answer did come: the exchange itself completes, only its check fails.
    Device().ChangeNextReply(FlipCheckByte);
    {
        CCommandChannel& channel = *rig.channel;
        std::lock_guard command(channel.CommandLock);
        channel.ReplyValue = 0;
        channel.ReplyValid = 1;
        EXPECT_TRUE(channel.SendCommand("#0R", false, true));
        EXPECT_EQ(channel.ReplyValid, 0);
    }
    ExpectRecovery();
}

TEST_P(Faults, TheAnswerToAnotherCommand) {
    ExpectAnswerChanged([other = GetParam().other](std::string_view) { return other; },
                        GetParam().afterOther);
}

TEST_P(Faults, AnAnswerAfterTheTimeOut) {
    Connect();
    const auto late = std::chrono::milliseconds(GetParam().budgetMs) + 300ms;
    Device().SetReplyDelay(late);
    ExpectOutcome({false}, platform::FailureKind::NoReply);
    Device().SetReplyDelay(0ms);
    // The late answers come while nobody waits for them, and change nothing.
    ASSERT_TRUE(Device().WaitUntilSent(late + 10s));
    ExpectRecovery();
}

TEST_P(Faults, ALineThatNeverEnds) {
    Connect();
    // While idle: far more than a reply line may hold, and the pseudo-terminal's buffer, so
    // that the driver has read most of it by the time it has all gone out.
    const std::string chunk(32 * 1024, 'Z');
    for (int i = 0; i < 16; ++i) {
        Device().Inject(chunk);
    }
    ASSERT_TRUE(Device().WaitUntilSent(60s));
    ExpectLineBounded();
    // As the answer to a command.
    Device().ChangeNextReply([](std::string_view) { return std::string(256 * 1024, 'Z'); },
                             GetParam().answersAhead);
    ExpectOutcome({false}, platform::FailureKind::ReplyNotUnderstood);
    ASSERT_TRUE(Device().WaitUntilSent(60s));
    ExpectLineBounded();
    ExpectRecovery();
}

// Flow control holds the line: the command's write finds no room. It must cost no more than the
// command's own time-out, as a device that does not answer would, however often it is tried (a
// refresh every second): the slack is for the whole run, not for each try.
TEST_P(Faults, TheLineStopsDraining) {
    constexpr int kTries = 3;
    Connect();
    ASSERT_TRUE(Device().HoldLine(true));
    const auto start = Clock::now();
    for (int i = 0; i < kTries; ++i) {
        ExpectOutcome({false}, platform::FailureKind::WriteTimedOut);
    }
    EXPECT_LT(Clock::now() - start,
              kTries * std::chrono::milliseconds(GetParam().budgetMs) + kSlack);
    ASSERT_TRUE(Device().HoldLine(false));
    ExpectRecovery();
}

TEST_P(Faults, ALineAt300Baud) {
    Connect(kSlowBaud, CSimulatedDevice::Pacing::PortBaud);
    const auto start = Clock::now();
    ExpectWorks();
    // The device paces both ways at the rate the driver set, so the exchange cannot be quicker
    // than its characters of ten bits (a little under, for rounding).
    const auto lineTime = std::chrono::milliseconds(GetParam().lineChars * 10 * 1000 / kSlowBaud);
    EXPECT_GE(Clock::now() - start, lineTime * 9 / 10);
    EXPECT_TRUE(rig.close());
    EXPECT_EQ(ThreadCountSettledAt(threads), threads);
}

std::string CaseName(const testing::TestParamInfo<DeviceCase>& info) {
    return info.param.name;
}

std::vector<DeviceCase> CasesWithACheckByte() {
    std::vector<DeviceCase> cases = Cases();
    std::erase_if(cases, [](const DeviceCase& c) { return !c.checkByte; });
    return cases;
}

INSTANTIATE_TEST_SUITE_P(AllDevices, Faults, testing::ValuesIn(Cases()), CaseName);
INSTANTIATE_TEST_SUITE_P(DevicesWithACheckByte, CheckByteFaults,
                         testing::ValuesIn(CasesWithACheckByte()), CaseName);

}  // namespace
