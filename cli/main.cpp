// pravikctl: the bench check and the console's tools from a shell, with reports and exit
// statuses a script or a production line can act on. Links no Qt.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>
#include <string>
#include <vector>

#include "cli/Check.h"
#include "cli/Interrupt.h"
#include "cli/Report.h"
#include "cli/Survey.h"
#include "cli/Terminal.h"
#include "cli/Tools.h"
#include "platform/Version.h"

namespace {

// "COM5", "com5" or "5" as 5; 0 when the text names no port from COM1 to COM255.
int PortNumber(const std::string& text) {
    std::string_view digits = text;
    if (digits.size() > 3) {
        std::string head = text.substr(0, 3);
        std::transform(head.begin(), head.end(), head.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        if (head == "COM") {
            digits.remove_prefix(3);
        }
    }
    int number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    return error == std::errc() && end == digits.data() + digits.size() && number >= 1 &&
                   number <= 255
               ? number
               : 0;
}

// A port option: COMn, checked as it is parsed.
CLI::Option* AddPort(CLI::App& app, const std::string& name, int& port, const std::string& help) {
    return app
        .add_option_function<std::string>(
            name, [&port](const std::string& text) { port = PortNumber(text); }, help)
        ->type_name("COMn")
        ->check(CLI::Validator(
            [](std::string& text) {
                return PortNumber(text) > 0 ? std::string()
                                            : "'" + text + "' is not a port: give COM1 to COM255";
            },
            "", "port"));
}

// A threshold in hexadecimal, "0x0A00" or "A00", within what the threshold window offers.
std::optional<uint16_t> HexThreshold(const std::string& text) {
    std::string_view digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits.remove_prefix(2);
    }
    unsigned value = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
        value < 0x0400 || value > 0x0FFF) {
        return std::nullopt;
    }
    return static_cast<uint16_t>(value);
}

const CLI::Validator kHex(
    [](std::string& text) {
        return HexThreshold(text)
                   ? std::string()
                   : "'" + text + "' is not a hexadecimal threshold (0x0400 to 0x0FFF)";
    },
    "HEX", "hex");

int Run(int argc, char** argv, cli::CTerminal& terminal) {
    CLI::App app(
        "The Pravik bench from a shell: list ports, identify devices, check an instrument and run "
        "the service tools, with JSON and JUnit reports.\n\n"
        "Exit status: 0 all passed; 1 a step failed; 2 could not connect (the port busy, "
        "forbidden or missing); 64 usage error; 130 interrupted.",
        "pravikctl");
    app.set_version_flag("--version", "pravikctl " + ProgramVersion());
    app.require_subcommand(1);
    app.fallthrough();
    std::string reportPath;
    std::string junitPath;
    app.add_option("--report", reportPath, "write a JSON report of the run to FILE")
        ->type_name("FILE");
    app.add_option("--junit", junitPath, "write the run's steps as JUnit XML to FILE")
        ->type_name("FILE");
    app.footer(
        "Ports are named as in the console: COM3, or just 3. 'pravikctl COMMAND --help' "
        "tells more.");

    // ports
    bool json = false;
    CLI::App* ports = app.add_subcommand("ports", "list the serial ports as the console sees them");
    ports->add_flag("--json", json, "as JSON");

    // identify
    int identifyPort = 0;
    bool identifyAll = false;
    int identifyBaud = 9600;
    CLI::App* identify =
        app.add_subcommand("identify", "ask a port what kind of device answers on it");
    CLI::Option* identifyPortOption = AddPort(*identify, "--port", identifyPort, "the port to ask");
    identify->add_flag("--all", identifyAll, "ask every free port (a busy one is never touched)")
        ->excludes(identifyPortOption);
    identify->add_option("--baud", identifyBaud, "line speed")->check(CLI::Range(110, 921600));

    // check
    cli::CheckOptions check;
    std::string motorProgram = "current";
    std::string controllerKind = "omega";
    std::string shutterGeneration = "3.0";
    CLI::App* checkCommand = app.add_subcommand(
        "check", "connect to an instrument as the console does and run its test operations");
    checkCommand->add_option("--instrument", check.Instrument, "the kind of instrument")
        ->required()
        ->check(CLI::IsMember({"multi", "single"}));
    AddPort(*checkCommand, "--motor", check.MotorPort, "multi-filter: the SmartMotor's port");
    AddPort(*checkCommand, "--controller", check.ControllerPort,
            "multi-filter: the temperature controller's port");
    AddPort(*checkCommand, "--port", check.Port, "single-filter: the shutter controller's port");
    checkCommand
        ->add_option("--filters", check.Filters,
                     "filter positions to visit (default: as the instrument says)")
        ->check(CLI::Range(1, 8));
    checkCommand->add_flag("--legacy", check.Legacy, "enable legacy support, as the console's box");
    checkCommand->add_option("--motor-program", motorProgram, "the motor's motion program")
        ->check(CLI::IsMember({"current", "legacy"}))
        ->capture_default_str();
    checkCommand->add_option("--controller-kind", controllerKind, "the temperature controller")
        ->check(CLI::IsMember({"omega", "athena"}))
        ->capture_default_str();
    checkCommand
        ->add_option("--shutter-generation", shutterGeneration,
                     "single-filter: the shutter controller's generation")
        ->check(CLI::IsMember({"legacy", "2.6", "3.0"}))
        ->capture_default_str();
    checkCommand->add_option("--baud", check.Baud, "line speed of every port")
        ->check(CLI::Range(110, 921600))
        ->capture_default_str();
    checkCommand
        ->add_option_function<double>(
            "--setpoint", [&](double value) { check.Setpoint = value; },
            "set point the set-point step writes (default: the one it reads)")
        ->check(CLI::Range(-200.0, 1000.0));
    const std::vector<std::string>& groups = cli::CheckStepGroups();
    std::string groupList;
    for (const std::string& group : groups) {
        groupList += (groupList.empty() ? "" : ", ") + group;
    }
    checkCommand->add_option("--only", check.Only, "run only these steps: " + groupList)
        ->delimiter(',')
        ->check(CLI::IsMember(groups));
    checkCommand->add_option("--skip", check.Skip, "leave these steps out")
        ->delimiter(',')
        ->check(CLI::IsMember(groups));
    checkCommand->add_flag("-v,--verbose", check.Verbose,
                           "print the traffic as the console logs it (coloured on a terminal)");
    checkCommand
        ->add_option("--trace", check.TracePath,
                     "write a session trace of every byte sent and received to FILE, which "
                     "pravik-sim replay=COMn:FILE serves back")
        ->type_name("FILE");

    // omega save | reset
    CLI::App* omega = app.add_subcommand("omega", "the Omega controller's settings");
    omega->require_subcommand(1);
    int omegaPort = 0;
    std::string omegaFile;
    CLI::App* omegaSave = omega->add_subcommand("save", "save the controller's registers to FILE");
    omegaSave->add_option("file", omegaFile, "the settings file to write")->required();
    AddPort(*omegaSave, "--port", omegaPort, "the controller's port")->required();
    std::string omegaConfiguration;
    std::string omegaInput;
    bool factoryDefaults = false;
    CLI::App* omegaReset =
        omega->add_subcommand("reset", "reset the controller to a configuration or a saved file");
    AddPort(*omegaReset, "--port", omegaPort, "the controller's port")->required();
    CLI::Option* configOption =
        omegaReset->add_option("--config", omegaConfiguration, "a built-in configuration")
            ->check(CLI::IsMember(cli::OmegaConfigurations()));
    CLI::Option* fileOption =
        omegaReset->add_option("--file", omegaInput, "a settings file saved earlier");
    configOption->excludes(fileOption);
    omegaReset->add_flag(
        "--factory-defaults", factoryDefaults,
        "the controller is on its factory line settings (7 data bits, odd parity)");

    // threshold get | set | search
    CLI::App* threshold =
        app.add_subcommand("threshold", "the v3.0 shutter controller's light-sensor threshold");
    threshold->require_subcommand(1);
    int thresholdPort = 0;
    std::string thresholdValue;
    CLI::App* thresholdGet = threshold->add_subcommand("get", "read the stored threshold");
    AddPort(*thresholdGet, "--port", thresholdPort, "the shutter controller's port")->required();
    CLI::App* thresholdSet = threshold->add_subcommand("set", "store a threshold");
    thresholdSet
        ->add_option("value", thresholdValue, "the threshold, in hexadecimal: 0x0400 to 0x0FFF")
        ->required()
        ->check(kHex);
    AddPort(*thresholdSet, "--port", thresholdPort, "the shutter controller's port")->required();
    CLI::App* thresholdSearch = threshold->add_subcommand(
        "search",
        "find the threshold at which the shutter closes in the light present now, and "
        "store it");
    AddPort(*thresholdSearch, "--port", thresholdPort, "the shutter controller's port")->required();

    // motor backup | load
    CLI::App* motor = app.add_subcommand("motor", "the SmartMotor's motion program");
    motor->require_subcommand(1);
    int motorPort = 0;
    std::string motorFile;
    bool yes = false;
    CLI::App* motorBackup = motor->add_subcommand("backup", "save the motor's program to FILE");
    motorBackup->add_option("file", motorFile, "where to save it (must not exist)")->required();
    AddPort(*motorBackup, "--port", motorPort, "the motor's port")->required();
    CLI::App* motorLoad = motor->add_subcommand(
        "load", "load FILE into the motor (the old program is backed up beside it first)");
    motorLoad->add_option("file", motorFile, "the program file")->required();
    AddPort(*motorLoad, "--port", motorPort, "the motor's port")->required();
    motorLoad->add_flag("-y,--yes", yes, "do not ask before loading");

    try {
        app.parse(argc, argv);
        if (checkCommand->parsed()) {
            if (check.Instrument == "multi" &&
                (check.MotorPort == 0 || check.ControllerPort == 0)) {
                throw CLI::ValidationError("--motor, --controller",
                                           "a multi-filter check needs --motor and --controller");
            }
            if (check.Instrument == "single" && check.Port == 0) {
                throw CLI::ValidationError("--port", "a single-filter check needs --port");
            }
        }
        if (omegaReset->parsed() && omegaConfiguration.empty() && omegaInput.empty()) {
            throw CLI::ValidationError("--config, --file", "give --config NAME or --file FILE");
        }
        if (identify->parsed() && identifyPort == 0 && !identifyAll) {
            throw CLI::ValidationError("--port", "give --port COMn or --all");
        }
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        terminal.Error(e.what());
        return cli::kExitUsage;
    }

    cli::CReport report;
    std::string problem;
    if (!report.Open(reportPath, junitPath, problem)) {
        terminal.Error(problem);
        return cli::kExitUsage;
    }
    std::vector<std::string> arguments(argv, argv + argc);

    int status = cli::kExitPassed;
    if (ports->parsed()) {
        report.SetCommand(arguments, "ports");
        status = cli::ListPorts(json, terminal);
    } else if (identify->parsed()) {
        report.SetCommand(arguments, "identify");
        status = cli::IdentifyPorts(identifyPort, identifyBaud, terminal, report);
    } else if (checkCommand->parsed()) {
        report.SetCommand(arguments, "check");
        check.MotorGeneration = motorProgram == "legacy" ? 1 : 2;
        check.TempController = controllerKind == "athena" ? 2 : 1;
        check.ShutterGeneration = shutterGeneration == "legacy" ? 1
                                  : shutterGeneration == "2.6"  ? 2
                                                                : 3;
        status = cli::RunCheck(check, terminal, report);
    } else if (omegaSave->parsed()) {
        report.SetCommand(arguments, "omega save");
        status = cli::OmegaSave(omegaPort, omegaFile, terminal, report);
    } else if (omegaReset->parsed()) {
        report.SetCommand(arguments, "omega reset");
        status = cli::OmegaReset(omegaPort, omegaConfiguration, omegaInput, factoryDefaults,
                                 terminal, report);
    } else if (thresholdGet->parsed()) {
        report.SetCommand(arguments, "threshold get");
        status = cli::ThresholdGet(thresholdPort, terminal, report);
    } else if (thresholdSet->parsed()) {
        report.SetCommand(arguments, "threshold set");
        status = cli::ThresholdSet(thresholdPort, *HexThreshold(thresholdValue), terminal, report);
    } else if (thresholdSearch->parsed()) {
        report.SetCommand(arguments, "threshold search");
        status = cli::ThresholdSearch(thresholdPort, terminal, report);
    } else if (motorBackup->parsed()) {
        report.SetCommand(arguments, "motor backup");
        status = cli::MotorBackup(motorPort, motorFile, terminal, report);
    } else if (motorLoad->parsed()) {
        report.SetCommand(arguments, "motor load");
        status = cli::MotorLoad(motorPort, motorFile, yes, terminal, report);
    }
    cli::interrupt::Clear();
    if (!report.Write(status, problem)) {
        terminal.Error(problem);
        return status == cli::kExitPassed ? cli::kExitFailed : status;
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    cli::interrupt::Install();
    cli::CTerminal terminal;
    // What nothing below expected (memory exhausted, a library's own error) ends the command
    // with a sentence and a failure status, never with a stack trace or an abort.
    try {
        return Run(argc, argv, terminal);
    } catch (const std::exception& error) {
        terminal.Error(std::string("stopped by an unexpected error: ") + error.what());
    } catch (...) {
        terminal.Error("stopped by an unexpected error");
    }
    return cli::kExitFailed;
}
