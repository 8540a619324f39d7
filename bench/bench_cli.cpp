// What a bench check costs from a shell script against what it costs a technician at the
// window, and what pravikctl costs just to start.
//
// The check: `pravikctl check --instrument multi` against a multi-filter bench (a SmartMotor and
// an Omega controller) that pravik-sim runs in a process of its own, answering at the line's
// 9600 baud (--pace), run as a process and timed from spawn to exit: start-up and exit
// included, since a script pays for them. The same operations, in the same order, are then done
// through the real main window (offscreen) by pressing its own controls, against a fresh bench
// of the same kind, timed from Connect to the end of Disconnect. The two sides alternate round
// by round so that load changes weigh on both; the figures are medians.
//
// The window has no control that reads the temperature set point, so its side writes the
// value the simulated controller starts with and does not read it before or after; the check
// reads it twice. Each step's median is printed for both sides, so that the difference can be
// read off.
//
// The start-up: `pravikctl --version` run as a process many times, spawn to exit, against
// /bin/true run the same way.

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QLineEdit>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "bench/BenchSupport.h"
#include "bench/ConsoleBench.h"
#include "bench/TemporaryPortDirectory.h"
#include "console/MessageBox.h"
#include "console/PravikDlg.h"

#ifndef PRAVIK_CLI_PATH
#define PRAVIK_CLI_PATH "pravikctl"
#endif

namespace {

using bench::Clock;

constexpr int kMotorPort = 3;
constexpr int kControllerPort = 4;
constexpr int kDefaultRounds = 5;
constexpr int kDefaultStarts = 50;
constexpr int kFilters = 6;
// The set point the simulated Omega starts with, which the check reads and writes back.
constexpr const char* kSetpoint = "25.0";
// How long a reset may take before the window is taken to have missed its end.
constexpr auto kResetLimit = std::chrono::seconds(30);

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A program run to its end: its wall time from spawn to exit, its exit status and, when asked
// for, what it wrote to its standard output.
struct Run {
    double wallMs = 0;
    int status = -1;
    std::string output;
};

std::optional<Run> RunProcess(std::vector<std::string> args, bool capture) {
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    int pipeEnds[2] = {-1, -1};
    if (capture && ::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        std::fprintf(stderr, "pipe: %s\n", std::strerror(errno));
        return std::nullopt;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (capture) {
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    }
    Run run;
    pid_t pid = -1;
    const auto start = Clock::now();
    const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (capture) {
        ::close(pipeEnds[1]);
    }
    if (rc != 0) {
        std::fprintf(stderr, "cannot start %s: %s\n", argv[0], std::strerror(rc));
        if (capture) {
            ::close(pipeEnds[0]);
        }
        return std::nullopt;
    }
    // Read as it comes, so that a long report never stalls the program on a full pipe.
    if (capture) {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(pipeEnds[0], buffer, sizeof buffer);
            if (n > 0) {
                run.output.append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                break;
            }
        }
        ::close(pipeEnds[0]);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.wallMs = MsSince(start);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

// Step name -> its durations over the rounds, in milliseconds.
using StepTimes = std::map<std::string, std::vector<double>>;

// The order both sides' steps are listed in. The window reads the identity as part of Connect,
// so the check's connect and identity are one row.
const std::vector<std::string>& StepOrder() {
    static const std::vector<std::string> order = [] {
        std::vector<std::string> names = {"connect+identity", "shutter-open", "shutter-close",
                                          "filter-start"};
        for (int i = 1; i <= kFilters; ++i) {
            names.push_back("filter-" + std::to_string(i));
        }
        for (const char* name :
             {"filter-back", "light-sensor", "temperature", "setpoint", "reset", "disconnect"}) {
            names.emplace_back(name);
        }
        return names;
    }();
    return order;
}

// The step lines of pravikctl check's output ("name  PASS  12.3 ms  ..."): name and duration.
// Their sum, the time the check itself accounts for, goes under "steps".
void ReadCheckSteps(const std::string& output, StepTimes& times) {
    double total = 0;
    double connect = 0;
    size_t begin = 0;
    while (begin < output.size()) {
        size_t end = output.find('\n', begin);
        if (end == std::string::npos) {
            end = output.size();
        }
        const std::string line = output.substr(begin, end - begin);
        begin = end + 1;
        char name[64] = {};
        char result[8] = {};
        double ms = 0;
        if (std::sscanf(line.c_str(), "%63s %7s %lf ms", name, result, &ms) != 3 ||
            std::string_view(result) != "PASS") {
            continue;
        }
        total += ms;
        const std::string_view step = name;
        if (step == "connect" || step == "identity") {
            connect += ms;
        } else {
            times[std::string(step)].push_back(ms);
        }
    }
    times["connect+identity"].push_back(connect);
    times["steps"].push_back(total);
}

bool StartBench(bench::Simulator& sim, const std::string& program, const std::string& dir) {
    // A bench that went before took its links with it; whatever is left must not be mistaken
    // for the new one's.
    for (int port : {kMotorPort, kControllerPort}) {
        ::unlink((dir + "/COM" + std::to_string(port)).c_str());
    }
    return sim.Start(program,
                     {"--pace", "motor=COM" + std::to_string(kMotorPort),
                      "omega=COM" + std::to_string(kControllerPort)},
                     dir, {kMotorPort, kControllerPort});
}

// One run of the check as a process; its wall time, or nothing when it did not pass.
std::optional<double> CliRound(const std::string& cli, StepTimes& steps) {
    const std::optional<Run> run = RunProcess(
        {cli, "check", "--instrument", "multi", "--motor", "COM" + std::to_string(kMotorPort),
         "--controller", "COM" + std::to_string(kControllerPort)},
        true);
    if (!run) {
        return std::nullopt;
    }
    if (run->status != 0) {
        std::fprintf(stderr, "pravikctl check ended with status %d:\n%s\n", run->status,
                     run->output.c_str());
        return std::nullopt;
    }
    ReadCheckSteps(run->output, steps);
    return run->wallMs;
}

// Drives the window through the check's operations; each press runs its operation to the end
// before it returns, and the events it queued (the traffic for the log) are let through after.
class CWindowDriver {
public:
    CWindowDriver(CPravikDlg& window, const std::vector<QString>& messages)
        : window_(window),
          messages_(messages),
          terminal_(window.findChild<QTextEdit*>("terminal")) {}

    bool Press(const char* button) {
        auto* control = window_.findChild<QAbstractButton*>(button);
        if (control != nullptr && !control->isEnabled()) {
            std::fprintf(stderr, "%s is disabled\n", button);
            return false;
        }
        const bool pressed = bench::Click(window_, button);
        QApplication::processEvents();
        return pressed && messages_.empty();
    }

    QString Shows(const char* edit) const {
        auto* field = window_.findChild<QLineEdit*>(edit);
        return field != nullptr ? field->text() : QString();
    }

    bool ChooseFilter(int position) {
        auto* list = window_.findChild<QComboBox*>("desiredFilterList");
        const int index = list != nullptr ? list->findText(QString::number(position)) : -1;
        if (index < 0) {
            std::fprintf(stderr, "filter %d is not offered\n", position);
            return false;
        }
        list->setCurrentIndex(index);
        emit list->activated(index);
        return true;
    }

    // Presses Reset and waits until the log says the reset is over: the watcher that reports
    // its end writes the line through the window's thread, so the event loop runs meanwhile.
    bool ResetAndWait() {
        const int from = terminal_ != nullptr ? terminal_->document()->characterCount() - 1 : 0;
        if (terminal_ == nullptr || !Press("resetButton")) {
            return false;
        }
        QEventLoop loop;
        bool complete = false;
        const auto look = [&] {
            complete = !terminal_->document()->find("Reset complete.", from).isNull();
            if (complete) {
                loop.quit();
            }
        };
        QObject::connect(terminal_, &QTextEdit::textChanged, &loop, look);
        QTimer::singleShot(kResetLimit, &loop, &QEventLoop::quit);
        look();
        if (!complete) {
            loop.exec();
        }
        if (!complete) {
            std::fprintf(stderr, "the window did not report the reset's end\n");
        }
        return complete;
    }

    // Whether the log has an error line from position from on.
    bool LoggedError(int from) const {
        return !terminal_->document()
                    ->find("Error", from, QTextDocument::FindCaseSensitively)
                    .isNull();
    }
    int LogEnd() const { return terminal_->document()->characterCount() - 1; }

private:
    CPravikDlg& window_;
    const std::vector<QString>& messages_;
    QTextEdit* terminal_;
};

// The check's operations through a fresh window; the wall time from Connect to the end of
// Disconnect, or nothing when a step failed.
std::optional<double> ConsoleRound(const std::vector<QString>& messages, StepTimes& steps) {
    CPravikDlg window;
    window.show();
    QApplication::processEvents();
    if (!bench::Click(window, "multiFilterRadio") ||
        !bench::Choose(window, "instrumentPortList", kMotorPort) ||
        !bench::Choose(window, "controllerPortList", kControllerPort)) {
        return std::nullopt;
    }
    CWindowDriver drive(window, messages);
    if (auto* desired = window.findChild<QLineEdit*>("desiredTempEdit")) {
        desired->setText(kSetpoint);
    }
    const int logFrom = drive.LogEnd();
    std::map<std::string, double> took;
    bool ok = true;
    const auto step = [&](const std::string& name, const std::function<bool()>& op) {
        if (!ok) {
            return;
        }
        const auto start = Clock::now();
        ok = op();
        took[name] = MsSince(start);
        if (!ok) {
            std::fprintf(stderr, "the window's %s failed\n", name.c_str());
        }
    };
    const auto moveTo = [&](int position) {
        return [&, position] {
            return drive.ChooseFilter(position) && drive.Press("changeFilterButton") &&
                   drive.Press("filterGetButton") &&
                   drive.Shows("filterEdit") == QString::number(position);
        };
    };

    const auto start = Clock::now();
    step("connect+identity", [&] { return drive.Press("connectButton") && window.IsConnected(); });
    for (const auto& [name, button, shows] :
         {std::tuple{"shutter-open", "openShutterButton", "OPEN"},
          std::tuple{"shutter-close", "closeShutterButton", "CLOSED"}}) {
        step(name, [&, button = button, shows = shows] {
            return drive.Press(button) && drive.Press("shutterGetButton") &&
                   drive.Shows("shutterStateEdit") == shows;
        });
    }
    int first = 1;
    step("filter-start", [&] {
        bool read = false;
        first = drive.Press("filterGetButton") ? drive.Shows("filterEdit").toInt(&read) : 0;
        return read;
    });
    for (int position = 1; position <= kFilters; ++position) {
        step("filter-" + std::to_string(position), moveTo(position));
    }
    step("filter-back", moveTo(first >= 1 && first <= kFilters ? first : 1));
    step("light-sensor",
         [&] { return drive.Press("lightGetButton") && drive.Shows("lightEdit") != "ERROR"; });
    step("temperature",
         [&] { return drive.Press("getTempButton") && drive.Shows("tempEdit") != "ERROR"; });
    step("setpoint", [&] { return drive.Press("setTempButton"); });
    step("reset", [&] { return drive.ResetAndWait(); });
    step("disconnect", [&] { return drive.Press("disconnectButton") && !window.IsConnected(); });
    const double wallMs = MsSince(start);

    if (ok && drive.LoggedError(logFrom)) {
        std::fprintf(stderr, "the window logged an error:\n%s\n",
                     qPrintable(window.findChild<QTextEdit*>("terminal")->toPlainText()));
        ok = false;
    }
    for (const QString& text : messages) {
        std::fprintf(stderr, "unexpected message box: %s\n", qPrintable(text));
    }
    if (!ok) {
        return std::nullopt;
    }
    double total = 0;
    for (const auto& [name, ms] : took) {
        steps[name].push_back(ms);
        total += ms;
    }
    steps["steps"].push_back(total);
    return wallMs;
}

double Median(const StepTimes& times, const std::string& name) {
    const auto found = times.find(name);
    return found != times.end() ? bench::Median(found->second) : bench::kNaN;
}

// Median wall time of a program run to its end, stdout to /dev/null; nothing when a run
// failed.
std::optional<double> MedianStart(const std::vector<std::string>& args, int runs) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const std::optional<Run> run = RunProcess(args, false);
        if (!run || run->status != 0) {
            std::fprintf(stderr, "%s did not run cleanly\n", args.front().c_str());
            return std::nullopt;
        }
        times.push_back(run->wallMs);
    }
    return bench::Median(times);
}

bool ReadOptions(int argc, char** argv, int& rounds, int& starts, std::string& simulator,
                 std::string& cli) {
    bool ok = true;
    for (int i = 1; i < argc && ok; ++i) {
        if (bench::IntOption(argc, argv, i, "--rounds", 1, 100, rounds, ok) ||
            bench::IntOption(argc, argv, i, "--starts", 1, 10000, starts, ok)) {
            continue;
        }
        const std::string_view arg = argv[i];
        if (arg == "--sim" && i + 1 < argc) {
            simulator = argv[++i];
        } else if (arg == "--cli" && i + 1 < argc) {
            cli = argv[++i];
        } else {
            ok = false;
        }
    }
    if (!ok) {
        std::fprintf(stderr,
                     "usage: %s [--rounds N] [--starts N] [--sim PATH-TO-pravik-sim] "
                     "[--cli PATH-TO-pravikctl]   (defaults %d and %d)\n",
                     argv[0], kDefaultRounds, kDefaultStarts);
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = kDefaultRounds;
    int starts = kDefaultStarts;
    std::string simulator = PRAVIK_SIM_PATH;
    std::string cli = PRAVIK_CLI_PATH;
    if (!ReadOptions(argc, argv, rounds, starts, simulator, cli)) {
        return 2;
    }
    TemporaryPortDirectory directory;
    if (!bench::PrepareConsoleBench(directory)) {
        return 2;
    }

    // Before the window and its threads exist, though a spawn costs this process the same
    // either way.
    const std::optional<double> startMs = MedianStart({cli, "--version"}, starts);
    const std::optional<double> trueMs = MedianStart({"/bin/true"}, starts);
    if (!startMs || !trueMs) {
        return 1;
    }

    QApplication app(argc, argv);
    std::vector<QString> messages;
    console::SetMessageBoxHandler([&messages](const console::MessageRequest& request) {
        messages.push_back(request.text);
        return QMessageBox::Ok;
    });

    StepTimes cliSteps;
    StepTimes consoleSteps;
    std::vector<double> cliMs;
    std::vector<double> consoleMs;
    int status = 0;
    for (int round = 0; round < rounds && status == 0; ++round) {
        for (const bool viaCli : {true, false}) {
            bench::Simulator sim;
            if (!StartBench(sim, simulator, directory.Path())) {
                status = 2;
                break;
            }
            const std::optional<double> ms =
                viaCli ? CliRound(cli, cliSteps) : ConsoleRound(messages, consoleSteps);
            sim.Stop();
            if (!ms) {
                status = 1;
                break;
            }
            (viaCli ? cliMs : consoleMs).push_back(*ms);
        }
    }
    console::SetMessageBoxHandler({});
    if (status != 0) {
        std::printf("failures=1\n");
        return status;
    }

    const double cliMedian = bench::Median(cliMs);
    const double consoleMedian = bench::Median(consoleMs);
    std::printf(
        "bench_cli: a multi-filter check (motor COM%d, Omega COM%d, pravik-sim --pace) as a\n"
        "pravikctl process, spawn to exit, and through the console window, Connect to the end\n"
        "of Disconnect; %d alternating rounds, a fresh bench for each side of each round\n\n",
        kMotorPort, kControllerPort, rounds);
    std::printf("%-18s %10s %10s   (median ms)\n", "step", "pravikctl", "console");
    for (const std::string& name : StepOrder()) {
        std::printf("%-18s %10.1f %10.1f\n", name.c_str(), Median(cliSteps, name),
                    Median(consoleSteps, name));
    }
    std::printf("%-18s %10.1f %10.1f\n", "sum of the steps", Median(cliSteps, "steps"),
                Median(consoleSteps, "steps"));
    std::printf("%-18s %10.1f %10.1f\n", "whole run", cliMedian, consoleMedian);
    std::printf(
        "(pravikctl's disconnect, start-up and exit are the whole run less its steps; the "
        "window's\n setpoint is a write alone, the check's a read, a write and a read)\n\n");
    for (size_t i = 0; i < cliMs.size(); ++i) {
        std::printf("round %zu: pravikctl %.1f ms, console %.1f ms\n", i + 1, cliMs[i],
                    consoleMs[i]);
    }
    std::printf("\npravikctl --version, %d runs: median %.2f ms; /bin/true %.2f ms\n\n", starts,
                *startMs, *trueMs);

    std::printf("cli_check_ms=%.1f\n", cliMedian);
    std::printf("console_check_ms=%.1f\n", consoleMedian);
    std::printf("cli_check_vs_console_ratio=%.3f\n", bench::Ratio(cliMedian, consoleMedian));
    std::printf("cli_start_ms=%.2f\n", *startMs);
    std::printf("cli_start_baseline_ms=%.2f\n", *trueMs);
    std::printf("cli_start_vs_true_ratio=%.2f\n", bench::Ratio(*startMs, *trueMs));
    std::printf("failures=0\n");
    return 0;
}
