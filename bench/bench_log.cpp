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
//
// All of it runs twice: with lines as they are, and with sent and received lines made by the
// traffic echo with the time of day in front of each (the View menu's choice), so that a time's
// cost, formatting included, is counted.
//
// Last, the log is filled to its cap (it keeps 50,000 lines, so a full log of a 100,000-line
// session is that many) and saved as HTML and as text through the log's own save, which replaces
// the file only with a complete one and flushes it to disk. The baseline writes the same bytes
// with a plain write() loop; the same loop with an fsync() at the end is printed beside it.

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QScrollBar>
#include <QString>
#include <QTemporaryDir>
#include <QTextDocument>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "console/TerminalLogCtrl.h"
#include "serial/TrafficEcho.h"

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
constexpr int kSaveRuns = 5;

// Makes the line to append next: its text and colour.
using LineMaker = QString (*)(int i, int& code);

// About forty characters, as a sent or received line of the console looks, in the four colours.
QString LineFor(int i, int& code) {
    code = 1 + i % 4;
    const char* direction = code == 2 ? "<<" : ">>";
    return QString("COM3 %1 #0S[0x01][0xFE] seq %2\n")
        .arg(QLatin1String(direction))
        .arg(i, 8, 10, QLatin1Char('0'));
}

// The same kind of line as the traffic echo makes it with the time of day in front: sent and
// received by turns, each record stamped as a port stamps it.
QString TimedLineFor(int i, int& code) {
    static CTrafficEcho echo;
    echo.SetTimes(LineTimes::TimeOfDay);
    char bytes[40];
    const int length =
        std::snprintf(bytes, sizeof bytes, "PING\x01\xFE seq %08d%s", i, i % 2 == 1 ? "\r" : "");
    SerialEcho record;
    record.PortNumber = 3;
    record.Text.assign(bytes, static_cast<std::size_t>(length));
    record.Length = length;
    record.Received = i % 2;
    record.Time = EchoTime::Now();
    const std::vector<TrafficText> pieces = echo.Take(record, true, 3, 4);
    code = pieces.front().Code;
    return QString::fromLatin1(pieces.front().Text);
}

// Appends lines [from, to) and returns the time per append, events included. slowestUs, when
// given, is raised to the wall time of the slowest single append (the thread's CPU clock costs a
// system call each time it is read, which would weigh on the figures of the window itself).
Span AppendRange(CTerminalLogCtrl& log, LineMaker lineFor, int from, int to,
                 double* slowestUs = nullptr) {
    const auto start = Clock::now();
    const double cpuStart = ThreadCpuUs();
    for (int i = from; i < to; ++i) {
        int code = 0;
        const QString line = lineFor(i, code);
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
Span FreshHead(LineMaker lineFor) {
    CTerminalLogCtrl fresh;
    Show(fresh);
    return AppendRange(fresh, lineFor, 0, kWindow);
}

void PrintRow(const char* what, int from, const Span& span) {
    std::printf("%-10s %10d %14.2f %14.2f\n", what, from, span.cpuUs, span.wallUs);
}

double Ms(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

// Milliseconds to write bytes to path with a plain write() loop, and with an fsync() after it.
double WriteLoopMs(const std::string& path, const QByteArray& bytes, bool sync) {
    const auto start = Clock::now();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return bench::kNaN;
    }
    const auto size = static_cast<std::size_t>(bytes.size());
    std::size_t done = 0;
    while (done < size) {
        const ssize_t wrote = ::write(fd, bytes.constData() + done, size - done);
        if (wrote <= 0) {
            ::close(fd);
            return bench::kNaN;
        }
        done += static_cast<std::size_t>(wrote);
    }
    if (sync) {
        ::fsync(fd);
    }
    ::close(fd);
    return Ms(Clock::now() - start);
}

struct SaveFigures {
    double saveMs;
    double exportMs;
    double writeMs;
    double writeSyncMs;
    std::size_t bytes;
};

// Medians of kSaveRuns saves of log in format, and of the same bytes written plainly.
SaveFigures MeasureSave(const CTerminalLogCtrl& log, CTerminalLogCtrl::FileFormat format,
                        const QTemporaryDir& folder) {
    const QString path = folder.filePath("saved");
    const std::string plain = folder.filePath("plain").toStdString();
    std::vector<double> save;
    std::vector<double> exported;
    std::vector<double> write;
    std::vector<double> writeSync;
    std::size_t bytes = 0;
    for (int run = 0; run < kSaveRuns; ++run) {
        auto start = Clock::now();
        if (!log.SaveTo(path, format).isEmpty()) {
            return {bench::kNaN, bench::kNaN, bench::kNaN, bench::kNaN, 0};
        }
        save.push_back(Ms(Clock::now() - start));
        start = Clock::now();
        const QByteArray contents = log.Export(format);
        exported.push_back(Ms(Clock::now() - start));
        bytes = static_cast<std::size_t>(contents.size());
        write.push_back(WriteLoopMs(plain, contents, false));
        writeSync.push_back(WriteLoopMs(plain, contents, true));
    }
    return {Median(save), Median(exported), Median(write), Median(writeSync), bytes};
}

struct LongRun {
    bool ok;
    double ratio;
    double headMedian;
    double tailMedian;
};

// The whole measurement of appends, for lines made by lineFor; the long log is left in log.
LongRun MeasureAppends(CTerminalLogCtrl& log, LineMaker lineFor, const char* suffix) {
    std::printf("%-10s %10s %14s %14s\n", "log", "from_line", "cpu_us", "wall_us");
    Show(log);
    const double emptyKiB = StatusKiB("VmRSS");
    const Span first = AppendRange(log, lineFor, 0, kWindow);
    PrintRow("long", 0, first);
    int done = kWindow;
    const int tailStart = kLines - kTailWindows * kWindow;
    while (done < tailStart) {
        const int next = std::min(tailStart, (done / kProgressEvery + 1) * kProgressEvery);
        const Span span = AppendRange(log, lineFor, done, next);
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
        const Span head = FreshHead(lineFor);
        PrintRow("fresh", 0, head);
        last = AppendRange(log, lineFor, done, done + kWindow, &slowestUs);
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
    std::printf("\nblocks%s=%d limit=%d at_end=%s peak_rss_mib=%.1f kib_per_line=%.2f\n", suffix,
                blocks, limit, atEnd ? "yes" : "no", StatusKiB("VmHWM") / 1024, kibPerLine);
    std::printf("first_1000_cpu_us_per_append%s=%.2f wall=%.2f\n", suffix, first.cpuUs,
                first.wallUs);
    std::printf("last_1000_cpu_us_per_append%s=%.2f wall=%.2f\n", suffix, last.cpuUs, last.wallUs);
    std::printf("last_vs_first_ratio%s=%.2f\n", suffix, last.cpuUs / first.cpuUs);
    std::printf("fresh_head_median_cpu_us_per_append%s=%.2f wall=%.2f\n", suffix, Median(headCpu),
                Median(headWall));
    std::printf("tail_median_cpu_us_per_append%s=%.2f wall=%.2f\n", suffix, Median(tailCpu),
                Median(tailWall));
    std::printf("log_tail_vs_head_wall_ratio%s=%.2f\n", suffix,
                Median(tailWall) / Median(headWall));
    // The step that drops the oldest lines, alone and spread over the appends it makes room for.
    const int dropped = limit / 10;
    std::printf("slowest_tail_append_wall_us%s=%.0f spread_over_%d_lines=%.2f\n", suffix, slowestUs,
                dropped, slowestUs / dropped);
    const double headMedian = Median(headCpu);
    const double ratio =
        headMedian > 0 ? Median(tailCpu) / headMedian : std::numeric_limits<double>::quiet_NaN();
    std::printf("log_tail_vs_head_ratio%s=%.2f\n\n", suffix, ratio);
    return {blocks <= limit && atEnd, ratio, headMedian, Median(tailCpu)};
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
    std::printf("Lines as they are:\n");
    auto log = std::make_unique<CTerminalLogCtrl>();
    bool ok = MeasureAppends(*log, LineFor, "").ok;

    // A full log: one that has reached its cap.
    int next = kLines;
    while (log->document()->blockCount() < log->MaximumLines()) {
        int code = 0;
        log->AppendLog(LineFor(next++, code), code);
    }
    QCoreApplication::processEvents();
    const QTemporaryDir folder;
    const SaveFigures html = MeasureSave(*log, CTerminalLogCtrl::FileFormat::Html, folder);
    const SaveFigures text = MeasureSave(*log, CTerminalLogCtrl::FileFormat::Text, folder);
    std::printf(
        "Saving the log full at its cap of %d lines (%d lines of the session were "
        "appended; the oldest went at the cap), medians of %d:\n",
        log->document()->blockCount() - 1, next, kSaveRuns);
    std::printf("%-6s %12s %12s %12s %12s %14s\n", "format", "bytes", "save_ms", "export_ms",
                "write_ms", "write_fsync_ms");
    for (const auto& [name, figures] : {std::pair{"html", html}, std::pair{"text", text}}) {
        std::printf("%-6s %12zu %12.2f %12.2f %12.2f %14.2f\n", name, figures.bytes, figures.saveMs,
                    figures.exportMs, figures.writeMs, figures.writeSyncMs);
    }
    const double saveMs = html.saveMs + text.saveMs;
    const double writeMs = html.writeMs + text.writeMs;
    std::printf("log_save_html_ms=%.2f log_save_text_ms=%.2f\n", html.saveMs, text.saveMs);
    std::printf("log_save_ms=%.2f (html and text)\n", saveMs);
    std::printf("log_save_write_ms=%.2f (the same bytes, plain write() loop)\n", writeMs);
    std::printf("log_save_write_fsync_ms=%.2f\n", html.writeSyncMs + text.writeSyncMs);
    std::printf("log_save_vs_write_ratio=%.2f\n", bench::Ratio(saveMs, writeMs));
    std::printf("log_save_vs_write_fsync_ratio=%.2f\n\n",
                bench::Ratio(saveMs, html.writeSyncMs + text.writeSyncMs));
    log.reset();

    std::printf("With the time of day in front of each line:\n");
    CTerminalLogCtrl timed;
    ok = MeasureAppends(timed, TimedLineFor, "_timed").ok && ok;
    return ok && std::isfinite(saveMs) ? 0 : 1;
}
