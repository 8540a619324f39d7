// pravik-sim: a bench of simulated devices on pseudo-terminals, each published as COMn in the
// port directory, for trying the console (or a script) without the hardware. Runs until
// interrupted.
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/PortNames.h"
#include "sim/Athena16Sim.h"
#include "sim/OmegaControllerSim.h"
#include "sim/ShutterControllerSim.h"
#include "sim/SmartMotorSim.h"

namespace {

void Usage(const char* program) {
    std::fprintf(stderr,
                 "usage: %s [--port-dir DIR] [--pace] [--light COUNTS] DEVICE=COMn ...\n"
                 "\n"
                 "devices:\n"
                 "  shutter-legacy   legacy shutter controller (pre-2009)\n"
                 "  shutter26        shutter controller v2.6\n"
                 "  shutter30        shutter controller v3.0, with light sensor\n"
                 "  motor            SmartMotor with a current motion program\n"
                 "  motor-legacy     SmartMotor with a legacy motion program\n"
                 "  omega            Omega CNi32 temperature controller\n"
                 "  athena           Athena 16 temperature controller\n"
                 "\n"
                 "a multi-filter bench: motor=COM3 omega=COM4\n"
                 "\n"
                 "--port-dir DIR     where COMn entries go (default: %s)\n"
                 "--pace             answer at the baud rate the program sets on the line\n"
                 "--light COUNTS     light level of v3.0 boxes, in threshold counts (default "
                 "0x3000)\n"
                 "--filters N        filter slots of simulated motors, 6 or 8 (default 6)\n"
                 "--break-download N the first program download to a simulated motor stops\n"
                 "                   being acknowledged after N bytes\n"
                 "--flood COMn       on SIGUSR1 the device on COMn starts sending carriage\n"
                 "                   returns as fast as the terminal takes them; SIGUSR2 stops\n"
                 "                   it and prints how many it sent\n",
                 program, platform::PortDirectory().c_str());
}

bool ParseNumber(std::string_view text, long min, long max, long& value) {
    const std::string copy(text);
    char* end = nullptr;
    errno = 0;
    value = std::strtol(copy.c_str(), &end, 0);
    return errno == 0 && end != copy.c_str() && *end == '\0' && value >= min && value <= max;
}

}  // namespace

int main(int argc, char** argv) {
    std::string portDir = platform::PortDirectory();
    bool pace = false;
    long light = 0x3000;
    long filters = 6;
    long breakDownload = -1;
    long floodPort = 0;
    struct Request {
        std::string kind;
        int port;
    };
    static constexpr std::string_view kKinds[] = {
        "shutter-legacy", "shutter26", "shutter30", "motor", "motor-legacy", "omega", "athena"};
    std::vector<Request> requests;

    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            Usage(argv[0]);
            return 0;
        }
        if (arg == "--port-dir" && i + 1 < argc) {
            portDir = argv[++i];
        } else if (arg == "--pace") {
            pace = true;
        } else if (arg == "--light" && i + 1 < argc) {
            if (!ParseNumber(argv[++i], 1, 0xFFFF, light)) {
                std::fprintf(stderr, "%s: --light takes a number from 1 to 65535\n", argv[0]);
                return 2;
            }
        } else if (arg == "--filters" && i + 1 < argc) {
            if (!ParseNumber(argv[++i], 6, 8, filters) || filters == 7) {
                std::fprintf(stderr, "%s: --filters takes 6 or 8\n", argv[0]);
                return 2;
            }
        } else if (arg == "--break-download" && i + 1 < argc) {
            if (!ParseNumber(argv[++i], 0, 32 * 1024, breakDownload)) {
                std::fprintf(stderr, "%s: --break-download takes a number from 0 to 32768\n",
                             argv[0]);
                return 2;
            }
        } else if (arg == "--flood" && i + 1 < argc) {
            const std::string_view port = argv[++i];
            if (!port.starts_with("COM") || !ParseNumber(port.substr(3), 1, 255, floodPort)) {
                std::fprintf(stderr, "%s: --flood takes a port, COM1 to COM255\n", argv[0]);
                return 2;
            }
        } else if (const size_t eq = arg.find("=COM"); eq != std::string_view::npos) {
            const std::string_view kind = arg.substr(0, eq);
            long port = 0;
            if (!ParseNumber(arg.substr(eq + 4), 1, 255, port)) {
                std::fprintf(stderr, "%s: %s: the port must be COM1 to COM255\n", argv[0], argv[i]);
                return 2;
            }
            if (std::find(std::begin(kKinds), std::end(kKinds), kind) == std::end(kKinds)) {
                std::fprintf(stderr, "%s: unknown device \"%.*s\"\n", argv[0],
                             static_cast<int>(kind.size()), kind.data());
                return 2;
            }
            requests.push_back({std::string(kind), static_cast<int>(port)});
        } else {
            Usage(argv[0]);
            return 2;
        }
    }
    if (requests.empty()) {
        Usage(argv[0]);
        return 2;
    }

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
        } else if (r.kind == "omega") {
            device = std::make_unique<sim::COmegaControllerSim>(r.port, portDir);
            description = "Omega CNi32";
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
