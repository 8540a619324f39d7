#include "cli/Survey.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <functional>
#include <iostream>
#include <memory>

#include "cli/Interrupt.h"
#include "devices/Athena16TempController.h"
#include "devices/InstrumentInfo.h"
#include "devices/OmegaTempController.h"
#include "devices/ShutterBoxDeviceLegacy.h"
#include "devices/ShutterController3.h"
#include "devices/SmartMotor.h"
#include "serial/SerialPortList.h"
#include "serial/TrafficEcho.h"

namespace cli {

namespace {

const char* StateName(PortState state) {
    switch (state) {
        case PortState::Free:
            return "free";
        case PortState::Busy:
            return "busy";
        case PortState::NoPermission:
            return "no-permission";
        case PortState::Unplugged:
            return "unplugged";
    }
    return "busy";
}

std::string Temperature(double value) {
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "process %.1f \u00B0C", value);
    return text.data();
}

// One kind of device: asked with its driver's own probe, and if it answers, what it says.
struct Probe {
    const char* kind;
    // The Omega driver takes any line for an answer, an Athena's "ERROR" too: asked after an
    // Athena has answered, it would claim the port as well. A kind whose answer settles it
    // leaves the others of its family unasked.
    const char* family;
    std::function<bool(const CommSettings&, std::string& said, platform::Failure& why)> ask;
};

// The three generations of shutter controller answer each other's probes alike; what tells
// them apart is the firmware they report (3.x, 2.x; a legacy box reports none). A generation
// whose probe is answered by another generation's box says so and does not claim the port.
template <typename Driver>
auto AskShutter(const wchar_t* firmware) {
    return [firmware](const CommSettings& settings, std::string& said, platform::Failure& why) {
        Driver driver;
        driver.Settings = settings;
        if (!driver.Probe()) {
            why = driver.LastFailure();
            return false;
        }
        InstrumentInfo info;
        bool identified = false;
        if (driver.OpenPort()) {
            identified = driver.ReadDeviceInfo(info) && !info.FirmwareVersion.empty();
            driver.ClosePort();
        }
        const bool fits = firmware == nullptr
                              ? !identified
                              : identified && info.FirmwareVersion.rfind(firmware, 0) == 0;
        if (!fits) {
            why.Text = identified ? "answers, but reports firmware " + Narrow(info.FirmwareVersion)
                                  : "answers, but reports no firmware";
            return false;
        }
        said = Narrow(IdentityText(info));
        return true;
    };
}

const std::vector<Probe>& Probes() {
    static const std::vector<Probe> probes = {
        {"SmartMotor", "motor",
         [](const CommSettings& settings, std::string& said, platform::Failure& why) {
             CSmartMotor motor;
             motor.Settings = settings;
             if (!motor.Probe()) {
                 why = motor.LastFailure();
                 return false;
             }
             InstrumentInfo info;
             if (motor.OpenPort()) {
                 if (motor.GetDeviceInfo(info)) {
                     said = Narrow(IdentityText(info));
                 }
                 motor.ClosePort();
             }
             return true;
         }},
        {"Athena 16", "temperature controller",
         [](const CommSettings& settings, std::string& said, platform::Failure& why) {
             CAthena16TempController athena;
             athena.Settings = settings;
             if (!athena.OpenPort()) {
                 why = athena.LastFailure();
                 return false;
             }
             said = Narrow(athena.IdentityText);
             double value = 0.0;
             if (athena.GetTemperature(value)) {
                 said += (said.empty() ? "" : ", ") + Temperature(value);
             }
             athena.ClosePort();
             return true;
         }},
        {"Omega CNi32", "temperature controller",
         [](const CommSettings& settings, std::string& said, platform::Failure& why) {
             COmegaTempController omega;
             omega.Settings = settings;
             if (!omega.OpenPort()) {
                 why = omega.LastFailure();
                 return false;
             }
             double value = 0.0;
             if (omega.GetTemperature(value)) {
                 said = Temperature(value);
             }
             omega.ClosePort();
             return true;
         }},
        {"shutter controller v3.0", "shutter controller", AskShutter<CShutterController3>(L"3.")},
        {"shutter controller v2.6", "shutter controller", AskShutter<CShutterBoxDevice>(L"2.")},
        {"shutter controller (legacy)", "shutter controller",
         AskShutter<CShutterBoxDeviceLegacy>(nullptr)},
    };
    return probes;
}

}  // namespace

int ListPorts(bool json, CTerminal& terminal) {
    const std::vector<PortListing> ports = SurveyPorts(1, 255);
    if (json) {
        nlohmann::json list = nlohmann::json::array();
        for (const PortListing& port : ports) {
            nlohmann::json item = {
                {"number", port.entry.number},
                {"port", "COM" + std::to_string(port.entry.number)},
                {"path", port.entry.path},
                {"device", port.entry.Present() ? nlohmann::json(port.entry.device) : nullptr},
                {"adapter", TextOrNull(port.entry.adapter)},
                {"identity", TextOrNull(port.entry.identity)},
                {"state", StateName(port.state)},
                {"holder", nullptr}};
            if (port.holder) {
                item["holder"] = {{"pid", port.holder->pid}, {"program", port.holder->program}};
            }
            list.push_back(std::move(item));
        }
        terminal.Line(list.dump(2, ' ', false, nlohmann::json::error_handler_t::replace));
        return kExitPassed;
    }
    if (ports.empty()) {
        terminal.Line("No serial ports.");
    }
    for (const PortListing& port : ports) {
        terminal.Line(PortListingText(port));
    }
    return kExitPassed;
}

int IdentifyPorts(int port, int baud, CTerminal& terminal, CReport& report) {
    std::vector<int> numbers;
    for (const PortListing& listing : SurveyPorts(port > 0 ? port : 1, port > 0 ? port : 255)) {
        if (listing.state == PortState::Free) {
            numbers.push_back(listing.entry.number);
        } else if (port > 0) {
            terminal.Error(PortListingText(listing) + ": " + PortListingReason(listing));
            StepRecord& step = report.AddStep(PortListingText(listing));
            step.Result = "failed";
            step.Error = PortListingReason(listing);
            step.Kind = listing.state == PortState::NoPermission
                            ? platform::FailureKind::NoPermission
                            : platform::FailureKind::Busy;
            return kExitNoDevice;
        }
    }
    if (port > 0 && numbers.empty()) {
        const std::string why = platform::PortLabel(port) + " does not exist.";
        terminal.Error(why);
        StepRecord& step = report.AddStep("COM" + std::to_string(port));
        step.Result = "failed";
        step.Error = why;
        step.Kind = platform::FailureKind::NoSuchPort;
        return kExitNoDevice;
    }
    bool anyAnswered = false;
    for (const int number : numbers) {
        report.AddPort("probed", number);
        terminal.Line(platform::PortLabel(number) + ":");
        std::string settled;  // the family whose member answered
        for (const Probe& probe : Probes()) {
            if (interrupt::Requested()) {
                return kExitInterrupted;
            }
            if (settled == probe.family) {
                continue;
            }
            const auto start = std::chrono::steady_clock::now();
            std::string said;
            platform::Failure why;
            const bool answered = probe.ask(CommSettings{number, baud, 8, 0, 0, 0}, said, why);
            StepRecord& step = report.AddStep("COM" + std::to_string(number) + " " + probe.kind);
            step.DurationMs =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count();
            step.Result = answered ? "passed" : "skipped";
            step.Value = answered ? said : why.Text;
            anyAnswered = anyAnswered || answered;
            if (answered) {
                settled = probe.family;
            }
            std::string line = std::string("  ") + probe.kind + (answered ? ": answers" : ": no");
            if (!answered && why.Kind == platform::FailureKind::None && !why.Text.empty()) {
                line += " (" + why.Text + ")";
            }
            if (answered && !said.empty()) {
                // The identity's two lines on one.
                for (size_t at = said.find('\n'); at != std::string::npos;
                     at = said.find('\n', at)) {
                    said.replace(at, 1, "; ");
                }
                line += "  " + said;
            }
            terminal.Coloured(line + "\n", answered ? kLogSuccess : kLogPlain);
        }
    }
    // What answered is the result; a port where nothing did is a finding, not a failure of the
    // command, unless a single port was asked about.
    return port > 0 && !anyAnswered ? kExitFailed : kExitPassed;
}

}  // namespace cli
