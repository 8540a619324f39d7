#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "serial/SerialDevice.h"
#include "serial/SerialPort.h"

// The one implementation of the command-channel pattern: a serial port that is also a command
// channel. Drivers derive from it and supply their reply parsers; they override the framing,
// line assembly, time-out or open retries only where their device differs.
//
// A class that adds state its ReceiveChar or ProcessReply touches must call Close() in its own
// destructor, so that the monitoring thread is gone before that state is.
class CCommandChannel : public CSerialPort, public CSerialDevice {
public:
    // The longest reply line kept. A device that streams bytes without a line end cannot grow
    // memory past this; such a line is thrown away when its end finally comes.
    static constexpr size_t kMaxReplyLine = 4096;

    CCommandChannel();
    ~CCommandChannel() override;

    void ProcessReply() override;
    bool SendCommand(const char* data, bool waitEcho, bool waitReply, int32_t length = -1) override;
    bool OpenPort() override;
    bool ClosePort() override;
    void ReceiveChar(uint8_t byte) override;

    // Serialises whole operations (a command and its follow-ups); taken by callers of
    // SendCommand, never by the monitoring thread.
    std::recursive_mutex CommandLock;
    // How long SendCommand may take, its write and the wait for the reply together. Each driver
    // sets its device's figure; tests shorten it rather than sit out real time-outs.
    int64_t ReplyTimeout = 2000;

protected:
    enum class Reply {
        Incomplete,  // more lines to come, or the line was not for us: keep waiting
        Complete,    // the reply to the command in flight is in
    };

    // Parses ReceiveLine for the command in flight; called under ReplyLock, only while a reply
    // is pending.
    virtual Reply InterpretReply() = 0;

    // Adds one byte to ReceiveLine; true when it completes a reply. By default a carriage return
    // ends the line and every other byte, line feed included, is kept.
    virtual bool AssembleByte(uint8_t byte);

    // The bytes that go on the wire for a command; the shutter controllers add nothing.
    virtual std::string FrameCommand(std::string_view command) const;

    // Opens tried before OpenPort gives up, with OpenRetryDelayMs between them.
    virtual int OpenAttempts() const { return 2; }
    static constexpr int64_t kOpenRetryDelayMs = 100;

    // CommandInFlight compared as the NUL-terminated string it is on the wire.
    bool InFlight(const char* literal) const;
    // ReceiveLine up to its first NUL byte, as text parsers read it.
    std::string_view TextLine() const;

    // Appends to ReceiveLine within kMaxReplyLine; past that the line is marked overlong.
    void AppendToLine(uint8_t byte);
    // Ends the current line: false when it ran over and must be dropped.
    bool EndLine();
    // Assembles a fixed-length binary reply: at count 0 ReceiveLine becomes the template, each
    // byte is stored at position count (ReplyValue) and counted; true at the template's length.
    bool AssembleCounted(uint8_t byte, std::string_view templateText);

    // The reply is in: empty CommandInFlight, reset the pending event, wake the caller.
    void CompleteReply();

    // Keeps the line about to be interpreted as a reply (its first bytes), so that a reply that
    // is not understood can be shown; under ReceiveLock and ReplyLock.
    void NoteReplyLine();
    // The line NoteReplyLine kept last, since the command in flight was written.
    std::string NotedReplyLine();
    // Records why the reply to wire (the bytes sent) did not come within waitedMs: the device
    // went away, or sent something that was not (or not all of) the answer, or nothing.
    void RecordReplyFailure(std::string_view wire, int64_t waitedMs);
    // Records that the reply to wire came but did not pass its check.
    void RecordReplyNotUnderstood(std::string_view wire);
    // Records a failure the driver itself finds in what the device did.
    void RecordDeviceFailure(platform::FailureKind kind, const std::string& what);

    // Waits for ReplyReadyEvent at most timeoutMs and leaves both events reset; true when the
    // reply completed, even if it did so just as the time ran out.
    bool AwaitReply(int64_t timeoutMs);

    // The bytes a caller passes to SendCommand: the text up to its NUL (length -1) or exactly
    // length bytes. Nothing when data is missing.
    static std::optional<std::string> CommandBytes(const char* data, int32_t length);

    // Makes command the one in flight and starts an empty reply line. Until the command is
    // written, received bytes are not assembled: they were sent before it and would otherwise
    // be counted into its reply.
    void PrepareCommand(std::string command);

    void WriteStarting() override;

private:
    // The first bytes of the last line interpreted as a reply since the command was written;
    // under ReceiveLock.
    std::string replyLine_;
    bool lineOverlong_ = false;
    // False between PrepareCommand and the write of that command; under ReceiveLock.
    bool armed_ = true;
    // The reply to the command in flight is in and not yet taken by AwaitReply; under ReplyLock.
    bool replyComplete_ = false;
    // Inside ReceiveChar's locks, and a reply completed there; under ReplyLock.
    bool receiving_ = false;
    bool wakeCaller_ = false;
};
