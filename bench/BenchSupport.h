#pragma once

// What the benchmarks share: clocks, order statistics and options. Every benchmark prints its
// details for people and one name=value line per figure, which scripts/bench gathers.

#include <time.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A CPU clock (the process's, a thread's) in milliseconds; nothing when it cannot be read.
inline std::optional<double> CpuMs(clockid_t clock) {
    timespec ts{};
    if (::clock_gettime(clock, &ts) != 0) {
        return std::nullopt;
    }
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// A CPU clock in microseconds, by default the calling thread's; 0 when it cannot be read.
inline double ThreadCpuUs(clockid_t clock = CLOCK_THREAD_CPUTIME_ID) {
    timespec ts{};
    if (::clock_gettime(clock, &ts) != 0) {
        return 0;
    }
    return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) / 1e3;
}

// What a piece of work cost: the calling thread's CPU time and the wall time, in microseconds.
struct Span {
    double cpuUs = 0;
    double wallUs = 0;

    Span& operator+=(const Span& other) {
        cpuUs += other.cpuUs;
        wallUs += other.wallUs;
        return *this;
    }
};

template <typename Fn>
Span Time(Fn&& fn) {
    const auto start = Clock::now();
    const double cpuStart = ThreadCpuUs();
    fn();
    return {ThreadCpuUs() - cpuStart,
            std::chrono::duration<double, std::micro>(Clock::now() - start).count()};
}

inline double Median(std::vector<double> values) {
    if (values.empty()) {
        return kNaN;
    }
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Nearest rank: the smallest value that at least percent of all values do not exceed.
inline double Percentile(std::vector<double> values, int percent) {
    if (values.empty()) {
        return kNaN;
    }
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    const size_t rank = std::max<size_t>(1, (n * static_cast<size_t>(percent) + 99) / 100);
    return values[std::min(rank, n) - 1];
}

// a / b, or NaN when either is missing or b is not positive: a ratio that cannot be computed
// is printed as nan rather than as a flattering 0.
inline double Ratio(double a, double b) {
    return std::isfinite(a) && std::isfinite(b) && b > 0 ? a / b : kNaN;
}

// A figure in KiB from /proc/self/status: "VmRSS" now, "VmHWM" at the peak.
inline double StatusKiB(const char* field) {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) {
        return 0;
    }
    char line[256];
    const std::size_t length = std::strlen(field);
    long kib = 0;
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::strncmp(line, field, length) == 0 && line[length] == ':' &&
            std::sscanf(line + length + 1, "%ld", &kib) == 1) {
            break;
        }
    }
    std::fclose(status);
    return static_cast<double>(kib);
}

// "--name N" or "--name=N" at argv[i]: true when it matched (i then points at its last word);
// value is set when the number parses and lies in [low, high], else ok turns false.
inline bool IntOption(int argc, char** argv, int& i, std::string_view name, int low, int high,
                      int& value, bool& ok) {
    const std::string_view arg = argv[i];
    std::string_view text;
    if (arg == name && i + 1 < argc) {
        text = argv[++i];
    } else if (arg.size() > name.size() && arg.starts_with(name) && arg[name.size()] == '=') {
        text = arg.substr(name.size() + 1);
    } else {
        return false;
    }
    int parsed = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, parsed);
    if (ec != std::errc() || ptr != end || parsed < low || parsed > high) {
        ok = false;
    } else {
        value = parsed;
    }
    return true;
}

}  // namespace bench
