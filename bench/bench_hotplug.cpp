// How soon an open port list shows a USB adapter that was just plugged in, and stops showing one
// that was pulled out: the time from the plug (or the pull) until the threshold tool's port list
// has made itself again. The adapter is a umockdev test bed's FTDI FT232R, whose node leads to
// a simulated shutter controller; udev's events come the way the real ones do, over a socket the
// window's event loop watches.
//
// The baseline is udev's own part: the time from the same plug or pull until a udev monitor of
// the benchmark's own is readable, the earliest the program could know. Plugs and pulls
// alternate; the median of each is compared.
#include <poll.h>
#include <stdlib.h>

#include <QApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "bench/TemporaryPortDirectory.h"
#include "console/SerialComboBox.h"
#include "platform/TtyDevices.h"
#include "sim/ShutterControllerSim.h"
#include "sim/UsbTestBed.h"

namespace {

using bench::Clock;

constexpr int kDefaultRounds = 20;
constexpr int kWaitMs = 5000;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool Lists(const CSerialComboBox& list, const QString& device) {
    for (int i = 0; i < list.count(); ++i) {
        if (list.itemText(i).contains(device)) {
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    sim::RestartWithTestBedPreload(argv);
    int rounds = kDefaultRounds;
    bool optionsOk = true;
    for (int i = 1; i < argc && optionsOk; ++i) {
        optionsOk = bench::IntOption(argc, argv, i, "--rounds", 1, 1000, rounds, optionsOk);
    }
    if (!optionsOk) {
        std::fprintf(stderr, "usage: %s [--rounds N]   (default %d)\n", argv[0], kDefaultRounds);
        return 2;
    }
    TemporaryPortDirectory ports;
    TemporaryPortDirectory config;
    ::setenv("PRAVIK_PORT_DIR", ports.Path().c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
    QApplication app(argc, argv);
    sim::CUsbTestBed bed;
    if (!bed.Valid()) {
        std::fprintf(stderr, "bench_hotplug: umockdev's test bed did not come up\n");
        return 2;
    }
    sim::CShutterControllerSim device(201, ports.Path() + "/sim",
                                      sim::CShutterControllerSim::Generation::V30);
    if (!device.Start()) {
        std::fprintf(stderr, "bench_hotplug: cannot start the simulated device\n");
        return 2;
    }
    platform::TtyMonitor monitor;  // udev's part, for the baseline
    CSerialComboBox list;

    std::vector<double> listMs;
    std::vector<double> udevMs;
    int failures = 0;
    std::string plugged;
    for (int r = 0; r < 2 * rounds; ++r) {
        const bool plug = r % 2 == 0;
        const auto start = Clock::now();
        if (plug) {
            plugged = bed.Plug({}, device.SlavePath());
        } else {
            bed.Unplug(plugged);
        }
        pollfd p{monitor.Fd(), POLLIN, 0};
        if (::poll(&p, 1, kWaitMs) == 1) {
            udevMs.push_back(MsSince(start));
        }
        monitor.TakeEvents();
        QElapsedTimer waited;
        waited.start();
        while (Lists(list, "ttyUSB0") != plug && waited.elapsed() < kWaitMs) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        }
        if (Lists(list, "ttyUSB0") == plug) {
            listMs.push_back(MsSince(start));
        } else {
            ++failures;
        }
    }

    std::printf("bench_hotplug: %d plugs and %d pulls of a simulated FTDI adapter\n\n", rounds,
                rounds);
    std::printf("%-44s %10s %10s\n", "what", "median_ms", "max_ms");
    std::printf("%-44s %10.3f %10.3f\n", "plug or pull until the port list shows it",
                bench::Median(listMs), bench::Percentile(listMs, 100));
    std::printf("%-44s %10.3f %10.3f\n\n", "baseline: until udev's event is readable",
                bench::Median(udevMs), bench::Percentile(udevMs, 100));
    std::printf("hotplug_to_list_ms=%.3f\n", bench::Median(listMs));
    std::printf("hotplug_udev_ms=%.3f\n", bench::Median(udevMs));
    std::printf("hotplug_vs_udev_ratio=%.2f\n",
                bench::Ratio(bench::Median(listMs), bench::Median(udevMs)));
    std::printf("failures=%d\n", failures);
    return failures == 0 ? 0 : 1;
}
