#include "cli/Check.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "cli/Interrupt.h"
#include "devices/ReplyMeaning.h"
#include "devices/Vocabulary.h"
#include "instruments/FilterWheel.h"
#include "instruments/ShutterBox.h"
#include "platform/PortNames.h"
#include "serial/SessionTrace.h"
#include "serial/TrafficEcho.h"

namespace cli {

namespace {

// The ports' traffic, for --verbose: the ports post it from their own threads; the check prints
// it, in the console log's lines and colours, before each step's line. Each reply shows the time
// since its command and what it means, as the console's log shows them with times on.
class CTrafficPrinter final : public ISerialEchoSink {
public:
    CTrafficPrinter() {
        traffic_.SetMeaning(DescribeReply);
        traffic_.SetPairing(true);
    }

    void PostSerialEcho(std::unique_ptr<SerialEcho> echo) override {
        const std::lock_guard lock(mutex_);
        echoes_.push_back(std::move(echo));
    }

    void Print(CTerminal& terminal, const InstrumentConfig& config) {
        std::deque<std::unique_ptr<SerialEcho>> echoes;
        {
            const std::lock_guard lock(mutex_);
            echoes.swap(echoes_);
        }
        for (const std::unique_ptr<SerialEcho>& echo : echoes) {
            // A command going out first logs what still waits on its port for a carriage return.
            for (const TrafficText& piece :
                 traffic_.Take(*echo, true, config.InstrumentPort.PortNumber,
                               config.TempControllerPort.PortNumber)) {
                terminal.Coloured(piece.Text, piece.Code);
            }
        }
        // The step is over: a reply without a carriage return (the v3.0 box's binary ones) is
        // complete, and shown before the step's line rather than glued to the next reply.
        for (const TrafficText& piece : traffic_.FlushAll()) {
            terminal.Coloured(piece.Text, piece.Code);
        }
    }

private:
    std::mutex mutex_;
    std::deque<std::unique_ptr<SerialEcho>> echoes_;  // under mutex_
    CTrafficEcho traffic_;
};

std::string Number(double value) {
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%.1f", value);
    return text.data();
}

// Runs the steps one after another, timing each, printing its line and keeping its record.
class CStepRunner {
public:
    CStepRunner(const CheckOptions& options, CTerminal& terminal, CReport& report,
                CInstrumentBase& instrument, CTrafficPrinter& traffic)
        : options_(options),
          terminal_(terminal),
          report_(report),
          instrument_(instrument),
          traffic_(traffic) {}

    bool Chosen(const std::string& group) const {
        const auto named = [&](const std::vector<std::string>& list) {
            return std::find(list.begin(), list.end(), group) != list.end();
        };
        return (options_.Only.empty() || named(options_.Only)) && !named(options_.Skip);
    }

    // Whether the run goes on: not after Ctrl-C, nor once a device has gone.
    bool Going() const { return !stopped_ && !interrupt::Requested(); }
    bool DeviceLost() const { return stopped_; }
    bool Failed() const { return failed_; }

    // step fills value and answers whether it passed; a step that fails without a failure of
    // the instrument's (a wrong reading) says why in value.
    void Run(const std::string& name, const std::function<bool(std::string& value)>& step) {
        StepRecord& record = report_.AddStep(name);
        if (!Going()) {
            return;
        }
        const auto start = std::chrono::steady_clock::now();
        std::string value;
        const bool passed = step(value);
        record.DurationMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        record.Result = passed ? "passed" : "failed";
        if (passed) {
            record.Value = value;
        } else {
            failed_ = true;
            const platform::Failure failure = instrument_.LastFailure();
            record.Kind = failure.Kind;
            record.Value = value;
            record.Error = failure ? failure.Text : value;
            stopped_ = failure.Kind == platform::FailureKind::DeviceGone;
        }
        Show(record);
    }

    void Skip(const std::string& name, const std::string& why) {
        StepRecord& record = report_.AddStep(name);
        record.Result = "skipped";
        record.Value = why;
        Show(record);
    }

    void Show(const StepRecord& record) {
        if (options_.Verbose) {
            traffic_.Print(terminal_, instrument_.Config);
        }
        const int code = record.Result == "passed"   ? kLogSuccess
                         : record.Result == "failed" ? kLogError
                                                     : kLogPlain;
        terminal_.Coloured(StepLine(record) + "\n", code);
    }

private:
    const CheckOptions& options_;
    CTerminal& terminal_;
    CReport& report_;
    CInstrumentBase& instrument_;
    CTrafficPrinter& traffic_;
    bool stopped_ = false;
    bool failed_ = false;
};

std::string Named(const EnumTable& table, int32_t index) {
    const std::wstring_view name = table.Name(index);
    return Narrow(name);
}

nlohmann::json IdentityJson(const InstrumentInfo& info, const std::string& kind) {
    return {{"kind", kind},
            {"model", TextOrNull(Named(vocabulary::InstrumentModel, info.InstrumentModel))},
            {"firmware", TextOrNull(Narrow(info.FirmwareVersion))},
            {"filters", info.NumberOfFilters},
            {"filter_size", TextOrNull(Narrow(info.FilterSize))},
            {"shutter", TextOrNull(Named(vocabulary::ShutterType, info.ShutterType))},
            {"motor", TextOrNull(Named(vocabulary::MotorModel, info.MotorModel))},
            {"temperature_controller",
             TextOrNull(Named(vocabulary::TempController, info.TempController))},
            {"text", TextOrNull(Narrow(IdentityText(info)))}};
}

std::string PortText(int number) {
    return platform::PortLabel(number);
}

}  // namespace

const std::vector<std::string>& CheckStepGroups() {
    static const std::vector<std::string> groups = {
        "identity", "shutter", "filters", "light-sensor", "temperature", "setpoint", "reset"};
    return groups;
}

std::string StepLine(const StepRecord& step) {
    std::string result = step.Result == "passed"    ? "PASS"
                         : step.Result == "failed"  ? "FAIL"
                         : step.Result == "skipped" ? "SKIP"
                                                    : "----";
    std::array<char, 96> head{};
    std::snprintf(head.data(), head.size(), "%-16s %s %9.1f ms", step.Name.c_str(), result.c_str(),
                  step.DurationMs);
    std::string line = head.data();
    const std::string& detail =
        step.Result == "failed" && !step.Error.empty() ? step.Error : step.Value;
    if (!detail.empty()) {
        line += "  " + detail;
    }
    return line;
}

int RunCheck(const CheckOptions& options, CTerminal& terminal, CReport& report) {
    // Before the instrument: its ports may post to them until they are closed.
    CTrafficPrinter traffic;
    CSessionTrace trace;
    CTracingEchoSink tracing(trace, options.Verbose ? &traffic : nullptr);
    ISerialEchoSink* sink = nullptr;
    if (!options.TracePath.empty()) {
        sink = &tracing;
    } else if (options.Verbose) {
        sink = &traffic;
    }
    const bool multi = options.Instrument == "multi";
    std::unique_ptr<CInstrumentBase> instrument;
    CFilterWheel* wheel = nullptr;
    if (multi) {
        auto made = std::make_unique<CFilterWheel>();
        wheel = made.get();
        instrument = std::move(made);
    } else {
        instrument = std::make_unique<CShutterBox>();
    }

    // The configuration the console gives an instrument it connects.
    InstrumentConfig config;
    const CommSettings line{0, options.Baud, 8, 0, 0, 0};
    config.InstrumentKind = multi ? vocabulary::kFilterModeMulti : vocabulary::kFilterModeSingle;
    config.InstrumentPort = line;
    config.InstrumentPort.PortNumber = multi ? options.MotorPort : options.Port;
    config.TempControllerPort = line;
    config.TempControllerPort.PortNumber = multi ? options.ControllerPort : 0;
    config.MotorGeneration = options.MotorGeneration;
    config.ShutterControllerGeneration = options.ShutterGeneration;
    config.MotorModel = options.Legacy ? 3 : 2;
    config.StandardFlag = options.Legacy ? 0 : 1;
    config.ShutterType = 1;
    config.TempController = options.TempController;
    instrument->Config = config;

    if (multi) {
        report.AddPort("motor", options.MotorPort);
        report.AddPort("controller", options.ControllerPort);
    } else {
        report.AddPort("shutter", options.Port);
    }

    if (sink != nullptr) {
        for (CSerialPort* port : std::initializer_list<CSerialPort*>{
                 wheel ? static_cast<CSerialPort*>(&wheel->Motor) : nullptr,
                 wheel ? static_cast<CSerialPort*>(&wheel->LegacyMotor) : nullptr,
                 wheel ? static_cast<CSerialPort*>(&wheel->Omega) : nullptr,
                 wheel ? static_cast<CSerialPort*>(&wheel->Athena) : nullptr}) {
            if (port != nullptr) {
                port->OwnerWindow = sink;
            }
        }
        if (!multi) {
            auto& box = static_cast<CShutterBox&>(*instrument);
            for (CSerialPort* port : std::initializer_list<CSerialPort*>{
                     &box.LegacyDriver, &box.Driver26, &box.Driver30}) {
                port->OwnerWindow = sink;
            }
        }
    }
    // Like the report, a trace that cannot be written stops the check before a port is opened.
    constexpr auto kTraceWait = std::chrono::seconds(10);
    std::vector<TracedPort> traced = {{multi ? "motor" : "shutter", config.InstrumentPort}};
    if (multi) {
        traced.push_back({"controller", config.TempControllerPort});
    }
    if (!options.TracePath.empty()) {
        trace.BeginFile(options.TracePath, options.Instrument, traced);
        if (trace.Flush(kTraceWait); !trace.Failure().empty()) {
            terminal.Error(trace.Failure());
            return kExitUsage;
        }
    }
    const auto endTrace = [&](const std::string& reason) {
        trace.End(reason);
        if (trace.Flush(kTraceWait); !trace.Failure().empty()) {
            terminal.Error("the session trace stopped: " + trace.Failure());
        }
    };

    CStepRunner steps(options, terminal, report, *instrument, traffic);
    int exitStatus = kExitPassed;
    terminal.Line(multi ? "Checking the multi-filter instrument: motor " +
                              PortText(options.MotorPort) + ", controller " +
                              PortText(options.ControllerPort)
                        : "Checking the single-filter instrument on " + PortText(options.Port));
    steps.Run("connect", [&](std::string& value) {
        if (!instrument->Connect()) {
            return false;
        }
        if (const platform::Failure note = instrument->LastFailure();
            note.Kind == platform::FailureKind::LineSettingRefused) {
            value = note.Text;
            trace.SettingsRefused(traced, note.Text);
        }
        return true;
    });
    if (steps.Failed()) {
        const platform::Failure failure = instrument->LastFailure();
        instrument->Disconnect();
        endTrace("connect failed");
        terminal.Error("could not connect: " + failure.Text);
        return interrupt::Requested() ? kExitInterrupted : kExitNoDevice;
    }

    InstrumentInfo info;
    const bool identified = [&] {
        if (!steps.Chosen("identity")) {
            return false;
        }
        bool read = false;
        steps.Run("identity", [&](std::string& value) {
            read = instrument->GetDeviceInfo(info);
            if (read) {
                const std::string text = Narrow(IdentityText(info));
                value = text.substr(0, text.find('\n'));
            }
            return read;
        });
        return read;
    }();
    if (identified) {
        report.Instrument = IdentityJson(info, options.Instrument);
    }

    if (steps.Chosen("shutter")) {
        for (const auto& [name, state] :
             {std::pair{"shutter-open", 1}, std::pair{"shutter-close", 0}}) {
            steps.Run(name, [&, state = state](std::string& value) {
                if (!instrument->SetShutterState(state)) {
                    return false;
                }
                int32_t reported = -1;
                if (!instrument->GetShutterState(reported)) {
                    return false;
                }
                const char* want = state == 1 ? "open" : "closed";
                value = reported == 1 ? "open" : reported == 0 ? "closed" : "unknown";
                if (reported != state) {
                    value.insert(0, "the shutter reads ");
                    value.append(", not ").append(want);
                    return false;
                }
                return true;
            });
        }
    }

    const char* notHere = "not on a single-filter instrument";
    if (steps.Chosen("filters")) {
        if (!multi) {
            steps.Skip("filters", notHere);
        } else {
            const int count = options.Filters > 0        ? options.Filters
                              : info.NumberOfFilters > 0 ? info.NumberOfFilters
                                                         : 6;
            int32_t start = 1;
            steps.Run("filter-start", [&](std::string& value) {
                if (!instrument->GetFilter(start)) {
                    return false;
                }
                value = "at " + std::to_string(start);
                return true;
            });
            const auto moveTo = [&](int32_t position) {
                return [&, position](std::string& value) {
                    int32_t reported = 0;
                    if (!instrument->ChangeFilter(position) || !instrument->GetFilter(reported)) {
                        return false;
                    }
                    value = "at " + std::to_string(reported);
                    if (reported != position) {
                        value = "the wheel reads " + std::to_string(reported) + ", not " +
                                std::to_string(position);
                        return false;
                    }
                    return true;
                };
            };
            for (int position = 1; position <= count; ++position) {
                steps.Run("filter-" + std::to_string(position), moveTo(position));
            }
            steps.Run("filter-back", moveTo(start >= 1 && start <= count ? start : 1));
        }
    }

    if (steps.Chosen("light-sensor")) {
        if (!multi && options.ShutterGeneration != 3) {
            steps.Skip("light-sensor", "only the v3.0 shutter controller has a light sensor");
        } else {
            steps.Run("light-sensor", [&](std::string& value) {
                int32_t state = 0;
                if (!instrument->GetLightSensorState(state)) {
                    return false;
                }
                value = "state " + std::to_string(state);
                return true;
            });
        }
    }

    if (steps.Chosen("temperature")) {
        if (!multi) {
            steps.Skip("temperature", notHere);
        } else {
            steps.Run("temperature", [&](std::string& value) {
                double temperature = 0.0;
                if (!instrument->ReadTemperature(temperature)) {
                    return false;
                }
                value = Number(temperature) + " \u00B0C";
                return true;
            });
        }
    }

    if (steps.Chosen("setpoint")) {
        if (!multi) {
            steps.Skip("setpoint", notHere);
        } else {
            steps.Run("setpoint", [&](std::string& value) {
                double current = 0.0;
                if (!instrument->GetTemperatureSetpoint(current)) {
                    return false;
                }
                const double wanted = options.Setpoint.value_or(current);
                double back = 0.0;
                if (!instrument->SetTemperatureSetpoint(wanted) ||
                    !instrument->GetTemperatureSetpoint(back)) {
                    return false;
                }
                value = Number(wanted) + " written, " + Number(back) + " read back";
                // The Omega keeps a tenth of a degree; the Athena's readings come back in whole
                // degrees.
                const double resolution = options.TempController == 2 ? 1.0 : 0.1;
                return std::fabs(back - wanted) < resolution - 0.05;
            });
        }
    }

    if (steps.Chosen("reset")) {
        if (!multi) {
            steps.Skip("reset", notHere);
        } else {
            steps.Run("reset", [&](std::string& value) {
                if (!instrument->ResetFilter(true, false, nullptr, nullptr)) {
                    return false;
                }
                value = "restarted and homed";
                return true;
            });
        }
    }

    instrument->Disconnect();
    endTrace(steps.DeviceLost() ? "device lost" : interrupt::Requested() ? "interrupted" : "asked");
    if (options.Verbose) {
        traffic.Print(terminal, instrument->Config);
    }
    int passed = 0;
    int failed = 0;
    int skipped = 0;
    double total = 0.0;
    for (const StepRecord& step : report.Steps()) {
        passed += step.Result == "passed" ? 1 : 0;
        failed += step.Result == "failed" ? 1 : 0;
        skipped += step.Result == "passed" || step.Result == "failed" ? 0 : 1;
        total += step.DurationMs;
    }
    if (interrupt::Requested()) {
        exitStatus = kExitInterrupted;
    } else if (failed > 0) {
        exitStatus = kExitFailed;
    }
    std::array<char, 128> summary{};
    std::snprintf(summary.data(), summary.size(), "%d passed, %d failed, %d skipped in %.2f s%s",
                  passed, failed, skipped, total / 1000.0,
                  exitStatus == kExitInterrupted ? " (interrupted)" : "");
    terminal.Line(summary.data());
    return exitStatus;
}

}  // namespace cli
