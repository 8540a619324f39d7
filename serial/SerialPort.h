#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/Failure.h"
#include "platform/ManualResetEvent.h"
#include "platform/PortHandle.h"
#include "serial/CommSettings.h"
#include "serial/SerialEchoSink.h"

class CSerialDevice;

// One serial port with the one thread that does all its reading and writing. Received bytes go,
// one at a time and as soon as read, to OwnerDevice->ReceiveChar on that thread; Write hands
// bytes to the thread and returns once they are written; every completed write and every read
// of received bytes is echoed to OwnerWindow when one is set.
//
// What the port's records hold while they wait for OwnerWindow is capped: a device that sends
// faster than the window can log would otherwise fill memory with records. Received bytes that
// find the backlog full are not echoed (the driver still gets every one); once the window has
// caught up, or the line has been quiet for a moment, the next received record says how many
// were left out.
class CSerialPort {
public:
    static constexpr int32_t kWriteBufferSize = 512;
    // What a port's records may hold in all while they wait for the window: bytes plus
    // kEchoRecordCost a record. A quarter of a mebibyte stays a quarter of a mebibyte whatever
    // floods in, and it is far more than ordinary traffic leaves waiting: replies are a few dozen
    // bytes, a reply read a byte at a time costs some 4 KiB of records while the window's thread
    // waits on the command, and a window that keeps up with a device streaming at 115200 baud has
    // a few dozen records waiting at most. It still leaves the window only seconds of logging to
    // catch up on when a flood stops. Received bytes are echoed again once the
    // window has taken half of it, so that a flood leaves one gap (and one notice) per half
    // backlog rather than one per record the window takes.
    static constexpr int64_t kEchoBacklogLimit = 256 * 1024;
    static constexpr int64_t kEchoBacklogResume = kEchoBacklogLimit / 2;
    // What a record costs beyond its bytes (the record, the event that carries it, the window's
    // queue entry), so that a device whose bytes come one read each cannot slip under the cap.
    static constexpr int64_t kEchoRecordCost = 128;
    // How long the line must be quiet before a gap is reported on its own, without waiting for
    // the next received bytes to carry the count (DropQuietMs; tests lengthen it).
    static constexpr int64_t kDropQuietMs = 100;

    CSerialPort();
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;
    virtual ~CSerialPort();

    // The base has no device to try: false, without any I/O. Drivers override it.
    virtual bool TestCommSettings(CommSettings settings);

    // Opens and configures COMn (parity before data bits, unlike CommSettings). A second Open
    // closes the first handle. Fails only when the device cannot be opened; a line setting the
    // system refuses leaves the port open with the settings it had. Does not start the thread.
    bool Open(int32_t portNumber, int32_t baudRate, int32_t parity, int32_t dataBits,
              int32_t stopBits);

    // The monitoring thread's body; returns 0 when told to end.
    static unsigned MonitorThreadProc(CSerialPort* port);

    // Starts MonitorThreadProc on MonitorThread; false when the port is not open or the thread
    // cannot be started.
    bool StartMonitor();
    // StartMonitor for a port just opened, which is closed again when the thread cannot start.
    bool StartMonitorOrClose();

    // Hands length bytes (NUL bytes included) to the monitoring thread and returns once they
    // are written, or once timeoutMs has passed while the line took no more (flow control holds
    // it, the device does not read): a command's time-out covers its write too. kInfinite leaves
    // the port's own bound, 1 s and 1 s a byte. True when all were written. Returns false at once
    // when the port is closed, has no running monitoring thread, or length is outside 0..512.
    bool Write(const void* data, int32_t length, int64_t timeoutMs = platform::kInfinite);

    // Ends the monitoring thread and releases the port. Safe on a port that is not open.
    //
    // From inside one of the port's own receive callbacks it closes too: no later byte is
    // delivered, and the thread ends once the callback returns. There, Open, StartMonitor and
    // Write are refused (false), and destroying the port aborts the program with a message:
    // the thread could not go on inside a port that is gone.
    void Close();

    bool IsOpen() const { return PortHandle.IsOpen(); }

    // What this port's echo records hold now while they wait for their owner.
    int64_t EchoBacklog() const { return echoBacklog_->load(std::memory_order_acquire); }

    // Why the last operation on this port that failed did fail: recorded where the failure
    // happens (an open, a line setting, a write here; a reply by the driver). A success does not
    // clear it, so it is read after a false result, or after ClearFailure before the operation.
    // Any thread.
    platform::Failure LastFailure() const;
    void ClearFailure();
    // Whether the device went away under the open port (hung up, unplugged).
    bool DeviceGone();

    CSerialDevice* OwnerDevice = nullptr;
    std::thread MonitorThread;
    std::recursive_mutex PortLock;
    std::atomic<int32_t> ThreadAlive{0};
    platform::ManualResetEvent ShutdownEvent;
    platform::PortHandle PortHandle;
    platform::ManualResetEvent WriteRequestEvent;
    platform::ManualResetEvent WriteDoneEvent;
    // Set while no monitoring thread runs, so that a writer never waits for one that is gone.
    platform::ManualResetEvent MonitorStoppedEvent;
    int32_t PortNumber = -1;
    std::array<uint8_t, kWriteBufferSize> WriteBuffer{};
    int32_t WriteBufferSize = kWriteBufferSize;
    int32_t WriteLength = 0;
    // How long the bytes in WriteBuffer may take to go out, counted from the Write call.
    platform::Deadline WriteDeadline{platform::kInfinite};
    bool WriteSucceeded = false;
    std::string ReceiveLine;
    std::string CommandInFlight;
    CommSettings Settings;
    std::atomic<ISerialEchoSink*> OwnerWindow{nullptr};
    std::atomic<int64_t> DropQuietMs{kDropQuietMs};

protected:
    void RecordFailure(platform::FailureKind kind, std::string text);
    // Puts back a record taken earlier with LastFailure: what steps whose failure fails no
    // operation recorded meanwhile is forgotten.
    void RestoreFailure(platform::Failure failure);
    void RecordDeviceGone();
    // An open of portNumber that failed for kind, sysError the errno of the failing call.
    void RecordOpenFailure(platform::FailureKind kind, int32_t portNumber, int sysError);
    // The port as the technician knows it: "COM5 (/dev/ttyUSB0)".
    std::string PortLabel() const;

    // Called on the monitoring thread for every write, after the unread input was thrown away
    // and before the bytes go out: from here on, what arrives is an answer to this write.
    virtual void WriteStarting() {}

private:
    void StopMonitor();
    bool OnMonitorThread() const;
    void ReadRoutine();
    void WriteRoutine();
    // Posts the received bytes, or counts them as dropped while the backlog is full.
    void EchoReceived(ISerialEchoSink& sink, const uint8_t* bytes, size_t count);
    // Posts the count of bytes dropped since the last record, on a record of its own.
    void ReportDropped();
    // A record of count bytes (none for a gap's own record), charged to this port's backlog.
    std::unique_ptr<SerialEcho> NewEcho(int32_t portNumber, const uint8_t* bytes, size_t count,
                                        int32_t received);

    int32_t echoPortNumber_ = 0;
    std::shared_ptr<SerialEchoBacklog> echoBacklog_ = std::make_shared<SerialEchoBacklog>(0);
    // The monitoring thread's own: whether received bytes are being dropped until the backlog
    // is down to kEchoBacklogResume, and how many have not been reported yet.
    // Set when the monitoring thread is told to end, so that it stops delivering bytes at once.
    std::atomic<bool> stopping_{false};
    // The monitoring thread's own, from its first step until it has been joined: what tells a
    // call from one of its callbacks.
    std::atomic<std::thread::id> monitorThreadId_{};
    bool echoDropping_ = false;
    int64_t echoDropped_ = 0;
    // The errno of the monitoring thread's last failed write, 0 when it ran out of time; under
    // PortLock.
    int writeErrno_ = 0;
    mutable std::mutex failureMutex_;
    platform::Failure failure_;  // under failureMutex_
};
