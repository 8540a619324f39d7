// What one append to the terminal log costs at the start of a session and after 100,000 lines,
// where the log is full: an append whose cost grew with the log's length would make a long
// session crawl. The window is shown, at a realistic size, and the event loop runs every hundred
// appends as it would between echo records, so layout, scrolling and painting are all counted.
//
// The baseline is the first thousand appends to a log. The long log's first thousand are timed,
// and so are its last five thousand, in windows of a thousand; before each of those windows a
// fresh log of the same size takes its first thousand. The ratio compares the medians of the two
// interleaved series, so that a neighbour on a shared build machine who starts compiling half-way
// through weighs on both sides alike. Times are the thread's CPU time; wall clock is printed
// beside them.
//
// The very last append passes the log's limit and drops the oldest tenth of it in one step. The
// median leaves that one window out; the slowest single append shows what the step costs, and
// what it adds to each append once spread over the lines it makes room for.

#include <QApplication>
#include <QCoreApplication>
#include <QScrollBar>
#include <QString>
#include <QTextDocument>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <vector>

#include "bench/BenchSupport.h"
#include "console/TerminalLogCtrl.h"

namespace {

using bench::Clock;
using bench::Median;
using bench::Span;
using bench::StatusKiB;
using bench::ThreadCpuUs;

constexpr int kLines = 100000;
constexpr int kWindow = 1000;
constexpr int kTailWindows = 5;
constexpr int kEventsEvery = 100;
constexpr int kProgressEvery = 10000;
constexpr int kWidth = 800;
constexpr int kHeight = 400;

// About forty characters, as a sent or received line of the console looks, in the four colours.
QString LineFor(int i, int& code) {
    code = 1 + i % 4;
    const char* direction = code == 2 ? "<<" : ">>";
    return QString("COM3 %1 #0S[0x01][0xFE] seq %2\n")
        .arg(QLatin1String(direction))
        .arg(i, 8, 10, QLatin1Char('0'));
}

// Appends lines [from, to) and returns the time per append, events included. slowestUs, when
// given, is raised to the wall time of the slowest single append (the thread's CPU clock costs a
// system call each time it is read, which would weigh on the figures of the window itself).
Span AppendRange(CTerminalLogCtrl& log, int from, int to, double* slowestUs = nullptr) {
    const auto start = Clock::now();
    const double cpuStart = ThreadCpuUs();
    for (int i = from; i < to; ++i) {
        int code = 0;
        const QString line = LineFor(i, code);
        const auto before = Clock::now();
        log.AppendLog(line, code);
        if (slowestUs != nullptr) {
            *slowestUs =
                std::max(*slowestUs,
                         std::chrono::duration<double, std::micro>(Clock::now() - before).count());
        }
        if ((i + 1) % kEventsEvery == 0) {
            QCoreApplication::processEvents();
        }
    }
    const double count = to - from;
    return {(ThreadCpuUs() - cpuStart) / count,
            std::chrono::duration<double, std::micro>(Clock::now() - start).count() / count};
}

void Show(CTerminalLogCtrl& log) {
    log.resize(kWidth, kHeight);
    log.show();
    QCoreApplication::processEvents();
}

// The first thousand appends to a log of its own, which is gone afterwards.
Span FreshHead() {
    CTerminalLogCtrl fresh;
    Show(fresh);
    return AppendRange(fresh, 0, kWindow);
}

void PrintRow(const char* what, int from, const Span& span) {
    std::printf("%-10s %10d %14.2f %14.2f\n", what, from, span.cpuUs, span.wallUs);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);

    std::printf("bench_log: %d appends of ~40 characters to a shown %dx%d terminal log,\n", kLines,
                kWidth, kHeight);
    std::printf("events processed every %d appends; microseconds per append\n\n", kEventsEvery);
    std::printf("%-10s %10s %14s %14s\n", "log", "from_line", "cpu_us", "wall_us");

    CTerminalLogCtrl log;
    Show(log);
    const double emptyKiB = StatusKiB("VmRSS");
    const Span first = AppendRange(log, 0, kWindow);
    PrintRow("long", 0, first);
    int done = kWindow;
    const int tailStart = kLines - kTailWindows * kWindow;
    while (done < tailStart) {
        const int next = std::min(tailStart, (done / kProgressEvery + 1) * kProgressEvery);
        const Span span = AppendRange(log, done, next);
        PrintRow("long", done, span);
        done = next;
    }

    // What the lines cost in memory, before any fresh log comes and goes.
    const double kibPerLine = (StatusKiB("VmRSS") - emptyKiB) / tailStart;

    std::vector<double> headCpu;
    std::vector<double> headWall;
    std::vector<double> tailCpu;
    std::vector<double> tailWall;
    Span last;
    double slowestUs = 0;
    for (int w = 0; w < kTailWindows; ++w) {
        const Span head = FreshHead();
        PrintRow("fresh", 0, head);
        last = AppendRange(log, done, done + kWindow, &slowestUs);
        PrintRow("long", done, last);
        done += kWindow;
        headCpu.push_back(head.cpuUs);
        headWall.push_back(head.wallUs);
        tailCpu.push_back(last.cpuUs);
        tailWall.push_back(last.wallUs);
    }

    // The log must have stayed within its limit and followed the end all the way.
    const int blocks = log.document()->blockCount();
    const QScrollBar* bar = log.verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    const int limit = log.MaximumLines();
    std::printf("\nblocks=%d limit=%d at_end=%s peak_rss_mib=%.1f kib_per_line=%.2f\n", blocks,
                limit, atEnd ? "yes" : "no", StatusKiB("VmHWM") / 1024, kibPerLine);
    std::printf("first_1000_cpu_us_per_append=%.2f wall=%.2f\n", first.cpuUs, first.wallUs);
    std::printf("last_1000_cpu_us_per_append=%.2f wall=%.2f\n", last.cpuUs, last.wallUs);
    std::printf("last_vs_first_ratio=%.2f\n", last.cpuUs / first.cpuUs);
    std::printf("fresh_head_median_cpu_us_per_append=%.2f wall=%.2f\n", Median(headCpu),
                Median(headWall));
    std::printf("tail_median_cpu_us_per_append=%.2f wall=%.2f\n", Median(tailCpu),
                Median(tailWall));
    std::printf("log_tail_vs_head_wall_ratio=%.2f\n", Median(tailWall) / Median(headWall));
    // The step that drops the oldest lines, alone and spread over the appends it makes room for.
    const int dropped = limit / 10;
    std::printf("slowest_tail_append_wall_us=%.0f spread_over_%d_lines=%.2f\n", slowestUs, dropped,
                slowestUs / dropped);
    const double headMedian = Median(headCpu);
    const double ratio =
        headMedian > 0 ? Median(tailCpu) / headMedian : std::numeric_limits<double>::quiet_NaN();
    std::printf("log_tail_vs_head_ratio=%.2f\n", ratio);
    return blocks <= limit && atEnd ? 0 : 1;
}
