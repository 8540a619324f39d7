// What a device that floods its port does to the console: a USB device has no baud rate to hold
// it back, and one that sends lines faster than the window can log them must neither fill the
// machine's memory nor freeze the window.
//
// The simulated multi-filter bench runs in pravik-sim, in a process of its own, with its
// SmartMotor on COM3 set to flood: on a signal it sends carriage returns (a line each, the
// costliest traffic for the log) as fast as the pseudo-terminal takes them. In this process the
// real main window is built (offscreen), the instrument and its ports are chosen through the
// window's own controls and Connect is pressed. Then the motor floods for the given time.
//
// Memory: the resident size of this process, sampled every 100 ms during the flood and until
// the window has caught up after it; the figure is its peak above the resident size just
// before the flood (the baseline: the window connected and idle).
//
// Answering: a click is posted to the window every 20 ms (a press and a release on the up
// arrow of the desired-temperature spin, which touches no device), behind whatever the ports
// have queued, as a click from the window system would be; the time until the arrow's handler
// has run is its latency. The figure is the 99th percentile during the flood; the baseline is the
// same measured on the same window, connected and idle, just before.

#include <stdlib.h>

#include <QApplication>
#include <QMouseEvent>
#include <QTextDocument>
#include <QToolButton>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bench/BenchSupport.h"
#include "bench/ConsoleBench.h"
#include "bench/TemporaryPortDirectory.h"
#include "console/MessageBox.h"
#include "console/PravikDlg.h"
#include "console/SpinButtonCtrl.h"
#include "console/TerminalLogCtrl.h"

namespace {

using bench::Clock;
using bench::RunEventsFor;

constexpr int kMotorPort = 3;
constexpr int kControllerPort = 4;
constexpr int kDefaultSeconds = 30;
constexpr auto kBaselineSpan = std::chrono::seconds(5);
constexpr auto kClickInterval = std::chrono::milliseconds(20);
constexpr auto kRssInterval = std::chrono::milliseconds(100);
// After Connect: the echo records of the identification drain and the window settles.
constexpr auto kSettle = std::chrono::milliseconds(500);
// How long the window may take to log what was still waiting when the flood stopped.
constexpr auto kCatchUpLimit = std::chrono::seconds(60);
// A click not answered within this long is counted as lost, and the next one is posted.
constexpr auto kClickLost = std::chrono::seconds(10);

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double RssMiB() {
    return bench::StatusKiB("VmRSS") / 1024;
}

// Clicks the spin's arrows, up and down in turn so that the position stays in its range, one
// click at a time: the next is posted kClickInterval after the last was answered.
class ClickProbe : public QObject {
public:
    explicit ClickProbe(CSpinButtonCtrl* spin)
        : up_(spin->findChild<QToolButton*>("up")), down_(spin->findChild<QToolButton*>("down")) {
        QObject::connect(spin, &CSpinButtonCtrl::Stepped, this, [this] { Answered(); });
        watchdog_.setSingleShot(true);
        QObject::connect(&watchdog_, &QTimer::timeout, this, [this] {
            ++lost_;
            Post();
        });
    }

    bool Valid() const { return up_ != nullptr && down_ != nullptr; }

    // Clicks while the event loop runs for span; the latencies in milliseconds.
    std::vector<double> Run(std::chrono::milliseconds span) {
        latencies_.clear();
        running_ = true;
        Post();
        RunEventsFor(span);
        running_ = false;
        watchdog_.stop();
        // An answer still on its way is not waited for: the window is left as it is.
        return latencies_;
    }

    int Lost() const { return lost_; }

private:
    void Post() {
        QToolButton* arrow = (++clicks_ % 2 != 0) ? up_ : down_;
        const QPointF centre = QRectF(arrow->rect()).center();
        const QPointF global = arrow->mapToGlobal(centre);
        postedAt_ = Clock::now();
        waiting_ = true;
        QCoreApplication::postEvent(
            arrow, new QMouseEvent(QEvent::MouseButtonPress, centre, global, Qt::LeftButton,
                                   Qt::LeftButton, Qt::NoModifier));
        QCoreApplication::postEvent(
            arrow, new QMouseEvent(QEvent::MouseButtonRelease, centre, global, Qt::LeftButton,
                                   Qt::NoButton, Qt::NoModifier));
        watchdog_.start(kClickLost);
    }

    void Answered() {
        if (!waiting_) {
            return;
        }
        waiting_ = false;
        watchdog_.stop();
        latencies_.push_back(Ms(Clock::now() - postedAt_));
        if (running_) {
            QTimer::singleShot(kClickInterval, Qt::PreciseTimer, this, [this] {
                if (running_) {
                    Post();
                }
            });
        }
    }

    QToolButton* up_;
    QToolButton* down_;
    QTimer watchdog_;
    std::vector<double> latencies_;
    Clock::time_point postedAt_;
    bool waiting_ = false;
    bool running_ = false;
    long clicks_ = 0;
    int lost_ = 0;
};

// "COM3: flooded N bytes", as pravik-sim reports it when told to stop.
std::optional<unsigned long long> FloodedBytes(const std::string& simOutput) {
    std::ifstream in(simOutput);
    std::string line;
    std::optional<unsigned long long> bytes;
    while (std::getline(in, line)) {
        unsigned long long n = 0;
        if (std::sscanf(line.c_str(), "COM%*d: flooded %llu bytes", &n) == 1) {
            bytes = n;
        }
    }
    return bytes;
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
    const std::string simOutput = directory.Path() + "/pravik-sim.out";
    bench::Simulator sim;
    if (!sim.Start(simulator,
                   {"--flood", "COM" + std::to_string(kMotorPort),
                    "motor=COM" + std::to_string(kMotorPort),
                    "omega=COM" + std::to_string(kControllerPort)},
                   directory.Path(), {kMotorPort, kControllerPort}, simOutput)) {
        return 2;
    }

    QApplication app(argc, argv);
    std::vector<QString> messages;
    console::SetMessageBoxHandler([&messages](const console::MessageRequest& request) {
        messages.push_back(request.text);
        return QMessageBox::Ok;
    });

    int status = 0;
    {
        CPravikDlg dialog;
        dialog.show();
        RunEventsFor(kSettle);
        if (!bench::ConnectMultiFilter(dialog, kMotorPort, kControllerPort, messages)) {
            return 1;
        }
        RunEventsFor(kSettle);
        auto* spin = dialog.findChild<CSpinButtonCtrl*>("desiredTempSpin");
        auto* log = dialog.findChild<CTerminalLogCtrl*>("terminal");
        if (spin == nullptr || !spin->isEnabled() || log == nullptr) {
            std::fprintf(stderr, "the window has no enabled desiredTempSpin or no terminal\n");
            return 1;
        }
        ClickProbe probe(spin);
        if (!probe.Valid()) {
            std::fprintf(stderr, "the spin has no up and down arrows\n");
            return 1;
        }

        // Baseline: the same window, connected and idle.
        const std::vector<double> idle = probe.Run(kBaselineSpan);
        const double rssBefore = RssMiB();

        double rssPeak = rssBefore;
        QTimer rssSampler;
        QObject::connect(&rssSampler, &QTimer::timeout,
                         [&rssPeak] { rssPeak = std::max(rssPeak, RssMiB()); });
        rssSampler.start(kRssInterval);

        const auto floodStart = Clock::now();
        sim.Signal(SIGUSR1);
        const std::vector<double> flooded = probe.Run(std::chrono::seconds(seconds));
        sim.Signal(SIGUSR2);
        const double floodSeconds = Ms(Clock::now() - floodStart) / 1e3;

        // The window logs what was still waiting for it; the port's backlog then empties.
        const CSerialPort& motorPort = dialog.FilterWheel().Motor;
        const auto catchUpStart = Clock::now();
        while (motorPort.EchoBacklog() > 0 && Clock::now() - catchUpStart < kCatchUpLimit) {
            RunEventsFor(std::chrono::milliseconds(50));
        }
        RunEventsFor(kSettle);
        const double catchUpMs = Ms(Clock::now() - catchUpStart);
        rssSampler.stop();
        rssPeak = std::max(rssPeak, RssMiB());
        const double rssAfter = RssMiB();
        const std::optional<unsigned long long> sent = FloodedBytes(simOutput);

        const QString text = log->document()->toPlainText();
        const auto notices = text.count("received bytes dropped: the device sends faster");
        const double idleP99 = bench::Percentile(idle, 99);
        const double floodP99 = bench::Percentile(flooded, 99);
        const double growth = rssPeak - rssBefore;

        std::printf(
            "bench_flood: the console connected to a simulated multi-filter bench (motor COM%d,\n"
            "Omega COM%d, in pravik-sim); the motor sends carriage returns as fast as the\n"
            "pseudo-terminal takes them for %.1f s, while a click is posted every %lld ms\n\n",
            kMotorPort, kControllerPort, floodSeconds,
            static_cast<long long>(kClickInterval.count()));
        if (sent) {
            std::printf("flooded_bytes=%llu (%.1f MB/s)\n", *sent,
                        static_cast<double>(*sent) / floodSeconds / 1e6);
        } else {
            std::printf("flooded_bytes=unknown (pravik-sim did not say)\n");
        }
        std::printf("log_lines=%d drop_notices_in_log=%lld caught_up_ms=%.0f backlog_left=%lld\n",
                    log->document()->blockCount(), static_cast<long long>(notices), catchUpMs,
                    static_cast<long long>(motorPort.EchoBacklog()));
        std::printf("\n%-34s %10s %10s %10s %10s %8s\n", "clicks", "count", "median_ms", "p99_ms",
                    "max_ms", "lost");
        std::printf("%-34s %10zu %10.2f %10.2f %10.2f\n", "connected, idle (baseline)", idle.size(),
                    bench::Median(idle), idleP99,
                    idle.empty() ? bench::kNaN : *std::max_element(idle.begin(), idle.end()));
        std::printf(
            "%-34s %10zu %10.2f %10.2f %10.2f %8d\n", "during the flood", flooded.size(),
            bench::Median(flooded), floodP99,
            flooded.empty() ? bench::kNaN : *std::max_element(flooded.begin(), flooded.end()),
            probe.Lost());
        std::printf(
            "\nresident memory: before %.1f MiB, peak %.1f MiB, after catching up %.1f MiB\n",
            rssBefore, rssPeak, rssAfter);

        std::printf("\nflood_rss_growth_mib=%.1f\n", growth);
        std::printf("flood_rss_baseline_mib=%.1f\n", rssBefore);
        std::printf("flood_rss_peak_vs_baseline_ratio=%.2f\n", bench::Ratio(rssPeak, rssBefore));
        std::printf("flood_ui_latency_ms=%.2f\n", floodP99);
        std::printf("flood_ui_latency_baseline_ms=%.2f\n", idleP99);
        std::printf("flood_ui_latency_vs_baseline_ratio=%.2f\n", bench::Ratio(floodP99, idleP99));
        std::printf("flood_seconds=%d\n", seconds);

        bench::Click(dialog, "disconnectButton");
        RunEventsFor(std::chrono::milliseconds(100));
        status = messages.empty() && probe.Lost() == 0 && !flooded.empty() ? 0 : 1;
        for (const QString& message : messages) {
            std::fprintf(stderr, "unexpected message box: %s\n", qPrintable(message));
        }
        if (probe.Lost() > 0) {
            std::fprintf(stderr, "%d clicks were not answered within %lld s\n", probe.Lost(),
                         static_cast<long long>(kClickLost.count()));
        }
    }
    console::SetMessageBoxHandler({});
    sim.Stop();
    std::printf("failures=%d\n", status);
    return status;
}
