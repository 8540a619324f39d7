// pravik-sim: a bench of simulated devices on pseudo-terminals, each published as COMn in the
// port directory, for trying the console (or a script) without the hardware. Runs until
// interrupted.
#include <pthread.h>
#include <signal.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Failure.h"
#include "platform/PortNames.h"
#include "platform/Version.h"
#include "sim/Athena16Sim.h"
#include "sim/OmegaControllerSim.h"
#include "sim/ReplaySim.h"
#include "sim/ShutterControllerSim.h"
#include "sim/SmartMotorSim.h"

namespace {

// "COM7" as 7, or 0 when the text names no port from COM1 to COM255.
int PortOf(const std::string& text) {
    int port = 0;
    if (text.size() < 4 || text.compare(0, 3, "COM") != 0) {
        return 0;
    }
    const auto [end, error] = std::from_chars(text.data() + 3, text.data() + text.size(), port);
    return error == std::errc() && end == text.data() + text.size() && port >= 1 && port <= 255
               ? port
               : 0;
}

// The traffic of the trace file at path; nothing, with a sentence in error, when it cannot be
// read or is not a trace.
std::optional<std::vector<trace::Traffic>> LoadTrace(const std::string& path, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    std::string text;
    try {
        text.assign(std::istreambuf_iterator<char>(file), {});
    } catch (const std::ios_base::failure&) {
        file.setstate(std::ios::badbit);  // a folder: the read itself fails
    }
    if (!file.is_open() || file.bad()) {
        error = path + ": " + std::strerror(errno != 0 ? errno : EIO);
        return std::nullopt;
    }
    std::optional<std::vector<trace::Traffic>> traffic = trace::ReadTrace(text, error);
    if (!traffic) {
        error = path + ": " + error + " (not a session trace, or a damaged one)";
    }
    return traffic;
}

// The usage error pravikctl and the other tools exit with for a wrong argument.
constexpr int kExitUsage = 64;

}  // namespace

// What it cannot handle ends it through std::terminate, which names the exception.
int main(int argc, char** argv) {  // NOLINT(bugprone-exception-escape)
    std::string portDir = platform::PortDirectory();
    bool pace = false;
    bool fast = false;
    long light = 0x3000;
    double settle = 0.0;
    long filters = 6;
    long breakDownload = -1;
    std::string flood;
    std::vector<std::string> deviceArgs;
    struct Request {
        std::string kind;
        int port;
        std::string trace;  // replay: the session trace it serves
    };
    static const std::vector<std::string> kKinds = {"shutter-legacy", "shutter26",    "shutter30",
                                                    "motor",          "motor-legacy", "omega",
                                                    "athena",         "replay"};
    std::vector<Request> requests;

    CLI::App app(
        "A bench of simulated devices on pseudo-terminals, each published as COMn in the "
        "port folder. Runs until interrupted.",
        "pravik-sim");
    app.footer(
        "devices:\n"
        "  shutter-legacy   legacy shutter controller (pre-2009)\n"
        "  shutter26        shutter controller v2.6\n"
        "  shutter30        shutter controller v3.0, with light sensor\n"
        "  motor            SmartMotor with a current motion program\n"
        "  motor-legacy     SmartMotor with a legacy motion program\n"
        "  omega            Omega CNi32 temperature controller\n"
        "  athena           Athena 16 temperature controller\n"
        "  replay           the device of a session trace: replay=COMn:TRACE answers each\n"
        "                   command as the recorded device did (docs/traces.md)\n"
        "\n"
        "a multi-filter bench: motor=COM3 omega=COM4");
    const auto isPort = CLI::Validator(
        [](std::string& text) { return PortOf(text) > 0 ? "" : "the port must be COM1 to COM255"; },
        "COMn");
    app.add_option("devices", deviceArgs, "DEVICE=COMn, one or more")
        ->required()
        ->check(CLI::Validator(
            [&](std::string& text) -> std::string {
                const size_t eq = text.find('=');
                const bool replay = text.starts_with("replay=");
                const size_t colon = replay ? text.find(':', eq) : std::string::npos;
                if (replay && (colon == std::string::npos || colon + 1 == text.size() ||
                               PortOf(text.substr(eq + 1, colon - eq - 1)) == 0)) {
                    return text + ": give replay=COMn:TRACE, with COM1 to COM255";
                }
                if (!replay && (eq == std::string::npos || PortOf(text.substr(eq + 1)) == 0)) {
                    return text + ": give DEVICE=COMn, with COM1 to COM255";
                }
                if (std::find(kKinds.begin(), kKinds.end(), text.substr(0, eq)) == kKinds.end()) {
                    return "unknown device \"" + text.substr(0, eq) + "\"";
                }
                return "";
            },
            "DEVICE=COMn"));
    app.set_version_flag("--version", "pravik-sim " + ProgramVersion());
    app.add_option("--port-dir", portDir, "where COMn entries go")->capture_default_str();
    app.add_flag("--pace", pace, "answer at the baud rate the program sets on the line");
    app.add_flag("--fast", fast, "replayed devices answer at once, not after the recorded delay");
    app.add_option("--settle", settle,
                   "seconds: an Omega's process temperature starts at the room's and approaches "
                   "its set point with this time constant (0: at the set point at once)")
        ->check(CLI::Range(0.0, 86400.0))
        ->capture_default_str();
    app.add_option("--light", light, "light level of v3.0 boxes, in threshold counts")
        ->check(CLI::Range(1L, 0xFFFFL))
        ->capture_default_str();
    app.add_option("--filters", filters, "filter slots of simulated motors")
        ->check(CLI::IsMember({6L, 8L}))
        ->capture_default_str();
    app.add_option("--break-download", breakDownload,
                   "the first program download to a simulated motor stops being acknowledged "
                   "after N bytes")
        ->check(CLI::Range(0L, 32L * 1024));
    app.add_option("--flood", flood,
                   "on SIGUSR1 the device on COMn starts sending carriage returns as fast as the "
                   "terminal takes them; SIGUSR2 stops it and prints how many it sent")
        ->check(isPort);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }
    for (const std::string& device : deviceArgs) {
        const size_t eq = device.find('=');
        const size_t colon = device.find(':', eq);
        requests.push_back({device.substr(0, eq), PortOf(device.substr(eq + 1, colon - eq - 1)),
                            colon == std::string::npos ? "" : device.substr(colon + 1)});
    }
    // Every trace is read before any device starts: a damaged one is said at once, and alone.
    std::vector<std::vector<trace::Traffic>> traces;
    for (const Request& r : requests) {
        if (r.kind == "replay") {
            std::string error;
            std::optional<std::vector<trace::Traffic>> traffic = LoadTrace(r.trace, error);
            if (!traffic) {
                std::fprintf(stderr, "%s: %s\n", argv[0], error.c_str());
                return kExitUsage;
            }
            traces.push_back(std::move(*traffic));
        }
    }
    auto nextTrace = traces.begin();
    const long floodPort = flood.empty() ? 0 : PortOf(flood);

    // Checked before any device starts, so that the refusal is said once, plainly.
    if (std::string unsafe; !platform::MakePortDirectory(portDir, unsafe)) {
        std::fprintf(stderr, "%s: %s\n", argv[0], unsafe.c_str());
        return 1;
    }

    // Signals are taken by sigwait below, not by whichever device thread they land on.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    sigaddset(&signals, SIGUSR1);
    sigaddset(&signals, SIGUSR2);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    std::vector<std::unique_ptr<sim::CSimulatedDevice>> devices;
    for (const Request& r : requests) {
        using Shutter = sim::CShutterControllerSim;
        using Motor = sim::CSmartMotorSim;
        std::unique_ptr<sim::CSimulatedDevice> device;
        std::string description;
        if (r.kind.starts_with("shutter")) {
            const auto generation = r.kind == "shutter-legacy" ? Shutter::Generation::Legacy
                                    : r.kind == "shutter26"    ? Shutter::Generation::V26
                                                               : Shutter::Generation::V30;
            auto shutter = std::make_unique<Shutter>(r.port, portDir, generation);
            shutter->SetLightLevel(static_cast<uint16_t>(light));
            device = std::move(shutter);
            description = generation == Shutter::Generation::Legacy ? "shutter controller, legacy"
                          : generation == Shutter::Generation::V26  ? "shutter controller v2.6"
                                                                    : "shutter controller v3.0";
        } else if (r.kind.starts_with("motor")) {
            const auto program =
                r.kind == "motor-legacy" ? Motor::Program::Legacy : Motor::Program::Current;
            auto motor =
                std::make_unique<Motor>(r.port, portDir, program, static_cast<int>(filters));
            if (breakDownload >= 0) {
                motor->BreakDownloadAfter(static_cast<size_t>(breakDownload));
            }
            device = std::move(motor);
            description = "SmartMotor, " + std::string(r.kind == "motor" ? "current" : "legacy") +
                          " program, " + std::to_string(filters) + " filters";
        } else if (r.kind == "replay") {
            auto replay = std::make_unique<sim::CReplaySim>(r.port, portDir, *nextTrace++, fast);
            description = "replay of " + r.trace + ", " + std::to_string(replay->CommandsKnown()) +
                          " commands";
            // Said on the device's thread, once a command: stderr takes whole lines.
            replay->SetUnknownHandler([port = r.port](const std::string& command) {
                std::fprintf(stderr, "pravik-sim: COM%d: %s was never recorded: no answer\n", port,
                             platform::PrintableBytes(command).c_str());
            });
            device = std::move(replay);
        } else if (r.kind == "omega") {
            auto omega = std::make_unique<sim::COmegaControllerSim>(r.port, portDir);
            omega->SetTimeConstant(settle);
            description = "Omega CNi32";
            device = std::move(omega);
        } else {
            device = std::make_unique<sim::CAthena16Sim>(r.port, portDir);
            description = "Athena 16";
        }
        if (pace) {
            device->SetPacing(sim::CSimulatedDevice::Pacing::PortBaud);
        }
        if (!device->Start()) {
            std::fprintf(stderr, "%s: cannot publish COM%d in %s: %s\n", argv[0], r.port,
                         portDir.c_str(), std::strerror(errno));
            return 1;
        }
        std::printf("COM%-3d %-40s %s -> %s\n", r.port, description.c_str(),
                    device->PortPath().c_str(), device->SlavePath().c_str());
        devices.push_back(std::move(device));
    }
    std::printf("Running; press Ctrl+C to stop.\n");
    std::fflush(stdout);

    sim::CSimulatedDevice* flooder = nullptr;
    for (const auto& device : devices) {
        if (device->PortNumber() == floodPort) {
            flooder = device.get();
        }
    }
    if (floodPort != 0 && flooder == nullptr) {
        std::fprintf(stderr, "%s: --flood COM%ld: no device there\n", argv[0], floodPort);
        return 2;
    }
    for (;;) {
        int received = 0;
        sigwait(&signals, &received);
        if (received == SIGUSR1 && flooder != nullptr) {
            flooder->Flood("\r");
        } else if (received == SIGUSR2 && flooder != nullptr) {
            flooder->StopFlood();
            std::printf("COM%ld: flooded %llu bytes\n", floodPort,
                        static_cast<unsigned long long>(flooder->FloodedBytes()));
            std::fflush(stdout);
        } else if (received != SIGUSR1 && received != SIGUSR2) {
            break;
        }
    }
    devices.clear();  // unpublishes every COMn
    return 0;
}
