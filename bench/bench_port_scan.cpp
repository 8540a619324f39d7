// How long a port list takes to make: SurveyPorts(1, 256), the full enumeration every window's
// port list is filled from. It asks udev for the machine's serial devices, reads the port map
// and the port folder, numbers every port from COM1 to COM256 and looks at each one there is
// (free, in use, forbidden), changing nothing about it. The technician waits for it (the window
// shows the wait cursor, and a list is made again whenever a device comes or goes), so it must
// stay well under a blink.
//
// The machine's own ports are found as udev lists them, together with a simulated bench
// published in a port directory of the benchmark's own: a motor, an Omega and an Athena
// controller and a shutter controller, on COM3 to COM6.
//
// The baseline is what the system cannot do without: udev's listing of the serial devices, and
// one plain open() of each device path the survey found, closed again at once when it opened.
// The surveys alternate with the baselines, and the median of each is compared.
// EnumerateSerialPorts (1 to 255, which also lists ports someone else holds) is timed beside
// them.

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "bench/TemporaryPortDirectory.h"
#include "platform/TtyDevices.h"
#include "serial/SerialPortList.h"
#include "sim/Athena16Sim.h"
#include "sim/OmegaControllerSim.h"
#include "sim/ShutterControllerSim.h"
#include "sim/SmartMotorSim.h"

namespace {

using bench::Clock;

constexpr int kFirstPort = 1;
constexpr int kLastPort = 256;  // what the console scans
constexpr int kLastEnumerated = 255;
constexpr int kDefaultRounds = 20;
constexpr int kBenchPorts[] = {3, 4, 5, 6};

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// One open() of each path; the count of those that opened.
int OpenEach(const std::vector<std::string>& paths) {
    int opened = 0;
    for (const std::string& path : paths) {
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            ++opened;
            ::close(fd);
        }
    }
    return opened;
}

std::string PortList(const std::vector<int>& ports) {
    std::string text;
    for (int port : ports) {
        text += (text.empty() ? "COM" : " COM") + std::to_string(port);
    }
    return text.empty() ? "(none)" : text;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = kDefaultRounds;
    bool optionsOk = true;
    for (int i = 1; i < argc && optionsOk; ++i) {
        if (!bench::IntOption(argc, argv, i, "--rounds", 1, 10000, rounds, optionsOk)) {
            optionsOk = false;
        }
    }
    if (!optionsOk) {
        std::fprintf(stderr, "usage: %s [--rounds N]   (default %d)\n", argv[0], kDefaultRounds);
        return 2;
    }

    TemporaryPortDirectory directory;
    if (!directory.Valid()) {
        std::fprintf(stderr, "cannot create a port directory: %s\n", std::strerror(errno));
        return 2;
    }
    ::setenv("PRAVIK_PORT_DIR", directory.Path().c_str(), 1);
    std::vector<std::unique_ptr<sim::CSimulatedDevice>> bench;
    bench.push_back(std::make_unique<sim::CSmartMotorSim>(kBenchPorts[0], directory.Path()));
    bench.push_back(std::make_unique<sim::COmegaControllerSim>(kBenchPorts[1], directory.Path()));
    bench.push_back(std::make_unique<sim::CAthena16Sim>(kBenchPorts[2], directory.Path()));
    bench.push_back(std::make_unique<sim::CShutterControllerSim>(
        kBenchPorts[3], directory.Path(), sim::CShutterControllerSim::Generation::V30));
    for (const auto& device : bench) {
        if (!device->Start()) {
            std::fprintf(stderr, "cannot start a simulated device on COM%d\n",
                         device->PortNumber());
            return 2;
        }
    }

    // The baseline's paths, looked up once: the device of every port the survey finds.
    std::vector<std::string> paths;
    for (const PortListing& port : SurveyPorts(kFirstPort, kLastPort)) {
        paths.push_back(port.entry.device);
    }

    std::vector<double> scanMs;
    std::vector<double> baselineMs;
    std::vector<double> enumerateMs;
    std::vector<int> scanned;
    std::vector<int> enumerated;
    int openedByBaseline = 0;
    // One of each first, untimed: the directory entries and device nodes come into the cache.
    const auto survey = [&scanned] {
        scanned.clear();
        for (const PortListing& port : SurveyPorts(kFirstPort, kLastPort)) {
            scanned.push_back(port.entry.number);
        }
    };
    survey();
    OpenEach(paths);
    for (int r = 0; r < rounds; ++r) {
        const bool baselineFirst = r % 2 == 0;
        for (int turn = 0; turn < 2; ++turn) {
            const auto start = Clock::now();
            if ((turn == 0) == baselineFirst) {
                platform::ListTtyDevices();
                openedByBaseline = OpenEach(paths);
                baselineMs.push_back(MsSince(start));
            } else {
                survey();
                scanMs.push_back(MsSince(start));
            }
        }
        const auto start = Clock::now();
        EnumerateSerialPorts(enumerated);
        enumerateMs.push_back(MsSince(start));
    }

    bool benchListed = true;
    for (int port : kBenchPorts) {
        benchListed =
            benchListed && std::find(scanned.begin(), scanned.end(), port) != scanned.end();
    }

    std::printf(
        "bench_port_scan: ports %d to %d as the console lists them; %zu have a device,\n"
        "%d of them opened by plain open(); simulated bench on COM3 to COM6\n\n",
        kFirstPort, kLastPort, paths.size(), openedByBaseline);
    std::printf("%-44s %10s %10s\n", "what", "median_ms", "max_ms");
    std::printf("%-44s %10.3f %10.3f\n", "SurveyPorts(1, 256)", bench::Median(scanMs),
                bench::Percentile(scanMs, 100));
    std::printf("%-44s %10.3f %10.3f\n", "baseline: udev's listing, open() of each",
                bench::Median(baselineMs), bench::Percentile(baselineMs, 100));
    std::printf("%-44s %10.3f %10.3f\n", "EnumerateSerialPorts (1 to 255)",
                bench::Median(enumerateMs), bench::Percentile(enumerateMs, 100));
    std::printf("\nlisted by the survey: %s\n", PortList(scanned).c_str());
    std::printf("listed by EnumerateSerialPorts: %s\n\n", PortList(enumerated).c_str());

    std::printf("port_scan_ms=%.3f\n", bench::Median(scanMs));
    std::printf("port_scan_baseline_ms=%.3f\n", bench::Median(baselineMs));
    std::printf("port_scan_vs_open_ratio=%.2f\n",
                bench::Ratio(bench::Median(scanMs), bench::Median(baselineMs)));
    std::printf("enumerate_ports_ms=%.3f\n", bench::Median(enumerateMs));
    std::printf("failures=%d\n", benchListed ? 0 : 1);
    if (!benchListed) {
        std::fprintf(stderr, "the survey did not list every simulated port\n");
    }
    return benchListed ? 0 : 1;
}
