// How long a full save of an Omega CNi32's settings takes (RunSettingsSave: open the port and
// identify the controller, read the 37 registers one by one, write the file), against the time
// the bytes of the run need on the wire at 9600 baud.
//
// The simulated controller paces both directions as a real line does: a command counts as
// received only when its last byte has come in at the baud rate, and each byte of an answer goes
// out one character time after the one before. So the wire time is a floor no program can go
// under; what the run takes beyond it is the program's (and the simulated device's) doing.
//
// The bytes are counted as they went, not worked out: those written are the echoes of the
// driver's writes (checked against what the controller received), those read the driver's echoes
// of every received byte. At 8N1 a byte takes ten bit times. The gaps between the run's progress
// reports time each register read on its own, against that read's own bytes.

#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "bench/BenchSupport.h"
#include "bench/TemporaryPortDirectory.h"
#include "devices/OmegaTempController.h"
#include "serial/SerialEcho.h"
#include "serial/SerialEchoSink.h"
#include "sim/OmegaControllerSim.h"
#include "tools/omega/RegisterTable.h"
#include "tools/omega/SettingsSaveRun.h"
#include "tools/omega/TempCtrlSettingsFile.h"

namespace {

using bench::Clock;

// Above every default port mapping, so a missing entry can never reach a real /dev/ttyS*.
constexpr int kPort = 204;
constexpr int kBaud = 9600;
// Start bit, eight data bits, stop bit.
constexpr double kBitsPerByte = 10.0;
constexpr int kDefaultRuns = 3;

// Counts the driver's traffic from its echoes. The port posts from its monitoring thread.
class TrafficCounter : public ISerialEchoSink {
public:
    void PostSerialEcho(std::unique_ptr<SerialEcho> echo) override {
        std::lock_guard lock(mutex_);
        if (echo->Received != 0) {
            received_ += static_cast<uint64_t>(echo->Length);
        } else {
            sent_ += static_cast<uint64_t>(echo->Length);
        }
    }
    void Take(uint64_t& sent, uint64_t& received) {
        std::lock_guard lock(mutex_);
        sent = std::exchange(sent_, 0);
        received = std::exchange(received_, 0);
    }

private:
    std::mutex mutex_;
    uint64_t sent_ = 0;
    uint64_t received_ = 0;
};

TrafficCounter* gCounter = nullptr;

// The run builds its own controller; this is how it gets an owner that counts its traffic.
void CountTraffic(COmegaTempController& controller) {
    controller.OwnerWindow = gCounter;
}

// The dialog's side of a run: COM<kPort> chosen, a file in the benchmark's directory, progress
// reports timed, any message kept (a message means the run went wrong).
class BenchView : public ISettingsSaveView {
public:
    explicit BenchView(std::filesystem::path output) : output_(std::move(output)) {}

    int SelectedPortIndex() override { return 1; }
    std::wstring SelectedPortText() override { return L"COM" + std::to_wstring(kPort); }
    std::filesystem::path OutputPath() override { return output_; }
    void SetRunning(bool /*running*/) override {}
    platform::AutoResetEvent& CancelEvent() override { return cancel_; }
    void SetProgress(double /*percent*/, const std::wstring& text) override {
        progress_.push_back({Clock::now(), text});
    }
    void ShowMessage(const std::wstring& text, platform::MessageStyle /*style*/) override {
        messages_.push_back(text);
    }

    struct Report {
        Clock::time_point at;
        std::wstring text;
    };
    std::vector<Report> progress_;
    std::vector<std::wstring> messages_;

private:
    std::filesystem::path output_;
    platform::AutoResetEvent cancel_;
};

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

double WireMs(uint64_t bytes) {
    return static_cast<double>(bytes) * kBitsPerByte * 1e3 / kBaud;
}

struct RunFigures {
    double runMs = 0;
    double wireMs = 0;
    uint64_t sent = 0;
    uint64_t received = 0;
    // Per register read: its time beyond the wire time of its own bytes.
    std::vector<double> readOverheadMs;
    double openMs = 0;  // from the start of the run to the first register
    bool ok = false;
};

RunFigures RunOnce(sim::COmegaControllerSim& device, const std::filesystem::path& output,
                   TrafficCounter& counter) {
    RunFigures figures;
    BenchView view(output);
    uint64_t discard = 0;
    counter.Take(discard, discard);
    const uint64_t receivedBefore = device.ReceivedCount();

    const auto start = Clock::now();
    RunSettingsSave(view, &CountTraffic);
    const auto end = Clock::now();

    counter.Take(figures.sent, figures.received);
    const uint64_t deviceReceived = device.ReceivedCount() - receivedBefore;
    figures.runMs = std::chrono::duration<double, std::milli>(end - start).count();
    figures.wireMs = WireMs(figures.sent + figures.received);

    // Every register read's share: the gap from its progress report to the next report, less
    // the wire time of its command ("*Rxx" and CR) and answer (width digits and CR).
    const RegisterTable table = omega::RtdHeatFilterwheelTable();
    std::vector<Clock::time_point> readStarts;
    Clock::time_point doneAt = end;
    for (const auto& report : view.progress_) {
        if (report.text.starts_with(L"Getting ")) {
            readStarts.push_back(report.at);
        } else if (report.text == L"Done.") {
            doneAt = report.at;
        }
    }
    size_t i = 0;
    for (const RegisterEntry& entry : table) {
        if (i + 1 > readStarts.size()) {
            break;
        }
        const Clock::time_point next = i + 1 < readStarts.size() ? readStarts[i + 1] : doneAt;
        const double took = std::chrono::duration<double, std::milli>(next - readStarts[i]).count();
        figures.readOverheadMs.push_back(took - WireMs(5 + entry.Width + 1));
        ++i;
    }
    if (!readStarts.empty()) {
        figures.openMs =
            std::chrono::duration<double, std::milli>(readStarts.front() - start).count();
    }

    const bool fileRight = ReadFile(output) == omega::FormatSettingsFile(table);
    figures.ok = view.messages_.empty() && fileRight && deviceReceived == figures.sent &&
                 readStarts.size() == table.size();
    if (!figures.ok) {
        std::fprintf(stderr,
                     "run failed: %zu messages, file %s, %llu bytes written but %llu received by "
                     "the controller, %zu of %zu registers read\n",
                     view.messages_.size(), fileRight ? "right" : "wrong",
                     static_cast<unsigned long long>(figures.sent),
                     static_cast<unsigned long long>(deviceReceived), readStarts.size(),
                     table.size());
    }
    return figures;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = kDefaultRuns;
    bool optionsOk = true;
    for (int i = 1; i < argc && optionsOk; ++i) {
        if (!bench::IntOption(argc, argv, i, "--runs", 1, 100, runs, optionsOk)) {
            optionsOk = false;
        }
    }
    if (!optionsOk) {
        std::fprintf(stderr, "usage: %s [--runs N]   (1 to 100, default %d)\n", argv[0],
                     kDefaultRuns);
        return 2;
    }

    TemporaryPortDirectory directory;
    if (!directory.Valid()) {
        std::fprintf(stderr, "cannot create a port directory: %s\n", std::strerror(errno));
        return 2;
    }
    ::setenv("PRAVIK_PORT_DIR", directory.Path().c_str(), 1);
    sim::COmegaControllerSim device(kPort, directory.Path());
    if (!device.Start()) {
        std::fprintf(stderr, "cannot start the simulated Omega controller on COM%d\n", kPort);
        return 2;
    }
    device.SetPacing(sim::CSimulatedDevice::Pacing::PortBaud);
    TrafficCounter counter;
    gCounter = &counter;
    const std::filesystem::path output = std::filesystem::path(directory.Path()) / "omega.txt";

    std::printf("bench_omega_save: full settings save from a simulated Omega CNi32 on COM%d,\n",
                kPort);
    std::printf("both directions paced at %d baud 8N1 (%.3f ms a byte)\n\n", kBaud, WireMs(1));
    std::printf("%-4s %10s %10s %8s %8s %10s %10s %12s\n", "run", "run_ms", "wire_ms", "sent",
                "received", "ratio", "open_ms", "read_over_ms");
    std::vector<double> ratios;
    std::vector<double> runMs;
    std::vector<double> wireMs;
    std::vector<double> overheads;
    bool allOk = true;
    for (int r = 0; r < runs; ++r) {
        const RunFigures f = RunOnce(device, output, counter);
        allOk = allOk && f.ok;
        const double ratio = bench::Ratio(f.runMs, f.wireMs);
        ratios.push_back(ratio);
        runMs.push_back(f.runMs);
        wireMs.push_back(f.wireMs);
        overheads.insert(overheads.end(), f.readOverheadMs.begin(), f.readOverheadMs.end());
        std::printf("%-4d %10.1f %10.1f %8llu %8llu %10.3f %10.2f %12.3f\n", r + 1, f.runMs,
                    f.wireMs, static_cast<unsigned long long>(f.sent),
                    static_cast<unsigned long long>(f.received), ratio, f.openMs,
                    bench::Median(f.readOverheadMs));
    }
    std::printf(
        "\n(open_ms: start of the run to the first register, the identification exchange\n"
        "included; read_over_ms: median time of one register read beyond its own wire "
        "time)\n\n");
    std::printf("omega_save_ms=%.1f\n", bench::Median(runMs));
    std::printf("omega_wire_ms=%.1f\n", bench::Median(wireMs));
    std::printf("omega_read_overhead_ms_median=%.3f\n", bench::Median(overheads));
    std::printf("omega_read_overhead_ms_p90=%.3f\n", bench::Percentile(overheads, 90));
    std::printf("omega_save_vs_wire_ratio=%.3f\n", bench::Median(ratios));
    std::printf("failures=%d\n", allOk ? 0 : 1);
    return allOk ? 0 : 1;
}
