// What one "#0R" exchange costs through the driver (CShutterBoxDevice: the write handed to the
// port's monitoring thread, the reply assembled byte by byte on that thread and handed back
// through events) against the same exchange done by hand on the pseudo-terminal, and what an
// open port costs in CPU while nothing happens on the line.
//
// Both paths talk to one simulated shutter controller in this process, in alternating blocks, so
// that whatever else the machine is doing weighs on both alike. Every reply is checked; a failed
// exchange is counted, left out of the timings, and makes the run exit non-zero.

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "bench/TemporaryPortDirectory.h"
#include "devices/ShutterBoxDevice.h"
#include "sim/ShutterControllerSim.h"

namespace {

using Clock = std::chrono::steady_clock;

// Above every default port mapping, so a missing entry can never reach a real /dev/ttyS*.
constexpr int kPortNumber = 201;
constexpr int kDefaultIterations = 2000;
// Exchanges per path that are not timed: many before the first block (caches, the simulated
// device's first answers), a few after every reopen (a fresh monitoring thread).
constexpr int kWarmUp = 200;
constexpr int kBlockWarmUp = 10;
constexpr int kBlocks = 10;
// As long as the driver waits for a shutter box to answer.
constexpr int kReplyTimeoutMs = 2000;
constexpr auto kIdleWindow = std::chrono::seconds(2);
constexpr char kQuery[] = {'#', '0', 'R'};
// The simulated shutter is opened before measuring, so a reply that reads 0 is a wrong one.
constexpr int32_t kOpenState = 1;

struct Options {
    int iterations = kDefaultIterations;
};

std::optional<Options> ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        std::string_view value;
        if (arg == "--iterations" && i + 1 < argc) {
            value = argv[++i];
        } else if (arg.starts_with("--iterations=")) {
            value = arg.substr(arg.find('=') + 1);
        } else {
            return std::nullopt;
        }
        int n = 0;
        const char* end = value.data() + value.size();
        const auto [ptr, ec] = std::from_chars(value.data(), end, n);
        if (ec != std::errc() || ptr != end || n < 1) {
            return std::nullopt;
        }
        options.iterations = n;
    }
    return options;
}

int RemainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<int64_t>(left.count(), 0));
}

std::optional<double> CpuMs(clockid_t clock) {
    timespec ts{};
    if (::clock_gettime(clock, &ts) != 0) {
        return std::nullopt;
    }
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// The baseline: the same exchange with nothing of the program's in the way. One thread, one
// descriptor, write, poll, read.
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

struct PathResult {
    std::vector<int64_t> samplesNs;
    int64_t failures = 0;
};

struct Figures {
    double medianUs = 0;
    double p99Us = 0;
};

Figures Summarise(std::vector<int64_t> samplesNs) {
    Figures figures;
    if (samplesNs.empty()) {
        return figures;
    }
    std::sort(samplesNs.begin(), samplesNs.end());
    const size_t n = samplesNs.size();
    const double median =
        n % 2 == 1
            ? static_cast<double>(samplesNs[n / 2])
            : (static_cast<double>(samplesNs[n / 2 - 1]) + static_cast<double>(samplesNs[n / 2])) /
                  2;
    // Nearest rank: the smallest sample that at least 99 % of all samples do not exceed.
    const size_t rank = (n * 99 + 99) / 100;
    figures.medianUs = median / 1e3;
    figures.p99Us = static_cast<double>(samplesNs[rank - 1]) / 1e3;
    return figures;
}

// Runs warmUp + count exchanges and keeps the timings of the last count that succeeded. A reply
// must not only pass its check byte but also carry the state the simulated shutter is in.
template <typename ExchangeFn>
void RunExchanges(int warmUp, int count, ExchangeFn&& exchange, PathResult& result) {
    for (int i = 0; i < warmUp + count; ++i) {
        int32_t state = -1;
        const auto start = Clock::now();
        const bool ok = exchange(state);
        const auto end = Clock::now();
        if (!ok || state != kOpenState) {
            ++result.failures;
            continue;
        }
        if (i >= warmUp) {
            result.samplesNs.push_back(
                std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count());
        }
    }
}

// The device must have recognised exactly one command per exchange: more means a query went out
// twice, fewer that one was lost or mangled on the way.
void CheckCommandCount(const sim::CShutterControllerSim& device, uint64_t before, int sent,
                       const char* path, PathResult& result) {
    const uint64_t seen = device.CommandsSeen() - before;
    if (seen != static_cast<uint64_t>(sent)) {
        std::fprintf(stderr, "%s: the device recognised %llu commands for %d queries\n", path,
                     static_cast<unsigned long long>(seen), sent);
        ++result.failures;
    }
}

bool RunBaselineBlock(const sim::CShutterControllerSim& device, int warmUp, int count,
                      PathResult& result) {
    RawTerminal terminal;
    if (const int error = terminal.Open(device.PortPath()); error != 0) {
        std::fprintf(stderr, "baseline: cannot open %s: %s\n", device.PortPath().c_str(),
                     std::strerror(error));
        return false;
    }
    const uint64_t before = device.CommandsSeen();
    RunExchanges(
        warmUp, count, [&](int32_t& state) { return terminal.Exchange(state); }, result);
    CheckCommandCount(device, before, warmUp + count, "baseline", result);
    return true;
}

bool RunChannelBlock(CShutterBoxDevice& driver, const sim::CShutterControllerSim& device,
                     int warmUp, int count, PathResult& result) {
    if (!driver.OpenPort()) {
        std::fprintf(stderr, "channel: %s\n", driver.DescribeLastOpenError().c_str());
        return false;
    }
    const uint64_t before = device.CommandsSeen();
    RunExchanges(
        warmUp, count, [&](int32_t& state) { return driver.GetShutterState(state); }, result);
    CheckCommandCount(device, before, warmUp + count, "channel", result);
    // Let go of the port so the baseline's descriptor has the line to itself.
    driver.ClosePort();
    return true;
}

struct IdleFigures {
    std::optional<double> processCpuMs;
    std::optional<double> monitorCpuMs;
    double wallMs = 0;
};

// CPU used while the port is open, its monitoring thread waiting and the device alive, but
// nobody sends anything. The process figure includes the simulated device's own thread.
std::optional<IdleFigures> MeasureIdle(CShutterBoxDevice& driver, PathResult& channel) {
    if (!driver.OpenPort()) {
        std::fprintf(stderr, "idle: %s\n", driver.DescribeLastOpenError().c_str());
        return std::nullopt;
    }
    // One exchange first: proof that the line works, and the monitoring thread is past its start.
    int32_t state = -1;
    if (!driver.GetShutterState(state) || state != kOpenState) {
        ++channel.failures;
    }
    clockid_t monitorClock{};
    const bool haveMonitorClock =
        ::pthread_getcpuclockid(driver.MonitorThread.native_handle(), &monitorClock) == 0;

    IdleFigures idle;
    const auto processBefore = CpuMs(CLOCK_PROCESS_CPUTIME_ID);
    const auto monitorBefore = haveMonitorClock ? CpuMs(monitorClock) : std::nullopt;
    const auto wallBefore = Clock::now();
    std::this_thread::sleep_for(kIdleWindow);
    const auto wallAfter = Clock::now();
    const auto processAfter = CpuMs(CLOCK_PROCESS_CPUTIME_ID);
    const auto monitorAfter = haveMonitorClock ? CpuMs(monitorClock) : std::nullopt;
    driver.ClosePort();

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

}  // namespace

int main(int argc, char** argv) {
    const auto options = ParseOptions(argc, argv);
    if (!options) {
        std::fprintf(stderr, "usage: %s [--iterations N]   (N >= 1, default %d)\n", argv[0],
                     kDefaultIterations);
        return 2;
    }

    // Destroyed in reverse: the driver lets go of the port before the device goes away, and the
    // device unpublishes COMn before its directory is removed.
    TemporaryPortDirectory directory;
    if (!directory.Valid()) {
        std::fprintf(stderr, "cannot create a port directory: %s\n", std::strerror(errno));
        return 2;
    }
    ::setenv("PRAVIK_PORT_DIR", directory.Path().c_str(), 1);

    sim::CShutterControllerSim device(kPortNumber, directory.Path());
    if (!device.Start()) {
        std::fprintf(stderr, "cannot start the simulated shutter controller on COM%d\n",
                     kPortNumber);
        return 2;
    }
    device.SetShutterState(kOpenState);

    CShutterBoxDevice driver;
    driver.Settings.PortNumber = kPortNumber;
    driver.Settings.BaudRate = 9600;

    PathResult baseline;
    PathResult channel;
    const int64_t total = options->iterations;
    for (int block = 0; block < kBlocks; ++block) {
        const auto count =
            static_cast<int>(total * (block + 1) / kBlocks - total * block / kBlocks);
        const int warmUp = block == 0 ? kWarmUp : kBlockWarmUp;
        // Alternate which path goes first, so neither always follows the other's close.
        const bool baselineFirst = block % 2 == 0;
        for (int turn = 0; turn < 2; ++turn) {
            const bool ok = (turn == 0) == baselineFirst
                                ? RunBaselineBlock(device, warmUp, count, baseline)
                                : RunChannelBlock(driver, device, warmUp, count, channel);
            if (!ok) {
                return 1;
            }
        }
    }

    const auto idle = MeasureIdle(driver, channel);
    if (!idle) {
        return 1;
    }

    const Figures base = Summarise(baseline.samplesNs);
    const Figures chan = Summarise(channel.samplesNs);

    std::printf("bench_channel: \"#0R\" round trips on COM%d, simulated shutter controller\n",
                kPortNumber);
    std::printf("%d measured per path in %d alternating blocks, warm-up %d then %d a block\n\n",
                options->iterations, kBlocks, kWarmUp, kBlockWarmUp);
    std::printf("%-34s %10s %10s %8s %9s\n", "path", "median_us", "p99_us", "samples", "failures");
    std::printf("%-34s %10.2f %10.2f %8zu %9lld\n", "baseline: raw pty, write/poll/read",
                base.medianUs, base.p99Us, baseline.samplesNs.size(),
                static_cast<long long>(baseline.failures));
    std::printf("%-34s %10.2f %10.2f %8zu %9lld\n", "channel: CShutterBoxDevice", chan.medianUs,
                chan.p99Us, channel.samplesNs.size(), static_cast<long long>(channel.failures));
    std::printf("\nidle, port open, %.0f ms wall (process CPU includes the simulated device)\n",
                idle->wallMs);
    PrintOptional("idle_cpu_ms_2s", idle->processCpuMs);
    PrintOptional("monitor_thread_cpu_ms_2s", idle->monitorCpuMs);

    const int64_t failures = baseline.failures + channel.failures;
    std::printf("failures=%lld\n", static_cast<long long>(failures));
    // With no successful exchange on either path there is nothing to compare: say so, not 0.
    const double ratio = base.medianUs > 0 && chan.medianUs > 0
                             ? chan.medianUs / base.medianUs
                             : std::numeric_limits<double>::quiet_NaN();
    std::printf("ratio=%.2f\n", ratio);
    return failures == 0 && base.medianUs > 0 && chan.medianUs > 0 ? 0 : 1;
}
