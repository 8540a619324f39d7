// Every kind of simulated device recorded in a session trace while an instrument runs the test
// panel's operations on it, then served from that trace by CReplaySim: the same operations must
// give the same results, value for value and failure for failure.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "devices/Vocabulary.h"
#include "instruments/FilterWheel.h"
#include "instruments/ShutterBox.h"
#include "serial/SessionTrace.h"
#include "sim/Athena16Sim.h"
#include "sim/OmegaControllerSim.h"
#include "sim/ReplaySim.h"
#include "sim/ShutterControllerSim.h"
#include "sim/SmartMotorSim.h"
#include "support/TestPortDirectory.h"

namespace {

using testing_support::kFirstTestPort;
using Program = sim::CSmartMotorSim::Program;
using Generation = sim::CShutterControllerSim::Generation;

constexpr int kInstrumentPort = kFirstTestPort;
constexpr int kControllerPort = kFirstTestPort + 1;

// A single-filter instrument names its box's generation; a multi-filter one its motor's program
// and its controller.
struct Bench {
    const char* name;
    int shutter;  // 0: multi-filter
    Program program;
    int controller;
};

class Replay : public testing_support::PortDirectoryTest,
               public testing::WithParamInterface<Bench> {
protected:
    // The operations on a fresh instrument whose ports report to sink; one line a result.
    std::vector<std::wstring> Operate(ISerialEchoSink* sink) {
        const Bench& bench = GetParam();
        std::unique_ptr<CInstrumentBase> instrument;
        std::vector<CSerialPort*> ports;
        if (bench.shutter != 0) {
            auto box = std::make_unique<CShutterBox>();
            box->Config.InstrumentKind = vocabulary::kFilterModeSingle;
            box->Config.ShutterControllerGeneration = bench.shutter;
            box->Driver30.SettleDelayMs = 0;
            ports = {&box->LegacyDriver, &box->Driver26, &box->Driver30};
            for (CSerialPort* port : ports) {
                static_cast<CCommandChannel*>(port)->ReplyTimeout = 150;
            }
            instrument = std::move(box);
        } else {
            auto wheel = std::make_unique<CFilterWheel>();
            wheel->Config.InstrumentKind = vocabulary::kFilterModeMulti;
            wheel->Config.MotorGeneration = static_cast<int32_t>(bench.program);
            wheel->Config.TempController = bench.controller;
            wheel->Config.TempControllerPort.PortNumber = kControllerPort;
            for (CSmartMotor* motor :
                 {&wheel->Motor, static_cast<CSmartMotor*>(&wheel->LegacyMotor)}) {
                motor->Timeout.Echo = 200;
                motor->Timeout.Reply = 300;
            }
            wheel->Omega.ReadBackDelayMs = 1;
            wheel->Omega.EchoFixDelayMs = 1;
            ports = {&wheel->Motor, &wheel->LegacyMotor, &wheel->Omega, &wheel->Athena};
            instrument = std::move(wheel);
        }
        instrument->Config.InstrumentPort.PortNumber = kInstrumentPort;
        for (CSerialPort* port : ports) {
            port->OwnerWindow = sink;
        }
        // A value is read only once its operation has run: arguments come in no set order.
        std::vector<std::wstring> results;
        const auto note = [&](bool ok, const auto& value) {
            std::wostringstream text;
            ok ? text << value : text << FailureKindName(instrument->LastFailure().Kind);
            results.push_back(text.str());
        };
        int32_t state = -1;
        double reading = 0;
        InstrumentInfo info;
        note(instrument->Connect(), L"connected");
        const bool identified = instrument->GetDeviceInfo(info);
        note(identified, IdentityText(info));
        for (const int32_t wanted : {1, 0}) {
            note(instrument->SetShutterState(wanted), L"set");
            note(instrument->GetShutterState(state), state);
        }
        note(instrument->GetLightSensorState(state), state);
        for (const int32_t position : {3, 5}) {
            note(instrument->ChangeFilter(position), L"moved");
            note(instrument->GetFilter(state), state);
        }
        note(instrument->ReadTemperature(reading), reading);
        note(instrument->SetTemperatureSetpoint(26.5), L"set");
        note(instrument->GetTemperatureSetpoint(reading), reading);
        note(bench.shutter != 0 || instrument->ResetFilter(true, false, nullptr, nullptr),
             L"reset");
        note(instrument->Disconnect(), L"disconnected");
        return results;
    }
};

TEST_P(Replay, AnswersAsTheRecordedDeviceDid) {
    const Bench& bench = GetParam();
    const std::string path = PortDir() + "/session.jsonl";
    std::vector<int> ports = {kInstrumentPort};
    std::vector<std::wstring> recorded;
    {
        std::vector<std::unique_ptr<sim::CSimulatedDevice>> devices;
        if (bench.shutter != 0) {
            devices.push_back(std::make_unique<sim::CShutterControllerSim>(
                kInstrumentPort, PortDir(), static_cast<Generation>(bench.shutter)));
        } else {
            auto motor =
                std::make_unique<sim::CSmartMotorSim>(kInstrumentPort, PortDir(), bench.program);
            motor->SetMoveTime(std::chrono::milliseconds(1));
            motor->SetHomeTime(std::chrono::milliseconds(1));
            devices.push_back(std::move(motor));
            if (bench.controller == vocabulary::kTempControllerOmega) {
                devices.push_back(
                    std::make_unique<sim::COmegaControllerSim>(kControllerPort, PortDir()));
            } else {
                devices.push_back(std::make_unique<sim::CAthena16Sim>(kControllerPort, PortDir()));
            }
            ports.push_back(kControllerPort);
        }
        for (const auto& device : devices) {
            ASSERT_TRUE(device->Start());
        }
        CSessionTrace trace;
        CTracingEchoSink tap(trace, nullptr);
        trace.BeginFile(path, bench.name, {});
        recorded = Operate(&tap);
        trace.End("asked");
        ASSERT_TRUE(trace.Flush(std::chrono::seconds(5)) && trace.Failure().empty());
    }
    std::ifstream file(path);
    std::string error;
    const auto traffic =
        trace::ReadTrace(std::string(std::istreambuf_iterator<char>(file), {}), error);
    ASSERT_TRUE(traffic) << error;
    int unknown = 0;
    std::vector<std::unique_ptr<sim::CReplaySim>> replays;
    for (const int port : ports) {
        replays.push_back(std::make_unique<sim::CReplaySim>(port, PortDir(), *traffic, false));
        replays.back()->SetUnknownHandler([&](const std::string&) { ++unknown; });
        ASSERT_TRUE(replays.back()->Start());
    }
    EXPECT_EQ(Operate(nullptr), recorded);
    replays.clear();
    EXPECT_EQ(unknown, 0);
    EXPECT_EQ(recorded.front(), L"connected");
}

INSTANTIATE_TEST_SUITE_P(EveryDeviceKind, Replay,
                         testing::Values(Bench{"ShutterLegacy", 1, Program::Current, 0},
                                         Bench{"Shutter26", 2, Program::Current, 0},
                                         Bench{"Shutter30", 3, Program::Current, 0},
                                         Bench{"MotorOmega", 0, Program::Current,
                                               vocabulary::kTempControllerOmega},
                                         Bench{"LegacyMotorAthena", 0, Program::Legacy,
                                               vocabulary::kTempControllerAthena}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
