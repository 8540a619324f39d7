// What the console costs in CPU while it sits connected and nobody presses anything: an
// instrument left on the bench all day must not keep a core busy, heat a laptop or drain its
// battery.
//
// The simulated bench (a SmartMotor and an Omega controller) runs in a process of its own,
// pravik-sim, so that its CPU is not counted. In this process the real main window is built
// (offscreen), the multi-filter instrument and its two ports are chosen through the window's
// own controls and Connect is pressed, as a technician would. Once connected and settled, the
// CPU time of this whole process (getrusage: the window's thread, the ports' monitoring threads,
// Qt's own threads) is measured over a window of wall time while the Qt event loop runs.
//
// The baseline is the same window, shown and not connected, over the same length of time,
// measured before Connect. The threads that used CPU while connected are listed, so that a
// figure above the bound points at its cause.

#include <dirent.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "bench/ConsoleBench.h"
#include "bench/TemporaryPortDirectory.h"
#include "console/MessageBox.h"
#include "console/PravikDlg.h"

namespace {

using bench::Clock;
using bench::RunEventsFor;

constexpr int kMotorPort = 3;
constexpr int kControllerPort = 4;
constexpr int kDefaultSeconds = 10;
// After Connect: the echo records of the identification drain and the window settles.
constexpr auto kSettle = std::chrono::milliseconds(500);

double CpuMsSelf() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& tv) {
        return static_cast<double>(tv.tv_sec) * 1e3 + static_cast<double>(tv.tv_usec) / 1e3;
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// CPU time of each thread of this process, in milliseconds, by thread id, with its name.
struct ThreadTime {
    std::string name;
    double ms = 0;
};

std::map<int, ThreadTime> ThreadTimes() {
    std::map<int, ThreadTime> times;
    DIR* tasks = ::opendir("/proc/self/task");
    if (tasks == nullptr) {
        return times;
    }
    while (const dirent* entry = ::readdir(tasks)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        const std::string dir = std::string("/proc/self/task/") + entry->d_name;
        ThreadTime t;
        std::ifstream comm(dir + "/comm");
        std::getline(comm, t.name);
        // The first field of schedstat is the time spent running, in nanoseconds.
        std::ifstream schedstat(dir + "/schedstat");
        double ns = 0;
        if (schedstat >> ns) {
            t.ms = ns / 1e6;
            times[std::atoi(entry->d_name)] = t;
        }
    }
    ::closedir(tasks);
    return times;
}

// Runs the Qt event loop for the given wall time; the process's CPU time meanwhile.
double IdleCpuMs(std::chrono::milliseconds window) {
    QEventLoop loop;
    QTimer::singleShot(window, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    const double before = CpuMsSelf();
    loop.exec();
    return CpuMsSelf() - before;
}

}  // namespace

int main(int argc, char** argv) {
    int seconds = kDefaultSeconds;
    std::string simulator = PRAVIK_SIM_PATH;
    if (!bench::ReadConsoleBenchOptions(argc, argv, seconds, simulator)) {
        return 2;
    }
    TemporaryPortDirectory directory;
    if (!bench::PrepareConsoleBench(directory)) {
        return 2;
    }
    bench::Simulator sim;
    if (!sim.Start(simulator,
                   {"motor=COM" + std::to_string(kMotorPort),
                    "omega=COM" + std::to_string(kControllerPort)},
                   directory.Path(), {kMotorPort, kControllerPort})) {
        return 2;
    }

    QApplication app(argc, argv);
    std::vector<QString> messages;
    console::SetMessageBoxHandler([&messages](const console::MessageRequest& request) {
        messages.push_back(request.text);
        return QMessageBox::Ok;
    });

    const std::chrono::milliseconds window(seconds * 1000);
    int status = 0;
    {
        CPravikDlg dialog;
        dialog.show();
        RunEventsFor(kSettle);
        const double baselineMs = IdleCpuMs(window);

        const auto connectStart = Clock::now();
        if (!bench::ConnectMultiFilter(dialog, kMotorPort, kControllerPort, messages)) {
            return 1;
        }
        const double connectMs =
            std::chrono::duration<double, std::milli>(Clock::now() - connectStart).count();
        RunEventsFor(kSettle);

        const auto threadsBefore = ThreadTimes();
        const auto wallStart = Clock::now();
        const double connectedMs = IdleCpuMs(window);
        const double wallMs =
            std::chrono::duration<double, std::milli>(Clock::now() - wallStart).count();
        const auto threadsAfter = ThreadTimes();

        std::printf(
            "bench_idle: the console connected to a simulated multi-filter bench "
            "(motor COM%d,\nOmega COM%d, in pravik-sim), nothing pressed; CPU of this "
            "process over %.1f s\n\n",
            kMotorPort, kControllerPort, wallMs / 1e3);
        std::printf("connect took %.0f ms\n", connectMs);
        std::printf("%-40s %10s\n", "state", "cpu_ms");
        std::printf("%-40s %10.2f\n", "window shown, not connected (baseline)", baselineMs);
        std::printf("%-40s %10.2f\n", "window connected", connectedMs);
        // The ports' monitoring threads among them: they should not have run at all.
        std::printf(
            "\nthreads of this process while connected (CPU as the scheduler counts it):\n");
        for (const auto& [tid, after] : threadsAfter) {
            const auto before = threadsBefore.find(tid);
            const double ms = after.ms - (before != threadsBefore.end() ? before->second.ms : 0);
            std::printf("  %-7d %-20s %10.3f ms\n", tid, after.name.c_str(), ms);
        }
        std::printf("\nidle_cpu_ms=%.2f\n", connectedMs);
        std::printf("idle_cpu_baseline_ms=%.2f\n", baselineMs);
        std::printf("idle_cpu_seconds=%d\n", seconds);
        std::printf("idle_cpu_vs_baseline_ratio=%.2f\n", bench::Ratio(connectedMs, baselineMs));

        bench::Click(dialog, "disconnectButton");
        RunEventsFor(std::chrono::milliseconds(100));
        status = messages.empty() ? 0 : 1;
        for (const QString& text : messages) {
            std::fprintf(stderr, "unexpected message box: %s\n", qPrintable(text));
        }
    }
    console::SetMessageBoxHandler({});
    sim.Stop();
    std::printf("failures=%d\n", status);
    return status;
}
