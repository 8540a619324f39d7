// pravik-sim: a bench of simulated devices on pseudo-terminals, each published as COMn in the
// port directory, for trying the console (or a script) without the hardware. Runs until
// interrupted.
#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/PortNames.h"
#include "sim/ShutterControllerSim.h"

namespace {

void Usage(const char* program) {
    std::fprintf(stderr,
                 "usage: %s [--port-dir DIR] [--pace] [--light COUNTS] DEVICE=COMn ...\n"
                 "\n"
                 "devices:\n"
                 "  shutter-legacy   legacy shutter controller (pre-2009)\n"
                 "  shutter26        shutter controller v2.6\n"
                 "  shutter30        shutter controller v3.0, with light sensor\n"
                 "\n"
                 "--port-dir DIR     where COMn entries go (default: %s)\n"
                 "--pace             answer at the baud rate the program sets on the line\n"
                 "--light COUNTS     light level of v3.0 boxes, in threshold counts (default "
                 "0x3000)\n",
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
    struct Request {
        sim::CShutterControllerSim::Generation generation;
        int port;
    };
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
        } else if (const size_t eq = arg.find("=COM"); eq != std::string_view::npos) {
            const std::string_view kind = arg.substr(0, eq);
            long port = 0;
            if (!ParseNumber(arg.substr(eq + 4), 1, 255, port)) {
                std::fprintf(stderr, "%s: %s: the port must be COM1 to COM255\n", argv[0],
                             argv[i]);
                return 2;
            }
            using Generation = sim::CShutterControllerSim::Generation;
            if (kind == "shutter-legacy") {
                requests.push_back({Generation::Legacy, static_cast<int>(port)});
            } else if (kind == "shutter26") {
                requests.push_back({Generation::V26, static_cast<int>(port)});
            } else if (kind == "shutter30") {
                requests.push_back({Generation::V30, static_cast<int>(port)});
            } else {
                std::fprintf(stderr, "%s: unknown device \"%.*s\"\n", argv[0],
                             static_cast<int>(kind.size()), kind.data());
                return 2;
            }
        } else {
            Usage(argv[0]);
            return 2;
        }
    }
    if (requests.empty()) {
        Usage(argv[0]);
        return 2;
    }

    // Signals are taken by sigwait below, not by whichever device thread they land on.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    std::vector<std::unique_ptr<sim::CShutterControllerSim>> devices;
    for (const Request& r : requests) {
        auto device = std::make_unique<sim::CShutterControllerSim>(r.port, portDir, r.generation);
        device->SetLightLevel(static_cast<uint16_t>(light));
        if (pace) {
            device->SetPacing(sim::CSimulatedDevice::Pacing::PortBaud);
        }
        if (!device->Start()) {
            std::fprintf(stderr, "%s: cannot publish COM%d in %s: %s\n", argv[0], r.port,
                         portDir.c_str(), std::strerror(errno));
            return 1;
        }
        std::printf("COM%d  shutter controller %s  %s -> %s\n", r.port,
                    r.generation == sim::CShutterControllerSim::Generation::Legacy ? "legacy"
                    : r.generation == sim::CShutterControllerSim::Generation::V26 ? "v2.6"
                                                                                  : "v3.0",
                    device->PortPath().c_str(), device->SlavePath().c_str());
        devices.push_back(std::move(device));
    }
    std::printf("Running; press Ctrl+C to stop.\n");
    std::fflush(stdout);

    int received = 0;
    sigwait(&signals, &received);
    devices.clear();  // unpublishes every COMn
    return 0;
}
