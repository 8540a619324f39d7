// A day of "Auto Refresh" in a few minutes: both instruments connected to simulated devices over
// pseudo-terminals, asked for the temperature and the shutter state over and over, and now and
// then disconnected and connected again as a technician does between instruments. Prints the
// process's resident memory, open descriptors and threads at the start and at the end, and with
// --check fails when they moved (memory by more than the allowance, descriptors and threads at
// all). scripts/soak runs it for 100,000 exchanges; CTest runs a short version.
#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

#include <CLI/CLI.hpp>

#include "devices/Vocabulary.h"
#include "instruments/FilterWheel.h"
#include "instruments/ShutterBox.h"
#include "sim/OmegaControllerSim.h"
#include "sim/ShutterControllerSim.h"
#include "sim/SmartMotorSim.h"

namespace {

// Above every default port mapping, so nothing here can reach a real /dev/ttyS*.
constexpr int kMotorPort = 211;
constexpr int kControllerPort = 212;
constexpr int kShutterPort = 213;
// Exchanges before the first figures, so that what is allocated once (buffers reaching their
// working size, the allocator's arenas for the monitoring threads) is not counted as growth.
constexpr long kWarmUp = 3000;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// A sanitizer keeps freed memory in quarantine and shadow memory besides: resident memory says
// nothing about leaks there (ASan's leak checker does that job at exit).
constexpr bool kMemoryIsMeaningful = false;
#else
constexpr bool kMemoryIsMeaningful = true;
#endif

struct Options {
    long exchanges = 100000;
    long reconnectEvery = 10000;
    long memoryAllowanceKiB = 2048;
    bool check = false;
};

long StatusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    const std::string prefix = std::string(field) + ':';
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with(prefix)) {
            return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
        }
    }
    return -1;
}

long EntriesIn(const char* directory) {
    DIR* dir = ::opendir(directory);
    if (dir == nullptr) {
        return -1;
    }
    long count = 0;
    while (const dirent* entry = ::readdir(dir)) {
        count += entry->d_name[0] != '.' ? 1 : 0;
    }
    ::closedir(dir);
    return count - (std::strcmp(directory, "/proc/self/fd") == 0 ? 1 : 0);  // our own opendir
}

struct Figures {
    long rssKiB;
    long descriptors;
    long threads;
};

Figures Measure() {
    return {StatusKiB("VmRSS"), EntriesIn("/proc/self/fd"), EntriesIn("/proc/self/task")};
}

void Print(const char* when, const Figures& f, long exchanges, double seconds) {
    std::printf("%-6s exchanges %8ld  rss %7ld KiB  descriptors %3ld  threads %3ld  %.1f s\n", when,
                exchanges, f.rssKiB, f.descriptors, f.threads, seconds);
    std::fflush(stdout);
}

class Bench {
public:
    explicit Bench(const std::string& portDir)
        : motor_(kMotorPort, portDir, sim::CSmartMotorSim::Program::Current, 6),
          omega_(kControllerPort, portDir),
          shutter_(kShutterPort, portDir, sim::CShutterControllerSim::Generation::V30) {
        wheel_.Config.InstrumentKind = vocabulary::kFilterModeMulti;
        wheel_.Config.InstrumentPort.PortNumber = kMotorPort;
        wheel_.Config.TempControllerPort.PortNumber = kControllerPort;
        wheel_.Config.MotorGeneration = static_cast<int32_t>(sim::CSmartMotorSim::Program::Current);
        wheel_.Config.TempController = vocabulary::kTempControllerOmega;
        box_.Config.InstrumentKind = vocabulary::kFilterModeSingle;
        box_.Config.InstrumentPort.PortNumber = kShutterPort;
        box_.Config.ShutterControllerGeneration = 3;
        box_.Driver30.SettleDelayMs = 0;
    }
    ~Bench() { Disconnect(); }

    bool Start() { return motor_.Start() && omega_.Start() && shutter_.Start(); }
    bool Connect() { return wheel_.Connect() && box_.Connect(); }
    void Disconnect() {
        wheel_.Disconnect();
        box_.Disconnect();
    }

    // One exchange in the order the console's refresh and the technician's glances make them.
    bool Exchange(long n) {
        int32_t state = -1;
        double temperature = 0;
        switch (n % 3) {
            case 0:
                return wheel_.ReadTemperature(temperature);
            case 1:
                return wheel_.GetShutterState(state) && state >= 0;
            default:
                return box_.GetShutterState(state) && state >= 0;
        }
    }

private:
    sim::CSmartMotorSim motor_;
    sim::COmegaControllerSim omega_;
    sim::CShutterControllerSim shutter_;
    CFilterWheel wheel_;
    CShutterBox box_;
};

class PortDirectory {
public:
    PortDirectory() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern =
            std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/pravik-soak-XXXXXX";
        path_ = ::mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
    }
    ~PortDirectory() {
        std::error_code ignored;
        if (!path_.empty()) {
            std::filesystem::remove_all(path_, ignored);
        }
    }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

}  // namespace

int main(int argc, char** argv) {  // NOLINT(bugprone-exception-escape): terminate names it
    Options options;
    CLI::App app("Refreshes both simulated instruments over and over and reports what it cost.");
    constexpr long kMost = 100'000'000;
    app.add_option("--exchanges", options.exchanges, "refreshes in all")
        ->check(CLI::Range(1L, kMost));
    app.add_option("--reconnect-every", options.reconnectEvery,
                   "reconnect after so many (0: never)")
        ->check(CLI::Range(0L, kMost));
    app.add_option("--memory-allowance-kib", options.memoryAllowanceKiB, "growth --check allows")
        ->check(CLI::Range(0L, kMost));
    app.add_flag("--check", options.check, "fail when memory, descriptors or threads moved");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }
    PortDirectory dir;
    if (dir.Path().empty() || ::setenv("PRAVIK_PORT_DIR", dir.Path().c_str(), 1) != 0 ||
        ::setenv("PRAVIK_LOCK_DIR", dir.Path().c_str(), 1) != 0) {
        std::fprintf(stderr, "cannot make a port directory\n");
        return 1;
    }

    const auto started = std::chrono::steady_clock::now();
    auto seconds = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    };
    auto bench = std::make_unique<Bench>(dir.Path());
    if (!bench->Start() || !bench->Connect()) {
        std::fprintf(stderr, "the simulated bench did not connect\n");
        return 1;
    }

    long failures = 0;
    for (long n = 0; n < kWarmUp; ++n) {
        failures += bench->Exchange(n) ? 0 : 1;
    }
    const Figures start = Measure();
    Print("start", start, 0, seconds());

    for (long n = 0; n < options.exchanges; ++n) {
        if (options.reconnectEvery > 0 && n > 0 && n % options.reconnectEvery == 0) {
            bench->Disconnect();
            if (!bench->Connect()) {
                std::fprintf(stderr, "reconnecting failed after %ld exchanges\n", n);
                return 1;
            }
        }
        failures += bench->Exchange(n) ? 0 : 1;
        if ((n + 1) % 20000 == 0 && n + 1 < options.exchanges) {
            Print("", Measure(), n + 1, seconds());
        }
    }
    const Figures end = Measure();
    Print("end", end, options.exchanges, seconds());

    const long grownKiB = end.rssKiB - start.rssKiB;
    std::printf(
        "soak_exchanges=%ld\nsoak_failed_exchanges=%ld\nsoak_rss_growth_kib=%ld\n"
        "soak_descriptor_change=%ld\nsoak_thread_change=%ld\n",
        options.exchanges, failures, grownKiB, end.descriptors - start.descriptors,
        end.threads - start.threads);

    bench.reset();
    if (!options.check) {
        return failures == 0 ? 0 : 1;
    }
    bool ok = true;
    if (failures != 0) {
        std::fprintf(stderr, "%ld exchanges failed against devices that always answer\n", failures);
        ok = false;
    }
    if (end.descriptors != start.descriptors || end.threads != start.threads) {
        std::fprintf(stderr, "descriptors or threads changed\n");
        ok = false;
    }
    if (kMemoryIsMeaningful && grownKiB > options.memoryAllowanceKiB) {
        std::fprintf(stderr, "resident memory grew by %ld KiB, more than the %ld allowed\n",
                     grownKiB, options.memoryAllowanceKiB);
        ok = false;
    }
    return ok ? 0 : 1;
}
