// Whether the console keeps up with an instrument that streams at 115200 baud. At 8N1 a byte
// takes ten bit times on the wire, so such a device sends at most 11,520 bytes a second. The port
// hands the window one echo record per read; at that speed its thread wakes for nearly every
// byte, so most records carry one. The window files each record's bytes in the line buffer of
// its port and writes the lines that carriage returns complete to the terminal log.
//
// Capacity: a mix of lines of 20 to 80 bytes (one in eight carrying binary bytes that the log
// shows escaped, one in four followed by a line feed) goes through the window's receive path as
// fast as its thread can take it. The bytes become records, one byte each (the worst case, and
// what a line at 115200 baud makes) and then 256 bytes each (a port read in full, as from a
// faster device), posted to a receiver that does with them what the console window does (the
// line buffers of CTrafficEcho, then an append to a shown CTerminalLogCtrl), and the Qt event
// loop delivers the records and paints the log. The log starts nearly full, so the run includes
// dropping its oldest lines. The baseline, in blocks that alternate with the log's over the same
// bytes, is the line buffers alone, without the window; between the two, the one-byte records go
// through the event loop to the line buffers but nothing is logged, which tells the cost of a
// record from that of the log. Times are the thread's CPU time; wall clock is printed beside
// them.
//
// End to end: a simulated device sends the same kind of stream at 115200 baud over a
// pseudo-terminal to a CSerialPort, whose monitoring thread posts a record per read to the same
// receiver. Every line must arrive, unchanged and in order, with nothing dropped; the largest
// number of records waiting in the event queue shows whether the window fell behind.

#include <pthread.h>
#include <stdlib.h>

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QObject>
#include <QScrollBar>
#include <QString>
#include <QTextDocument>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "bench/BenchSupport.h"
#include "bench/TemporaryPortDirectory.h"
#include "console/TerminalLogCtrl.h"
#include "serial/SerialEcho.h"
#include "serial/SerialEchoSink.h"
#include "serial/SerialPort.h"
#include "serial/TrafficEcho.h"
#include "sim/SimulatedDevice.h"

namespace {

using bench::Clock;
using bench::Median;
using bench::Span;
using bench::StatusKiB;
using bench::ThreadCpuUs;
using bench::Time;

constexpr int kBaud = 115200;
// Start bit, eight data bits, stop bit.
constexpr double kLineRateBytesPerSecond = kBaud / 10.0;
// Above every default port mapping, so a missing entry can never reach a real device.
constexpr int kInstrumentPort = 201;
constexpr int kControllerPort = 202;
constexpr std::size_t kBlockBytes = std::size_t{64} * 1024;
constexpr int kBlocks = 16;
// Bytes posted before the event loop runs again: about a line's worth, so that the log is laid
// out and painted about as often as lines arrive.
constexpr std::size_t kPostBurst = 64;
// How far short of its limit the log starts: the oldest lines go after about this many appends.
constexpr int kLinesBeforeLimit = 2000;
constexpr int kWidth = 800;
constexpr int kHeight = 400;
constexpr int kDefaultSeconds = 5;
constexpr std::uint32_t kCapacitySeed = 1;
constexpr std::uint32_t kEndToEndSeed = 2;

// Lines of 20 to 80 bytes with their carriage return. One in eight carries up to three binary
// bytes (a raw reading, a check byte), never a carriage return among them; one in four is
// followed by a line feed, as from a device that ends its lines CR LF. The stream ends with a
// carriage return, so that every byte of it is part of a logged line.
std::string MakeStream(std::size_t size, std::uint32_t seed) {
    std::mt19937 random(seed);
    const auto uniform = [&random](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    std::string stream;
    stream.reserve(size + 128);
    while (stream.size() < size) {
        const std::size_t start = stream.size();
        const int length = uniform(20, 80);
        for (int i = 1; i < length; ++i) {
            stream += static_cast<char>(uniform(0x20, 0x7E));
        }
        if (uniform(0, 7) == 0) {
            for (int n = uniform(1, 3); n > 0; --n) {
                int byte = 0;
                do {
                    byte = uniform(0, 0xFF);
                } while ((byte >= 0x20 && byte <= 0x7E) || byte == '\r');
                stream[start + static_cast<std::size_t>(uniform(0, length - 2))] =
                    static_cast<char>(byte);
            }
        }
        stream += '\r';
        if (uniform(0, 3) == 0 && stream.size() < size) {
            stream += '\n';
        }
    }
    return stream;
}

// The bytes of a port read, in full.
constexpr std::size_t kFullRead = 256;

// The record a port hands its owner for one read.
std::unique_ptr<SerialEcho> Received(std::string_view bytes) {
    auto echo = std::make_unique<SerialEcho>();
    echo->PortNumber = kInstrumentPort;
    echo->Text.assign(bytes);
    echo->Length = static_cast<int32_t>(bytes.size());
    echo->Received = 1;
    return echo;
}

// The logged text in order, as a digest (FNV-1a) and a count of lines, to compare two paths by.
// However the text was cut into pieces, the same text gives the same digest. The streams here
// have carriage returns only at the ends of their lines, so each line ends in "[0x0D]" and a
// break.
struct LineDigest {
    std::uint64_t lines = 0;
    std::uint64_t hash = 14695981039346656037ULL;

    void Add(std::string_view text) {
        for (std::size_t at = text.find("[0x0D]\n"); at != std::string_view::npos;
             at = text.find("[0x0D]\n", at + 1)) {
            ++lines;
        }
        for (const char c : text) {
            hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
        }
    }
    bool operator==(const LineDigest&) const = default;
};

class EchoEvent : public QEvent {
public:
    explicit EchoEvent(std::unique_ptr<SerialEcho> echo) : QEvent(Kind()), Echo(std::move(echo)) {}
    static QEvent::Type Kind() {
        static const auto kind = static_cast<QEvent::Type>(QEvent::registerEventType());
        return kind;
    }
    std::unique_ptr<SerialEcho> Echo;
};

// Does with a received record what the console window does: posted by the port's thread, taken
// on the window's, filed in the line buffer of its port; a completed line goes to the log in the
// received colour. Without a log, lines are only counted.
class Receiver : public QObject, public ISerialEchoSink {
public:
    explicit Receiver(CTerminalLogCtrl* log) : log_(log) {}

    void PostSerialEcho(std::unique_ptr<SerialEcho> echo) override {
        posted_.fetch_add(1, std::memory_order_relaxed);
        QCoreApplication::postEvent(this, new EchoEvent(std::move(echo)));
    }

    // Delivers whatever is still queued.
    void Drain() {
        while (handled_ < posted_.load(std::memory_order_relaxed)) {
            QCoreApplication::sendPostedEvents(this, EchoEvent::Kind());
        }
    }

    // Quits loop once this many lines have been logged in all.
    void QuitAt(QEventLoop* loop, std::uint64_t lines) {
        loop_ = loop;
        quitAtLines_ = lines;
    }

    CTerminalLogCtrl* Log() const { return log_; }
    const LineDigest& Digest() const { return digest_; }
    std::int64_t Dropped() const { return dropped_; }
    std::uint64_t MostWaiting() const { return mostWaiting_; }
    void ResetMostWaiting() { mostWaiting_ = 0; }

protected:
    void customEvent(QEvent* event) override {
        if (event->type() != EchoEvent::Kind()) {
            return;
        }
        // Records waiting, this one included, as the window starts on it.
        mostWaiting_ = std::max(mostWaiting_, posted_.load(std::memory_order_relaxed) - handled_);
        ++handled_;
        const SerialEcho& echo = *static_cast<EchoEvent*>(event)->Echo;
        dropped_ += echo.Dropped;
        for (const TrafficText& piece :
             traffic_.Received(echo, true, kInstrumentPort, kControllerPort)) {
            if (log_ != nullptr) {
                log_->AppendLog(QString::fromLatin1(piece.Text), piece.Code);
            }
            AddLines(piece.Text);
        }
    }

private:
    void AddLines(std::string_view text) {
        digest_.Add(text);
        if (loop_ != nullptr && digest_.lines >= quitAtLines_) {
            loop_->quit();
        }
    }

    CTerminalLogCtrl* log_;
    CTrafficEcho traffic_;
    LineDigest digest_;
    std::int64_t dropped_ = 0;
    std::atomic<std::uint64_t> posted_{0};
    std::uint64_t handled_ = 0;
    std::uint64_t mostWaiting_ = 0;
    QEventLoop* loop_ = nullptr;
    std::uint64_t quitAtLines_ = 0;
};

double BytesPerSecond(std::size_t bytes, double us) {
    return us > 0 ? static_cast<double>(bytes) * 1e6 / us : 0;
}

// Fills the log to a little short of its limit, the way a long session leaves it.
void FillLog(CTerminalLogCtrl& log) {
    const int target = log.MaximumLines() - kLinesBeforeLimit;
    for (int i = 0; log.document()->blockCount() < target; ++i) {
        log.AppendLog(QString("COM%1 << earlier line %2[0x0D]\n").arg(kInstrumentPort).arg(i),
                      kLogReceived);
        if (i % 100 == 99) {
            QCoreApplication::processEvents();
        }
    }
    QCoreApplication::processEvents();
}

// Posts a block's bytes as the port's thread would, a record per read of readSize bytes, letting
// the event loop run between bursts, and returns once every record has been handled.
void PostBlock(Receiver& receiver, std::string_view block, std::size_t readSize) {
    std::size_t sinceEvents = 0;
    for (std::size_t at = 0; at < block.size(); at += readSize) {
        const std::string_view read = block.substr(at, readSize);
        receiver.PostSerialEcho(Received(read));
        sinceEvents += read.size();
        if (sinceEvents >= kPostBurst) {
            sinceEvents = 0;
            QCoreApplication::processEvents();
        }
    }
    receiver.Drain();
    QCoreApplication::processEvents();
}

// The window's path against the line buffers alone and against the event loop without the log,
// over the same bytes in alternating blocks. False when the paths logged different lines.
bool MeasureCapacity(Receiver& receiver) {
    const std::string stream = MakeStream(kBlockBytes * kBlocks, kCapacitySeed);
    const std::size_t blockBytes = (stream.size() + kBlocks - 1) / kBlocks;
    CTrafficEcho alone;
    LineDigest aloneDigest;
    Receiver eventsOnly(nullptr);
    // Into the same log, with line buffers of its own.
    Receiver fullReads(receiver.Log());
    std::vector<double> logRates;
    Span baselineTotal;
    Span eventsTotal;
    Span logTotal;
    Span fullReadsTotal;
    std::printf("%-6s %8s %18s %18s %18s %20s\n", "block", "bytes", "baseline_bytes_s",
                "events_bytes_s", "log_bytes_s", "log_256_reads_bytes_s");
    for (int b = 0; b < kBlocks; ++b) {
        const std::size_t from = std::min(stream.size(), b * blockBytes);
        const std::string_view block =
            std::string_view(stream).substr(from, std::min(blockBytes, stream.size() - from));
        const Span baseline = Time([&] {
            for (std::size_t at = 0; at < block.size(); ++at) {
                const auto echo = Received(block.substr(at, 1));
                for (const TrafficText& piece :
                     alone.Received(*echo, true, kInstrumentPort, kControllerPort)) {
                    aloneDigest.Add(piece.Text);
                }
            }
        });
        const Span events = Time([&] { PostBlock(eventsOnly, block, 1); });
        const Span window = Time([&] { PostBlock(receiver, block, 1); });
        const Span windowFullReads = Time([&] { PostBlock(fullReads, block, kFullRead); });
        logRates.push_back(BytesPerSecond(block.size(), window.cpuUs));
        baselineTotal += baseline;
        eventsTotal += events;
        logTotal += window;
        fullReadsTotal += windowFullReads;
        std::printf("%-6d %8zu %18.0f %18.0f %18.0f %20.0f\n", b, block.size(),
                    BytesPerSecond(block.size(), baseline.cpuUs),
                    BytesPerSecond(block.size(), events.cpuUs), logRates.back(),
                    BytesPerSecond(block.size(), windowFullReads.cpuUs));
    }

    const double capacity = BytesPerSecond(stream.size(), logTotal.cpuUs);
    const double capacityWall = BytesPerSecond(stream.size(), logTotal.wallUs);
    const double baseline = BytesPerSecond(stream.size(), baselineTotal.cpuUs);
    std::printf("\nbytes=%zu lines=%llu\n", stream.size(),
                static_cast<unsigned long long>(aloneDigest.lines));
    std::printf("baseline_bytes_per_second=%.0f wall=%.0f\n", baseline,
                BytesPerSecond(stream.size(), baselineTotal.wallUs));
    std::printf("events_bytes_per_second=%.0f wall=%.0f\n",
                BytesPerSecond(stream.size(), eventsTotal.cpuUs),
                BytesPerSecond(stream.size(), eventsTotal.wallUs));
    std::printf("log_bytes_per_second=%.0f wall=%.0f\n", capacity, capacityWall);
    std::printf("log_median_block_bytes_per_second=%.0f\n", Median(logRates));
    // How many devices at 115200 baud the window's thread could take, and what the log costs on
    // top of the line buffers alone.
    std::printf("log_vs_115200_baud_ratio=%.1f wall=%.1f\n", capacity / kLineRateBytesPerSecond,
                capacityWall / kLineRateBytesPerSecond);
    // The same with whole reads: what a record costs beside the log's work.
    std::printf("log_256_byte_reads_bytes_per_second=%.0f wall=%.0f\n",
                BytesPerSecond(stream.size(), fullReadsTotal.cpuUs),
                BytesPerSecond(stream.size(), fullReadsTotal.wallUs));
    std::printf("log_vs_baseline_time_ratio=%.1f\n", logTotal.cpuUs / baselineTotal.cpuUs);
    std::printf("log_vs_events_time_ratio=%.2f\n", logTotal.cpuUs / eventsTotal.cpuUs);

    const bool same = receiver.Digest() == aloneDigest && eventsOnly.Digest() == aloneDigest &&
                      fullReads.Digest() == aloneDigest;
    if (!same) {
        std::fprintf(stderr, "capacity: the log got %llu lines, the line buffers alone %llu\n",
                     static_cast<unsigned long long>(receiver.Digest().lines),
                     static_cast<unsigned long long>(aloneDigest.lines));
    }
    return same;
}

// A device that says nothing unless told to: the benchmark injects its stream.
class StreamingDevice : public sim::CSimulatedDevice {
public:
    using CSimulatedDevice::CSimulatedDevice;
    ~StreamingDevice() override { Stop(); }

protected:
    void OnReceive(uint8_t) override {}
};

// A paced stream from a simulated device through a real port into the window's path. False when
// a line was lost or changed, or the stream did not finish in time.
bool MeasureEndToEnd(Receiver& receiver, int seconds) {
    TemporaryPortDirectory directory;
    if (!directory.Valid()) {
        std::fprintf(stderr, "end to end: cannot create a port directory\n");
        return false;
    }
    ::setenv("PRAVIK_PORT_DIR", directory.Path().c_str(), 1);
    StreamingDevice device(kInstrumentPort, directory.Path());
    if (!device.Start()) {
        std::fprintf(stderr, "end to end: cannot start the simulated device\n");
        return false;
    }
    device.SetPacing(sim::CSimulatedDevice::Pacing::PortBaud);

    CSerialPort port;
    port.Settings.PortNumber = kInstrumentPort;
    port.Settings.BaudRate = kBaud;
    if (!port.Open(kInstrumentPort, kBaud, 0, 8, 0)) {
        std::fprintf(stderr, "end to end: %s\n", port.LastFailure().Text.c_str());
        return false;
    }
    port.OwnerWindow = &receiver;
    if (!port.StartMonitor()) {
        std::fprintf(stderr, "end to end: the port's monitoring thread did not start\n");
        return false;
    }
    clockid_t monitorClock{};
    const bool haveMonitorClock =
        ::pthread_getcpuclockid(port.MonitorThread.native_handle(), &monitorClock) == 0;

    const std::string stream =
        MakeStream(static_cast<std::size_t>(seconds * kLineRateBytesPerSecond), kEndToEndSeed);
    LineDigest expected = receiver.Digest();
    {
        CTrafficEcho alone;
        for (const TrafficText& piece :
             alone.Received(*Received(stream), true, kInstrumentPort, kControllerPort)) {
            expected.Add(piece.Text);
        }
    }

    QEventLoop loop;
    receiver.QuitAt(&loop, expected.lines);
    receiver.ResetMostWaiting();
    bool timedOut = false;
    // A stream that should take seconds is given twice that and ten seconds more.
    QTimer::singleShot(std::chrono::seconds(2 * seconds + 10), &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    const double processBefore = ThreadCpuUs(CLOCK_PROCESS_CPUTIME_ID);
    const double monitorBefore = haveMonitorClock ? ThreadCpuUs(monitorClock) : 0;
    const Span span = Time([&] {
        device.Inject(stream);
        loop.exec();
    });
    const double monitorUs = haveMonitorClock ? ThreadCpuUs(monitorClock) - monitorBefore : 0;
    const double processUs = ThreadCpuUs(CLOCK_PROCESS_CPUTIME_ID) - processBefore;
    receiver.QuitAt(nullptr, 0);
    port.OwnerWindow = nullptr;
    port.Close();

    const double rate = BytesPerSecond(stream.size(), span.wallUs);
    std::printf("\nend_to_end_bytes=%zu lines=%llu seconds=%.2f\n", stream.size(),
                static_cast<unsigned long long>(expected.lines), span.wallUs / 1e6);
    std::printf("end_to_end_bytes_per_second=%.0f vs_115200_baud_ratio=%.2f\n", rate,
                rate / kLineRateBytesPerSecond);
    // Busy fractions of the wall time: the window's thread, the port's monitoring thread, and
    // the whole process (the simulated device's own thread included).
    std::printf("window_thread_busy=%.3f monitor_thread_busy=%.3f process_busy=%.3f\n",
                span.cpuUs / span.wallUs, monitorUs / span.wallUs, processUs / span.wallUs);
    std::printf("most_records_waiting=%llu\n",
                static_cast<unsigned long long>(receiver.MostWaiting()));

    std::printf("end_to_end_bytes_dropped=%lld\n", static_cast<long long>(receiver.Dropped()));
    const bool complete = !timedOut && receiver.Dropped() == 0 && receiver.Digest() == expected;
    std::printf("end_to_end_lines_intact=%s\n", complete ? "yes" : "no");
    return complete;
}

std::optional<int> ParseSeconds(int argc, char** argv) {
    int seconds = kDefaultSeconds;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        std::string_view value;
        if (arg == "--seconds" && i + 1 < argc) {
            value = argv[++i];
        } else if (arg.starts_with("--seconds=")) {
            value = arg.substr(arg.find('=') + 1);
        } else {
            return std::nullopt;
        }
        const char* end = value.data() + value.size();
        const auto [ptr, ec] = std::from_chars(value.data(), end, seconds);
        if (ec != std::errc() || ptr != end || seconds < 0 || seconds > 3600) {
            return std::nullopt;
        }
    }
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<int> seconds = ParseSeconds(argc, argv);
    if (!seconds) {
        std::fprintf(stderr,
                     "usage: %s [--seconds N]   (end-to-end stream length, 0 to skip; default "
                     "%d)\n",
                     argv[0], kDefaultSeconds);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);

    CTerminalLogCtrl log;
    log.resize(kWidth, kHeight);
    log.show();
    QCoreApplication::processEvents();
    FillLog(log);
    Receiver receiver(&log);

    std::printf("bench_rx_log: received bytes through the window's echo path into a shown %dx%d\n",
                kWidth, kHeight);
    std::printf("terminal log of %d lines (limit %d); 115200 baud 8N1 is %.0f bytes/s\n\n",
                log.document()->blockCount(), log.MaximumLines(), kLineRateBytesPerSecond);
    bool ok = MeasureCapacity(receiver);
    if (*seconds > 0) {
        ok = MeasureEndToEnd(receiver, *seconds) && ok;
    }

    const QScrollBar* bar = log.verticalScrollBar();
    QCoreApplication::processEvents();
    std::printf("\nlog_blocks=%d limit=%d at_end=%s peak_rss_mib=%.1f\n",
                log.document()->blockCount(), log.MaximumLines(),
                bar->value() == bar->maximum() ? "yes" : "no", StatusKiB("VmHWM") / 1024);
    return ok && log.document()->blockCount() <= log.MaximumLines() ? 0 : 1;
}
