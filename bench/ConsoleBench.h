#pragma once

// What the benchmarks that drive the real console window share: a simulated bench run by
// pravik-sim in a process of its own (so that the devices' CPU and memory are not counted), and
// the window's own controls to connect to it, as a technician would.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QEventLoop>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "bench/TemporaryPortDirectory.h"
#include "console/PortListFill.h"
#include "console/PravikDlg.h"

namespace bench {

#ifndef PRAVIK_SIM_PATH
#define PRAVIK_SIM_PATH "pravik-sim"
#endif

// How long the simulator may take to publish its ports, and the console to connect.
inline constexpr auto kSimStartLimit = std::chrono::seconds(10);
inline constexpr auto kConnectLimit = std::chrono::seconds(30);

inline void RunEventsFor(std::chrono::milliseconds span) {
    QEventLoop loop;
    QTimer::singleShot(span, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

class Simulator {
public:
    Simulator() = default;
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;
    ~Simulator() { Stop(); }

    // Starts program with args and waits until it has published every port of ports in portDir.
    // Its output goes to output (its listing of the ports, and whatever it reports later), or
    // nowhere.
    bool Start(const std::string& program, std::vector<std::string> args,
               const std::string& portDir, const std::vector<int>& ports,
               const std::string& output = "/dev/null") {
        args.insert(args.begin(), {program, "--port-dir", portDir});
        std::vector<char*> argv;
        argv.reserve(args.size() + 1);
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int rc = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) {
            std::fprintf(stderr, "cannot start %s: %s\n", program.c_str(), std::strerror(rc));
            pid_ = -1;
            return false;
        }
        const auto deadline = Clock::now() + kSimStartLimit;
        for (;;) {
            bool all = true;
            for (int port : ports) {
                struct stat st;
                const std::string entry = portDir + "/COM" + std::to_string(port);
                all = all && ::lstat(entry.c_str(), &st) == 0;
            }
            if (all) {
                return true;
            }
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                std::fprintf(stderr, "%s ended before publishing its ports\n", program.c_str());
                pid_ = -1;
                return false;
            }
            if (Clock::now() > deadline) {
                std::fprintf(stderr, "%s did not publish its ports in time\n", program.c_str());
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    bool Signal(int signal) { return pid_ > 0 && ::kill(pid_, signal) == 0; }

    void Stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int status = 0;
            while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
            pid_ = -1;
        }
    }

private:
    pid_t pid_ = -1;
};

inline bool Choose(CPravikDlg& window, const char* list, int port) {
    auto* combo = window.findChild<QComboBox*>(list);
    // By number: an entry names the port's device and adapter after "COMn".
    const int index = combo ? console::IndexOfPort(combo, port) : -1;
    if (index < 0) {
        std::fprintf(stderr, "COM%d is not in %s\n", port, list);
        return false;
    }
    combo->setCurrentIndex(index);
    emit combo->activated(index);
    return true;
}

inline bool Click(CPravikDlg& window, const char* name) {
    auto* button = window.findChild<QAbstractButton*>(name);
    if (button == nullptr) {
        std::fprintf(stderr, "the window has no %s\n", name);
        return false;
    }
    button->click();
    return true;
}

// Chooses the multi-filter instrument and its two ports and presses Connect; true once the
// window says it is connected. On failure, the message boxes shown meanwhile are printed.
inline bool ConnectMultiFilter(CPravikDlg& window, int motorPort, int controllerPort,
                               const std::vector<QString>& messages) {
    const auto start = Clock::now();
    const bool chosen =
        Click(window, "multiFilterRadio") && Choose(window, "instrumentPortList", motorPort) &&
        Choose(window, "controllerPortList", controllerPort) && Click(window, "connectButton");
    while (chosen && !window.IsConnected() && Clock::now() - start < kConnectLimit) {
        RunEventsFor(std::chrono::milliseconds(50));
    }
    if (!chosen || !window.IsConnected()) {
        std::fprintf(stderr, "the console did not connect to the simulated bench\n");
        for (const QString& text : messages) {
            std::fprintf(stderr, "message box: %s\n", qPrintable(text));
        }
        return false;
    }
    return true;
}

// The options every console benchmark takes, --seconds N and --sim PATH; false, after the usage
// line, on anything else.
inline bool ReadConsoleBenchOptions(int argc, char** argv, int& seconds, std::string& simulator) {
    const int defaultSeconds = seconds;
    bool optionsOk = true;
    for (int i = 1; i < argc && optionsOk; ++i) {
        if (IntOption(argc, argv, i, "--seconds", 1, 3600, seconds, optionsOk)) {
            continue;
        }
        if (std::string_view(argv[i]) == "--sim" && i + 1 < argc) {
            simulator = argv[++i];
        } else {
            optionsOk = false;
        }
    }
    if (!optionsOk) {
        std::fprintf(stderr, "usage: %s [--seconds N] [--sim PATH-TO-pravik-sim]   (default %d)\n",
                     argv[0], defaultSeconds);
    }
    return optionsOk;
}

// Offscreen unless told otherwise, and a port folder of the benchmark's own for the simulator.
inline bool PrepareConsoleBench(const TemporaryPortDirectory& directory) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    if (!directory.Valid()) {
        std::fprintf(stderr, "cannot create a port directory: %s\n", std::strerror(errno));
        return false;
    }
    ::setenv("PRAVIK_PORT_DIR", directory.Path().c_str(), 1);
    return true;
}

}  // namespace bench
