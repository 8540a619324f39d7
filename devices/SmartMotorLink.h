#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "devices/MotorTransfer.h"
#include "serial/SerialDevice.h"
#include "serial/SerialPort.h"

// A SmartMotor's port as the firmware host uses it: raw bytes both ways. Moving a program is not
// a line-by-line exchange (blocks of 8 or 32 bytes, one-byte acknowledgements, an end byte), so
// the received bytes are queued as they come and the host reads them one at a time on its own
// thread, each read bounded by a deadline.
class CSmartMotorLink : public CSerialPort, public CSerialDevice {
public:
    using Clock = std::chrono::steady_clock;

    // Bytes received and not yet read that are kept; a motor that talks without pause loses
    // what comes past this, and the host's read then times out or sees garbage.
    static constexpr size_t kMaxUnread = 64 * 1024;

    CSmartMotorLink();
    ~CSmartMotorLink() override;

    // Nothing to interpret here: whoever sent the command reads its answer from the queue.
    void ProcessReply() override {}
    // Writes a command ended by the motor's blank (length -1), or exactly length bytes. With
    // waitEcho, waits EchoTimeout for the same bytes to come back; with waitReply, then waits
    // ReplyTimeout for a reply line, left in ReceiveLine. The write counts against the first of
    // those time-outs (ReplyTimeout when nothing is awaited). True when all that was waited for
    // came.
    bool SendCommand(const char* data, bool waitEcho, bool waitReply, int32_t length = -1) override;
    // Opens the port with Settings and starts the monitoring thread.
    bool OpenPort() override;
    bool ClosePort() override;
    // On the monitoring thread: queues the byte for the reader.
    void ReceiveChar(uint8_t byte) override;

    // Writes all bytes, in as many pieces as the port takes at once, by deadline at the latest:
    // false when the line did not take them all by then.
    bool Send(std::string_view bytes, Clock::time_point deadline);
    // The next byte the motor sent, waiting until deadline at most.
    std::optional<uint8_t> ReadByte(Clock::time_point deadline);

    // The first bytes read since the last command (or ForgetHeard), to tell what the motor said.
    const std::string& Heard() const { return heard_.Bytes(); }
    void ForgetHeard() { heard_.Clear(); }

    int64_t EchoTimeout = 500;
    int64_t ReplyTimeout = 2000;

protected:
    // The port threw away what it had not read; so does the queue, because from here on what
    // arrives answers the write now going out.
    void WriteStarting() override;

private:
    std::mutex queueMutex_;
    std::condition_variable queueReady_;
    std::deque<uint8_t> queue_;
    motor_transfer::CHeardBytes heard_;  // the caller's thread only
};
