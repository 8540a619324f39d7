#include "serial/SerialPort.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>

#include "serial/SerialDevice.h"

namespace {

// A write with no time-out of its own may take this long in all: a base plus so much a byte, as
// the port's time-outs have always been set (1000 ms each). Enough for any baud rate the program
// offers.
constexpr int64_t kWriteTimeoutBaseMs = 1000;
constexpr int64_t kWriteTimeoutPerByteMs = 1000;

// The most a write of length bytes may take, capped by the caller's own time-out.
int64_t WriteBoundMs(int32_t length, int64_t timeoutMs) {
    const int64_t ownMs = kWriteTimeoutBaseMs + kWriteTimeoutPerByteMs * length;
    return timeoutMs == platform::kInfinite ? ownMs : std::min(ownMs, timeoutMs);
}
// How long a writer looks for its write to be done before it sleeps on it.
constexpr auto kWriteDoneLook = std::chrono::microseconds(40);

// How much one wake-up of the monitoring thread reads before it looks at its events again; a
// device that never stops talking cannot keep a write or a shutdown waiting.
constexpr size_t kReadChunk = 256;

}  // namespace

CSerialPort::CSerialPort() {
    MonitorStoppedEvent.Set();
}

CSerialPort::~CSerialPort() {
    if (OnMonitorThread()) {
        // The thread would go on reading into a port that is gone. No caller can mean that, and
        // nothing can make it safe: say so and stop here rather than corrupt memory later.
        std::fputs("pravik: a serial port was destroyed from its own receive callback\n", stderr);
        std::abort();
    }
    Close();
}

bool CSerialPort::OnMonitorThread() const {
    return monitorThreadId_.load(std::memory_order_acquire) == std::this_thread::get_id();
}

bool CSerialPort::TestCommSettings(CommSettings /*settings*/) {
    return false;
}

bool CSerialPort::Open(int32_t portNumber, int32_t baudRate, int32_t parity, int32_t dataBits,
                       int32_t stopBits) {
    if (OnMonitorThread()) {
        // The callback's own thread is still inside the port it would replace.
        RecordOpenFailure(platform::FailureKind::OpenFailed, portNumber, EDEADLK);
        return false;
    }
    // A thread left running from an earlier open must not see the handle change under it.
    StopMonitor();

    std::lock_guard lock(PortLock);
    PortNumber = portNumber;
    WriteBufferSize = kWriteBufferSize;
    WriteLength = 0;
    PortHandle.Close();

    // The monitoring thread sleeps in poll() on these two; without their handles it could not
    // be woken.
    if (ShutdownEvent.NativeHandle() < 0 || WriteRequestEvent.NativeHandle() < 0) {
        RecordOpenFailure(platform::FailureKind::OpenFailed, portNumber, EMFILE);
        return false;
    }

    platform::FailureKind error = platform::FailureKind::None;
    int sysError = 0;
    PortHandle = platform::PortHandle::Open(portNumber, error, sysError);
    if (!PortHandle.IsOpen()) {
        RecordOpenFailure(error, portNumber, sysError);
        return false;
    }
    // A refused setting ends the configuration: the port is open and keeps what it had, and the
    // device's answers (or their absence) will tell. The refusal is kept for whoever asks why.
    const std::string mode = BuildModeString(baudRate, parity, dataBits, stopBits);
    if (!PortHandle.Configure(mode)) {
        RecordFailure(
            platform::FailureKind::LineSettingRefused,
            PortLabel() + " refused the line settings \"" + mode + "\" and keeps the ones it had.");
    }
    // Only what came in before we listened is stale. Bytes still on their way out are the last
    // command of whoever had the port before (this program a moment ago, closing in between):
    // flushing them would cut that command off, and on a pseudo-terminal it would throw away
    // what the other end had not read yet.
    PortHandle.PurgeInput();
    return true;
}

void CSerialPort::RecordOpenFailure(platform::FailureKind kind, int32_t portNumber, int sysError) {
    RecordFailure(kind, platform::DescribePortError(kind, portNumber, sysError));
}

platform::Failure CSerialPort::LastFailure() const {
    std::lock_guard lock(failureMutex_);
    return failure_;
}

void CSerialPort::ClearFailure() {
    std::lock_guard lock(failureMutex_);
    failure_ = {};
}

void CSerialPort::RecordFailure(platform::FailureKind kind, std::string text) {
    RestoreFailure({kind, std::move(text)});
}

void CSerialPort::RestoreFailure(platform::Failure failure) {
    std::lock_guard lock(failureMutex_);
    failure_ = std::move(failure);
}

void CSerialPort::RecordDeviceGone() {
    RecordFailure(platform::FailureKind::DeviceGone,
                  PortLabel() + " is gone: the device hung up or its adapter was unplugged.");
}

std::string CSerialPort::PortLabel() const {
    return platform::PortLabel(PortNumber);
}

bool CSerialPort::DeviceGone() {
    std::lock_guard lock(PortLock);
    return PortHandle.IsOpen() && PortHandle.Gone();
}

bool CSerialPort::StartMonitor() {
    if (!PortHandle.IsOpen() || OnMonitorThread()) {
        return false;
    }
    StopMonitor();
    echoPortNumber_ = Settings.PortNumber;
    {
        // Monitoring starts from an empty line. Purged here, before the thread exists, so that
        // a byte that arrives once StartMonitor has returned is always delivered.
        std::lock_guard lock(PortLock);
        PortHandle.PurgeInput();
    }
    ShutdownEvent.Reset();
    WriteRequestEvent.Reset();
    MonitorStoppedEvent.Reset();
    echoDropping_ = false;
    echoDropped_ = 0;
    try {
        MonitorThread = std::thread(&CSerialPort::MonitorThreadProc, this);
    } catch (const std::system_error& error) {
        MonitorStoppedEvent.Set();
        RecordFailure(platform::FailureKind::OpenFailed,
                      "The thread that reads " + PortLabel() +
                          " could not be started: " + error.what() + ".");
        return false;
    }
    return true;
}

bool CSerialPort::StartMonitorOrClose() {
    if (StartMonitor()) {
        return true;
    }
    Close();
    return false;
}

void CSerialPort::StopMonitor() {
    if (OnMonitorThread()) {
        // Closing from inside a receive callback cannot wait for itself. The thread delivers no
        // further byte and leaves its loop, without touching the handle, as soon as the callback
        // returns; whoever next opens, starts, closes or destroys the port joins it. (The thread
        // object is the owner's: not even looked at from here.)
        stopping_.store(true, std::memory_order_relaxed);
        ShutdownEvent.Set();
        return;
    }
    if (!MonitorThread.joinable()) {
        return;
    }
    stopping_.store(true, std::memory_order_relaxed);
    ShutdownEvent.Set();
    MonitorThread.join();
    monitorThreadId_.store(std::thread::id(), std::memory_order_release);
    ShutdownEvent.Reset();
    stopping_.store(false, std::memory_order_relaxed);
}

unsigned CSerialPort::MonitorThreadProc(CSerialPort* port) {
    port->monitorThreadId_.store(std::this_thread::get_id(), std::memory_order_release);
    port->ThreadAlive = 1;
    // stopping_: closed from one of its own callbacks, whose handle may be gone already.
    while (!port->stopping_.load(std::memory_order_relaxed)) {
        // While dropped bytes wait to be reported, a quiet line ends the gap: the count must not
        // wait for a device that has stopped talking.
        const int64_t timeoutMs =
            port->echoDropped_ > 0 ? port->DropQuietMs.load() : platform::kInfinite;
        // Shutdown first, then a write before input: a write purges what is unread anyway, and
        // stale bytes read after the caller emptied its reply line would only pollute it.
        const int which = port->PortHandle.WaitForAny(
            {&port->ShutdownEvent, &port->WriteRequestEvent}, timeoutMs);
        if (which < 0 && timeoutMs != platform::kInfinite) {
            // Reported, the next wait has no time limit again: a poll that keeps failing ends
            // the loop there instead of spinning here.
            port->ReportDropped();
            continue;
        }
        if (which == 0 || which < 0) {
            break;
        }
        if (which == 1) {
            port->WriteRoutine();
        } else {
            port->ReadRoutine();
        }
    }
    // Closing ends the gap too: the window learns of every byte it was not shown.
    port->ReportDropped();
    port->ThreadAlive = 0;
    port->MonitorStoppedEvent.Set();
    // A writer waiting right now is let go; WriteSucceeded is false for it.
    port->WriteDoneEvent.Set();
    return 0;
}

void CSerialPort::ReadRoutine() {
    uint8_t buffer[kReadChunk];
    ssize_t count;
    {
        std::lock_guard lock(PortLock);
        count = PortHandle.Read(buffer, sizeof buffer);
    }
    if (count < 0) {
        // Read says -1 once; after it the port is not watched any more.
        if (ISerialEchoSink* sink = OwnerWindow.load(std::memory_order_acquire)) {
            sink->PostPortGone(PortNumber);
        }
        return;
    }
    if (count == 0) {
        return;
    }
    // Neither PortLock nor anything else of the port is held while the owner and the driver see
    // the bytes: the driver takes its own locks. The window gets one record for the whole read,
    // posted before the driver sees the bytes: a reply completes a command, whose caller then
    // writes to the log, and the reply must already be waiting there to go in first.
    if (ISerialEchoSink* sink = OwnerWindow.load(std::memory_order_acquire)) {
        EchoReceived(*sink, buffer, static_cast<size_t>(count));
    }
    if (OwnerDevice != nullptr) {
        for (ssize_t i = 0; i < count; ++i) {
            OwnerDevice->ReceiveChar(buffer[i]);
            if (stopping_.load(std::memory_order_relaxed)) {
                // Closed by that byte's callback: what came after it is not delivered.
                break;
            }
        }
    }
}

void CSerialPort::EchoReceived(ISerialEchoSink& sink, const uint8_t* bytes, size_t count) {
    const int64_t cost = static_cast<int64_t>(count) + kEchoRecordCost;
    // Only this thread raises the backlog; the window only lowers it. What is read here can
    // only have gone down by the time the record is charged.
    const int64_t waiting = echoBacklog_->load(std::memory_order_acquire);
    if (echoDropping_ ? waiting > kEchoBacklogResume : waiting + cost > kEchoBacklogLimit) {
        echoDropping_ = true;
        echoDropped_ += static_cast<int64_t>(count);
        return;
    }
    echoDropping_ = false;
    auto echo = NewEcho(echoPortNumber_, bytes, count, 1);
    echo->Dropped = std::exchange(echoDropped_, 0);
    sink.PostSerialEcho(std::move(echo));
}

std::unique_ptr<SerialEcho> CSerialPort::NewEcho(int32_t portNumber, const uint8_t* bytes,
                                                 size_t count, int32_t received) {
    auto echo = std::make_unique<SerialEcho>();
    echo->Time = EchoTime::Now();
    echo->PortNumber = portNumber;
    if (count > 0) {
        echo->Text.assign(reinterpret_cast<const char*>(bytes), count);
    }
    echo->Length = static_cast<int32_t>(count);
    echo->Received = received;
    echo->Charge = SerialEchoCharge(echoBacklog_, static_cast<int64_t>(count) + kEchoRecordCost);
    return echo;
}

void CSerialPort::ReportDropped() {
    if (echoDropped_ == 0) {
        return;
    }
    ISerialEchoSink* sink = OwnerWindow.load(std::memory_order_acquire);
    if (sink == nullptr) {
        echoDropped_ = 0;
        return;
    }
    // One small record a gap, whatever the backlog. It only says what has gone so far: bytes
    // are still dropped (echoDropping_) until the window has caught up.
    auto echo = NewEcho(echoPortNumber_, nullptr, 0, 1);
    echo->Dropped = std::exchange(echoDropped_, 0);
    sink->PostSerialEcho(std::move(echo));
}

void CSerialPort::WriteRoutine() {
    int32_t length;
    size_t written;
    {
        std::lock_guard lock(PortLock);
        // Every command starts from a clean line: whatever the device said that nobody read is
        // thrown away, so a late reply to an earlier command cannot pass for this one's.
        PortHandle.PurgeInput();
    }
    WriteStarting();  // takes the driver's locks: never inside PortLock
    {
        std::lock_guard lock(PortLock);
        length = WriteLength;
        // The writer's deadline counts from its Write call, so the wait for this thread is part
        // of it; a line that does not drain then costs the command no more than its time-out.
        written = PortHandle.Write(WriteBuffer.data(), static_cast<size_t>(length),
                                   WriteBoundMs(length, WriteDeadline.RemainingMs()),
                                   &ShutdownEvent, &writeErrno_);
        WriteSucceeded = written == static_cast<size_t>(length);
    }
    if (written == static_cast<size_t>(length)) {
        if (ISerialEchoSink* sink = OwnerWindow.load(std::memory_order_acquire)) {
            // Charged like received records, so that they leave received bytes less room, but
            // never dropped: each is a command of the program's own, one at a time.
            sink->PostSerialEcho(
                NewEcho(PortNumber, WriteBuffer.data(), static_cast<size_t>(length), 0));
        }
    }
    // Cleared only now, so that the bytes go out without waiting for it; the writer cannot
    // hand over the next bytes before WriteDoneEvent.
    WriteRequestEvent.Reset();
    WriteDoneEvent.Set();
}

bool CSerialPort::Write(const void* data, int32_t length, int64_t timeoutMs) {
    const platform::Deadline deadline(timeoutMs);
    const auto bytes = [&] {
        return platform::PrintableBytes(
            data != nullptr && length > 0
                ? std::string_view(static_cast<const char*>(data), static_cast<size_t>(length))
                : std::string_view());
    };
    if (!PortHandle.IsOpen()) {
        const int32_t port = PortNumber > 0 ? PortNumber : Settings.PortNumber;
        RecordFailure(platform::FailureKind::NotOpen,
                      "COM" + std::to_string(port) + " is not open: connect first.");
        return false;
    }
    if (length < 0 || length > WriteBufferSize || (data == nullptr && length > 0)) {
        RecordFailure(platform::FailureKind::InvalidRequest,
                      "A write of " + std::to_string(length) + " bytes to " + PortLabel() +
                          " was refused: at most " + std::to_string(WriteBufferSize) +
                          " go at once.");
        return false;
    }
    // A write waits for the monitoring thread, which cannot wait for itself.
    if (OnMonitorThread()) {
        RecordFailure(platform::FailureKind::WriteFailed,
                      "Writing " + bytes() + " to " + PortLabel() +
                          " from the port's own receive callback was refused.");
        return false;
    }
    WriteDoneEvent.Reset();
    {
        std::lock_guard lock(PortLock);
        WriteBuffer.fill(0);
        if (length > 0) {
            std::memcpy(WriteBuffer.data(), data, static_cast<size_t>(length));
        }
        WriteLength = length;
        WriteDeadline = deadline;
        WriteSucceeded = false;
    }
    WriteRequestEvent.Set();
    if (MonitorStoppedEvent.IsSet()) {
        WriteRequestEvent.Reset();
        RecordFailure(platform::FailureKind::NotOpen,
                      PortLabel() + " is not open for commands: nothing reads it.");
        return false;
    }
    // No time limit of its own: the write routine's own bound ends it, and a monitoring thread
    // that stops meanwhile sets WriteDoneEvent on its way out.
    // The monitoring thread has a short command out within microseconds of being asked. Looking
    // for that for a bounded moment, giving the processor away meanwhile, spares the caller a
    // sleep and a wake-up per command, which is most of what a command costs beyond the line;
    // a slow or long write still ends in the sleep below.
    const auto lookUntil = std::chrono::steady_clock::now() + kWriteDoneLook;
    while (!WriteDoneEvent.IsSet() && std::chrono::steady_clock::now() < lookUntil) {
        std::this_thread::yield();
    }
    WriteDoneEvent.Wait(platform::kInfinite);
    std::unique_lock lock(PortLock);
    if (WriteSucceeded) {
        return true;
    }
    const bool gone = PortHandle.Gone();
    const int error = writeErrno_;
    lock.unlock();
    if (gone) {
        RecordDeviceGone();
    } else if (MonitorStoppedEvent.IsSet()) {
        RecordFailure(platform::FailureKind::NotOpen,
                      PortLabel() + " was closed while " + bytes() + " was being written.");
    } else if (error != 0) {
        RecordFailure(
            platform::FailureKind::WriteFailed,
            "Writing " + bytes() + " to " + PortLabel() + " failed: " + std::strerror(error) + ".");
    } else {
        RecordFailure(platform::FailureKind::WriteTimedOut,
                      PortLabel() + " took no more of " + bytes() + " within " +
                          std::to_string(WriteBoundMs(length, timeoutMs)) +
                          " ms: is the line held by flow control, or is the device not reading?");
    }
    return false;
}

void CSerialPort::Close() {
    StopMonitor();
    std::lock_guard lock(PortLock);
    PortHandle.Close();
    WriteRequestEvent.Reset();
    WriteDoneEvent.Reset();
    WriteLength = 0;
}
