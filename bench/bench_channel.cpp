// What one "#0R" exchange costs through the driver (CShutterBoxDevice: the write handed to the
// port's monitoring thread, the reply assembled byte by byte on that thread and handed back
// through events), against two baselines measured in the same run:
//
//   raw     the same exchange done by hand on the pseudo-terminal: one thread, one descriptor,
//           write, poll, read. Nothing could be cheaper.
//   traced  the same driver on the same port, with a session trace tapping every record the
//           port echoes, as the console's ports are traced; every other exchange of the driver
//           is traced, so that only the tracing tells the two apart.
//   pyserial  what a technician would script instead: bench/shutter_state.py, pyserial's
//           Serial(port, 9600, timeout=2), write b"#0R", read(2), check. It times each exchange
//           itself, from the write to the check, so that neither the interpreter's start-up nor
//           the opening of the port is counted, as they are not for the driver.
//
// Each path has a simulated shutter controller of its own, in this process, so that the driver's
// port and the raw descriptor stay open side by side and their exchanges can alternate one by
// one: whatever else a shared machine is doing weighs on both alike. The Python runs, one process
// a block, alternate with blocks of those. Every reply is checked; a failed exchange is counted,
// left out of the timings, and makes the run exit non-zero.
//
// Besides the times, the context switches of an exchange: those of the calling thread, and those
// of the whole process (the caller, the port's monitoring thread, the simulated device). Each
// sleep and wake-up on the way costs far more than the code between them.

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "bench/TemporaryPortDirectory.h"
#include "devices/ShutterBoxDevice.h"
#include "serial/SessionTrace.h"
#include "sim/ShutterControllerSim.h"

namespace {

using bench::Clock;

// Above every default port mapping, so a missing entry can never reach a real /dev/ttyS*.
constexpr int kRawPort = 201;
constexpr int kChannelPort = 202;
constexpr int kPythonPort = 203;
constexpr int kDefaultIterations = 2000;
// Exchanges per path that are not timed: many before the first block (caches, the simulated
// devices' first answers, the interpreter's first calls), a few at the start of every Python run.
constexpr int kWarmUp = 200;
constexpr int kBlockWarmUp = 20;
constexpr int kBlocks = 10;
// As long as the driver waits for a shutter box to answer.
constexpr int kReplyTimeoutMs = 2000;
// A Python run gives up after five failed exchanges; this bounds the rest (start-up, a hang).
constexpr auto kPythonRunLimit = std::chrono::seconds(120);
constexpr auto kIdleWindow = std::chrono::seconds(2);
constexpr char kQuery[] = {'#', '0', 'R'};
// The simulated shutters are opened before measuring, so a reply that reads 0 is a wrong one.
constexpr int32_t kOpenState = 1;

#ifndef PRAVIK_SOURCE_DIR
#define PRAVIK_SOURCE_DIR "."
#endif

struct Options {
    int iterations = kDefaultIterations;
    // Debian's interpreter, the one its python3-serial package installs for.
    std::string python = "/usr/bin/python3";
    std::string script = PRAVIK_SOURCE_DIR "/bench/shutter_state.py";
    bool withPython = true;
};

std::optional<Options> ParseOptions(int argc, char** argv) {
    Options options;
    bool ok = true;
    for (int i = 1; i < argc && ok; ++i) {
        const std::string_view arg = argv[i];
        if (bench::IntOption(argc, argv, i, "--iterations", 1, 1000000, options.iterations, ok)) {
            continue;
        }
        if (arg == "--python" && i + 1 < argc) {
            options.python = argv[++i];
        } else if (arg == "--script" && i + 1 < argc) {
            options.script = argv[++i];
        } else if (arg == "--no-python") {
            options.withPython = false;
        } else {
            ok = false;
        }
    }
    return ok ? std::optional(options) : std::nullopt;
}

int RemainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<int64_t>(left.count(), 0));
}

// The baseline: the same exchange with nothing of the program's in the way.
class RawTerminal {
public:
    RawTerminal() = default;
    RawTerminal(const RawTerminal&) = delete;
    RawTerminal& operator=(const RawTerminal&) = delete;
    ~RawTerminal() { Close(); }

    // Opens and configures the terminal; 0, or the errno of the step that failed.
    int Open(const std::string& path) {
        Close();
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) {
            return errno;
        }
        termios tio;
        if (::tcgetattr(fd_, &tio) != 0) {
            return Fail();
        }
        ::cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        ::cfsetispeed(&tio, B9600);
        ::cfsetospeed(&tio, B9600);
        if (::tcsetattr(fd_, TCSANOW, &tio) != 0) {
            return Fail();
        }
        ::tcflush(fd_, TCIOFLUSH);
        return 0;
    }

    void Close() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

    // One "#0R": true when two bytes came back that add up to 0xFF; state is the first.
    bool Exchange(int32_t& state) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(kReplyTimeoutMs);
        if (!WriteAll(kQuery, sizeof kQuery, deadline)) {
            return Resynchronise();
        }
        uint8_t reply[2];
        size_t got = 0;
        while (got < sizeof reply) {
            pollfd p{fd_, POLLIN, 0};
            const int rc = ::poll(&p, 1, RemainingMs(deadline));
            if (rc < 0 && errno == EINTR) {
                continue;
            }
            if (rc <= 0 || (p.revents & POLLIN) == 0) {
                return Resynchronise();
            }
            const ssize_t n = ::read(fd_, reply + got, sizeof reply - got);
            if (n > 0) {
                got += static_cast<size_t>(n);
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                return Resynchronise();
            }
        }
        if (((reply[0] + reply[1]) & 0xFF) != 0xFF) {
            return Resynchronise();
        }
        state = reply[0];
        return true;
    }

private:
    int Fail() {
        const int error = errno;
        Close();
        return error;
    }

    bool WriteAll(const char* data, size_t size, Clock::time_point deadline) {
        size_t done = 0;
        while (done < size) {
            const ssize_t n = ::write(fd_, data + done, size - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && errno == EAGAIN) {
                pollfd p{fd_, POLLOUT, 0};
                const int rc = ::poll(&p, 1, RemainingMs(deadline));
                if (rc == 0 || (rc < 0 && errno != EINTR)) {
                    return false;
                }
                continue;
            }
            return false;
        }
        return true;
    }

    // A failed exchange may leave a late or partial reply behind; the next one starts clean.
    bool Resynchronise() {
        ::tcflush(fd_, TCIOFLUSH);
        return false;
    }

    int fd_ = -1;
};

// Voluntary context switches: the times a thread went to sleep waiting for something. Those a
// busy machine forces on it say nothing about the code.
int64_t ContextSwitches(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    return usage.ru_nvcsw;
}

struct PathResult {
    std::vector<double> samplesUs;
    int64_t failures = 0;
    int64_t callerSwitches = 0;
    int64_t processSwitches = 0;
    int64_t timed = 0;

    double MedianUs() const { return bench::Median(samplesUs); }
    double P99Us() const { return bench::Percentile(samplesUs, 99); }
};

// One exchange on a path: timed, checked, and its context switches counted when timed. A reply
// must not only pass its check byte but also carry the state the simulated shutter is in.
template <typename ExchangeFn>
void RunExchange(bool timed, ExchangeFn&& exchange, PathResult& result) {
    const int64_t callerBefore = ContextSwitches(RUSAGE_THREAD);
    const int64_t processBefore = ContextSwitches(RUSAGE_SELF);
    int32_t state = -1;
    const auto start = Clock::now();
    const bool ok = exchange(state);
    const auto end = Clock::now();
    const int64_t callerAfter = ContextSwitches(RUSAGE_THREAD);
    const int64_t processAfter = ContextSwitches(RUSAGE_SELF);
    if (!ok || state != kOpenState) {
        ++result.failures;
        return;
    }
    if (timed) {
        result.samplesUs.push_back(std::chrono::duration<double, std::micro>(end - start).count());
        result.callerSwitches += callerAfter - callerBefore;
        result.processSwitches += processAfter - processBefore;
        ++result.timed;
    }
}

// The device must have recognised exactly one command per exchange: more means a query went out
// twice, fewer that one was lost or mangled on the way.
void CheckCommandCount(const sim::CShutterControllerSim& device, uint64_t expected,
                       const char* path, PathResult& result) {
    const uint64_t seen = device.CommandsSeen();
    if (seen != expected) {
        std::fprintf(stderr, "%s: the device recognised %llu commands for %llu queries\n", path,
                     static_cast<unsigned long long>(seen),
                     static_cast<unsigned long long>(expected));
        ++result.failures;
    }
}

// Runs program with args, its standard output collected; false when it could not be started,
// did not end within limit (it is then killed) or ended other than with exit code 0.
bool RunCapture(const std::vector<std::string>& args, std::string& output,
                std::chrono::seconds limit) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        std::fprintf(stderr, "cannot start %s: %s\n", args[0].c_str(), std::strerror(spawned));
        return false;
    }
    const auto deadline = Clock::now() + limit;
    bool inTime = true;
    char buffer[4096];
    for (;;) {
        pollfd p{pipeFds[0], POLLIN, 0};
        const int rc = ::poll(&p, 1, RemainingMs(deadline));
        if (rc < 0 && errno == EINTR) {
            continue;
        }
        if (rc <= 0) {
            inTime = rc == 0 ? false : inTime;
            break;
        }
        const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        output.append(buffer, static_cast<size_t>(n));
    }
    ::close(pipeFds[0]);
    if (!inTime) {
        std::fprintf(stderr, "%s did not finish in time\n", args[0].c_str());
        ::kill(pid, SIGKILL);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return inTime && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// One Python run of warmUp + count exchanges on the device; its timed samples join result.
void RunPythonBlock(const Options& options, const sim::CShutterControllerSim& device, int warmUp,
                    int count, uint64_t& commands, PathResult& result) {
    std::string output;
    const bool ran = RunCapture({options.python, options.script, device.PortPath(),
                                 std::to_string(count), std::to_string(warmUp)},
                                output, kPythonRunLimit);
    commands += static_cast<uint64_t>(warmUp + count);
    std::istringstream lines(output);
    std::string line;
    long long failures = -1;
    int state = -1;
    size_t samples = 0;
    while (std::getline(lines, line)) {
        if (std::sscanf(line.c_str(), "failures=%lld state=%d", &failures, &state) == 2) {
            continue;
        }
        if (line.starts_with("samples_ns=")) {
            std::istringstream values(line.substr(11));
            double ns = 0;
            while (values >> ns) {
                result.samplesUs.push_back(ns / 1e3);
                ++samples;
            }
        }
    }
    result.timed += static_cast<int64_t>(samples);
    if (!ran || failures != 0 || state != kOpenState || samples != static_cast<size_t>(count)) {
        std::fprintf(stderr, "pyserial: run failed (%zu of %d exchanges timed, state %d)\n",
                     samples, count, state);
        result.failures += std::max<long long>(1, failures);
    }
}

struct IdleFigures {
    std::optional<double> processCpuMs;
    std::optional<double> monitorCpuMs;
    double wallMs = 0;
};

// CPU used while the port is open, its monitoring thread waiting and the device alive, but
// nobody sends anything. The process figure includes the simulated devices' own threads.
IdleFigures MeasureIdle(CShutterBoxDevice& driver) {
    clockid_t monitorClock{};
    const bool haveMonitorClock =
        ::pthread_getcpuclockid(driver.MonitorThread.native_handle(), &monitorClock) == 0;
    IdleFigures idle;
    const auto processBefore = bench::CpuMs(CLOCK_PROCESS_CPUTIME_ID);
    const auto monitorBefore = haveMonitorClock ? bench::CpuMs(monitorClock) : std::nullopt;
    const auto wallBefore = Clock::now();
    std::this_thread::sleep_for(kIdleWindow);
    const auto wallAfter = Clock::now();
    const auto processAfter = bench::CpuMs(CLOCK_PROCESS_CPUTIME_ID);
    const auto monitorAfter = haveMonitorClock ? bench::CpuMs(monitorClock) : std::nullopt;
    if (processBefore && processAfter) {
        idle.processCpuMs = *processAfter - *processBefore;
    }
    if (monitorBefore && monitorAfter) {
        idle.monitorCpuMs = *monitorAfter - *monitorBefore;
    }
    idle.wallMs = std::chrono::duration<double, std::milli>(wallAfter - wallBefore).count();
    return idle;
}

void PrintOptional(const char* name, const std::optional<double>& value) {
    if (value) {
        std::printf("%s=%.3f\n", name, *value);
    } else {
        std::printf("%s=unavailable\n", name);
    }
}

void PrintPath(const char* what, const PathResult& path, bool switches) {
    std::printf("%-36s %10.2f %10.2f %8zu %9lld", what, path.MedianUs(), path.P99Us(),
                path.samplesUs.size(), static_cast<long long>(path.failures));
    if (switches && path.timed > 0) {
        std::printf(" %8.2f %8.2f",
                    static_cast<double>(path.callerSwitches) / static_cast<double>(path.timed),
                    static_cast<double>(path.processSwitches) / static_cast<double>(path.timed));
    }
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    const auto options = ParseOptions(argc, argv);
    if (!options) {
        std::fprintf(stderr,
                     "usage: %s [--iterations N] [--python INTERPRETER] [--script PATH] "
                     "[--no-python]\n   (N >= 1, default %d)\n",
                     argv[0], kDefaultIterations);
        return 2;
    }

    // Destroyed in reverse: the driver lets go of its port before the devices go away, and the
    // devices unpublish COMn before their directory is removed.
    TemporaryPortDirectory directory;
    if (!directory.Valid()) {
        std::fprintf(stderr, "cannot create a port directory: %s\n", std::strerror(errno));
        return 2;
    }
    ::setenv("PRAVIK_PORT_DIR", directory.Path().c_str(), 1);

    sim::CShutterControllerSim rawDevice(kRawPort, directory.Path());
    sim::CShutterControllerSim channelDevice(kChannelPort, directory.Path());
    sim::CShutterControllerSim pythonDevice(kPythonPort, directory.Path());
    for (sim::CShutterControllerSim* device : {&rawDevice, &channelDevice, &pythonDevice}) {
        if (!device->Start()) {
            std::fprintf(stderr, "cannot start the simulated shutter controller on COM%d\n",
                         device->PortNumber());
            return 2;
        }
        device->SetShutterState(kOpenState);
    }

    RawTerminal terminal;
    if (const int error = terminal.Open(rawDevice.PortPath()); error != 0) {
        std::fprintf(stderr, "raw: cannot open %s: %s\n", rawDevice.PortPath().c_str(),
                     std::strerror(error));
        return 1;
    }
    // Before the driver, whose port taps it until it is closed.
    CSessionTrace trace;
    CTracingEchoSink tap(trace, nullptr);
    trace.BeginFile(directory.Path() + "/session.jsonl", "single",
                    {{"shutter", CommSettings{kChannelPort, 9600, 8, 0, 0, 0}}});
    CShutterBoxDevice driver;
    driver.Settings.PortNumber = kChannelPort;
    driver.Settings.BaudRate = 9600;
    if (!driver.OpenPort()) {
        std::fprintf(stderr, "channel: %s\n", driver.LastFailure().Text.c_str());
        return 1;
    }
    PathResult raw;
    PathResult channel;
    PathResult python;
    PathResult traced;
    const auto rawExchange = [&](int32_t& state) { return terminal.Exchange(state); };
    const auto channelExchange = [&](int32_t& state) { return driver.GetShutterState(state); };
    // The port echoes both records of an exchange before the driver has its reply.
    const auto tracedExchange = [&](int32_t& state) {
        driver.OwnerWindow = &tap;
        const bool ok = driver.GetShutterState(state);
        driver.OwnerWindow = nullptr;
        return ok;
    };
    // Rounds of one exchange a path, the order turned from one round to the next, so that no
    // path always runs right after another.
    const auto runRounds = [&](int rounds, bool timed) {
        const std::function<void()> paths[] = {
            [&] { RunExchange(timed, rawExchange, raw); },
            [&] { RunExchange(timed, channelExchange, channel); },
            [&] { RunExchange(timed, tracedExchange, traced); }};
        for (int i = 0; i < rounds; ++i) {
            for (int k = 0; k < 3; ++k) {
                paths[(i + k) % 3]();
            }
        }
    };

    uint64_t pythonCommands = 0;
    runRounds(kWarmUp, false);
    const int64_t total = options->iterations;
    for (int block = 0; block < kBlocks; ++block) {
        const auto count =
            static_cast<int>(total * (block + 1) / kBlocks - total * block / kBlocks);
        if (count == 0) {
            continue;
        }
        const bool pythonFirst = block % 2 == 1;
        if (options->withPython && pythonFirst) {
            RunPythonBlock(*options, pythonDevice, block == 0 ? kWarmUp : kBlockWarmUp, count,
                           pythonCommands, python);
        }
        runRounds(count, true);
        if (options->withPython && !pythonFirst) {
            RunPythonBlock(*options, pythonDevice, block == 0 ? kWarmUp : kBlockWarmUp, count,
                           pythonCommands, python);
        }
    }
    const uint64_t roundsRun = static_cast<uint64_t>(kWarmUp) + static_cast<uint64_t>(total);
    CheckCommandCount(rawDevice, roundsRun, "raw", raw);
    CheckCommandCount(channelDevice, 2 * roundsRun, "channel and traced", channel);
    if (options->withPython) {
        CheckCommandCount(pythonDevice, pythonCommands, "pyserial", python);
    }

    const IdleFigures idle = MeasureIdle(driver);
    driver.ClosePort();
    // Every query and its reply in the file, none dropped: a trace that keeps up.
    trace.End("asked");
    if (!trace.Flush(std::chrono::seconds(30)) || !trace.Failure().empty() || trace.Lost() > 0) {
        std::fprintf(stderr, "traced: the trace stopped or dropped %llu records: %s\n",
                     static_cast<unsigned long long>(trace.Lost()), trace.Failure().c_str());
        ++traced.failures;
    }

    std::printf(
        "bench_channel: \"#0R\" exchanges with simulated shutter controllers at 9600 baud\n");
    std::printf(
        "%d timed per path in %d blocks, after %d untimed; raw, channel and traced alternate\n",
        options->iterations, kBlocks, kWarmUp);
    std::printf("one by one, a pyserial run of each block's count between blocks\n\n");
    std::printf("%-36s %10s %10s %8s %9s %8s %8s\n", "path", "median_us", "p99_us", "samples",
                "failures", "cs_call", "cs_proc");
    PrintPath("raw: pty write/poll/read", raw, true);
    PrintPath("channel: CShutterBoxDevice", channel, true);
    PrintPath("traced: channel + session trace", traced, true);
    if (options->withPython) {
        PrintPath("pyserial: bench/shutter_state.py", python, false);
    }
    std::printf(
        "\n(cs_call: times the calling thread slept, per exchange; cs_proc: the same for\n"
        "this whole process, the monitoring thread and simulated device included)\n");
    std::printf("\nidle, port open, %.0f ms wall (process CPU includes the simulated devices)\n",
                idle.wallMs);
    PrintOptional("idle_cpu_ms_2s", idle.processCpuMs);
    PrintOptional("monitor_thread_cpu_ms_2s", idle.monitorCpuMs);

    const int64_t failures = raw.failures + channel.failures + python.failures + traced.failures;
    std::printf("raw_median_us=%.2f\n", raw.MedianUs());
    std::printf("channel_median_us=%.2f\n", channel.MedianUs());
    std::printf("channel_vs_raw_ratio=%.3f\n", bench::Ratio(channel.MedianUs(), raw.MedianUs()));
    std::printf("traced_median_us=%.2f\n", traced.MedianUs());
    std::printf("trace_overhead_ratio=%.3f\n", bench::Ratio(traced.MedianUs(), channel.MedianUs()));
    if (options->withPython) {
        std::printf("pyserial_median_us=%.2f\n", python.MedianUs());
        std::printf("channel_vs_pyserial_ratio=%.3f\n",
                    bench::Ratio(channel.MedianUs(), python.MedianUs()));
    }
    std::printf("failures=%lld\n", static_cast<long long>(failures));
    const bool measured = !raw.samplesUs.empty() && !channel.samplesUs.empty() &&
                          !traced.samplesUs.empty() &&
                          (!options->withPython || !python.samplesUs.empty());
    return failures == 0 && measured ? 0 : 1;
}
