#include "serial/CommandChannel.h"

#include <algorithm>
#include <cstring>
#include <thread>
#include <utility>

CCommandChannel::CCommandChannel() {
    OwnerDevice = this;
}

CCommandChannel::~CCommandChannel() {
    Close();
}

bool CCommandChannel::InFlight(const char* literal) const {
    return std::strcmp(CommandInFlight.c_str(), literal) == 0;
}

std::string_view CCommandChannel::TextLine() const {
    return std::string_view(ReceiveLine.c_str());
}

void CCommandChannel::AppendToLine(uint8_t byte) {
    if (ReceiveLine.size() < kMaxReplyLine) {
        ReceiveLine.push_back(static_cast<char>(byte));
    } else {
        lineOverlong_ = true;
    }
}

bool CCommandChannel::EndLine() {
    if (lineOverlong_) {
        lineOverlong_ = false;
        ReceiveLine.clear();
        return false;
    }
    return true;
}

bool CCommandChannel::AssembleByte(uint8_t byte) {
    if (byte == '\r') {
        return EndLine();
    }
    AppendToLine(byte);
    return false;
}

bool CCommandChannel::AssembleCounted(uint8_t byte, std::string_view templateText) {
    const auto size = static_cast<int32_t>(templateText.size());
    int32_t count = ReplyValue;
    // The caller zeroes the count before it sends; anything else here is the tail of a reply
    // that came too late or a count the device pushed past the end. Start a fresh frame rather
    // than index outside the line.
    if (count <= 0 || count >= size || ReceiveLine.size() != templateText.size()) {
        count = 0;
        ReceiveLine.assign(templateText);
    }
    ReceiveLine[static_cast<size_t>(count)] = static_cast<char>(byte);
    ReplyValue = ++count;
    return count == size;
}

void CCommandChannel::ReceiveChar(uint8_t byte) {
    bool wake = false;
    {
        std::lock_guard receive(ReceiveLock);
        if (!armed_) {
            return;  // read before the command in flight was written: it cannot be its answer
        }
        std::lock_guard reply(ReplyLock);
        receiving_ = true;
        if (AssembleByte(byte)) {
            ProcessReply();
            ReceiveLine.clear();
        }
        receiving_ = false;
        wake = std::exchange(wakeCaller_, false);
    }
    // The caller is woken once both locks are free. Woken while they are held, it would run
    // (on a busy machine, in place of this thread) straight into them with its next command,
    // and sleep again until this thread came back to let go of them.
    if (wake) {
        ReplyReadyEvent.Set();
    }
}

void CCommandChannel::ProcessReply() {
    std::lock_guard reply(ReplyLock);
    if (!ReplyPendingEvent.IsSet()) {
        return;  // nobody is waiting: unsolicited, or late for a command that timed out
    }
    NoteReplyLine();
    if (InterpretReply() == Reply::Complete) {
        CompleteReply();
    }
}

namespace {

// What of a reply line is kept to show the technician; PrintableBytes cuts it shorter still.
constexpr size_t kReplyLineShown = 48;

}  // namespace

void CCommandChannel::NoteReplyLine() {
    std::lock_guard receive(ReceiveLock);
    replyLine_.assign(ReceiveLine, 0, std::min(ReceiveLine.size(), kReplyLineShown));
}

std::string CCommandChannel::NotedReplyLine() {
    std::lock_guard receive(ReceiveLock);
    return replyLine_;
}

void CCommandChannel::RecordReplyFailure(std::string_view wire, int64_t waitedMs) {
    if (DeviceGone()) {
        RecordDeviceGone();
        return;
    }
    std::string line;
    bool partial = false;
    {
        std::lock_guard receive(ReceiveLock);
        // A line still being assembled is the newest thing the device said.
        partial = !ReceiveLine.empty();
        line = partial ? ReceiveLine.substr(0, kReplyLineShown) : replyLine_;
    }
    const std::string sent = platform::PrintableBytes(wire);
    const std::string waited = " within " + std::to_string(waitedMs) + " ms";
    if (line.empty()) {
        RecordFailure(platform::FailureKind::NoReply,
                      "No reply to " + sent + " from " + PortLabel() + waited + ".");
        return;
    }
    const std::string heard = ": it sent " + platform::PrintableBytes(line) + ".";
    RecordFailure(platform::FailureKind::ReplyNotUnderstood,
                  partial ? "The reply to " + sent + " from " + PortLabel() +
                                " was still incomplete after " + std::to_string(waitedMs) + " ms" +
                                heard
                          : "No reply to " + sent + " from " + PortLabel() +
                                " that could be understood" + waited + heard);
}

void CCommandChannel::RecordReplyNotUnderstood(std::string_view wire) {
    const std::string line = NotedReplyLine();
    RecordFailure(platform::FailureKind::ReplyNotUnderstood,
                  "The reply to " + platform::PrintableBytes(wire) + " from " + PortLabel() +
                      " did not pass its check: it sent " + platform::PrintableBytes(line) + ".");
}

void CCommandChannel::RecordDeviceFailure(platform::FailureKind kind, const std::string& what) {
    RecordFailure(kind, "The device on " + PortLabel() + " " + what);
}

void CCommandChannel::CompleteReply() {
    std::lock_guard reply(ReplyLock);
    CommandInFlight.clear();
    ReplyPendingEvent.Reset();
    replyComplete_ = true;
    if (receiving_) {
        wakeCaller_ = true;  // ReceiveChar wakes the caller once it has let go of the locks
    } else {
        ReplyReadyEvent.Set();
    }
}

std::string CCommandChannel::FrameCommand(std::string_view command) const {
    return std::string(command);
}

std::optional<std::string> CCommandChannel::CommandBytes(const char* data, int32_t length) {
    if (length < 0) {
        return std::string(data != nullptr ? data : "");
    }
    if (data == nullptr) {
        return std::nullopt;
    }
    return std::string(data, static_cast<size_t>(length));
}

void CCommandChannel::PrepareCommand(std::string command) {
    {
        std::lock_guard reply(ReplyLock);
        CommandInFlight = std::move(command);
        replyComplete_ = false;
    }
    std::lock_guard receive(ReceiveLock);
    ReceiveLine.clear();
    replyLine_.clear();
    lineOverlong_ = false;
    armed_ = false;
}

void CCommandChannel::WriteStarting() {
    std::lock_guard receive(ReceiveLock);
    ReceiveLine.clear();
    replyLine_.clear();
    lineOverlong_ = false;
    armed_ = true;
}

bool CCommandChannel::AwaitReply(int64_t timeoutMs) {
    const platform::Deadline deadline(timeoutMs);
    for (;;) {
        const bool woken = ReplyReadyEvent.Wait(deadline.RemainingMs());
        // Decided under ReplyLock, by the reply's own mark rather than by the event: the event
        // is only the wake-up, and may come late, from a reply whose waiter had already given
        // up. A reply completing right at the time-out either made it or will find the pending
        // event reset and be dropped; never half of each.
        std::lock_guard reply(ReplyLock);
        ReplyReadyEvent.Reset();
        if (std::exchange(replyComplete_, false)) {
            return true;  // CompleteReply reset the pending event
        }
        if (!woken || deadline.Expired()) {
            ReplyPendingEvent.Reset();
            return false;
        }
    }
}

bool CCommandChannel::SendCommand(const char* data, bool /*waitEcho*/, bool waitReply,
                                  int32_t length) {
    std::optional<std::string> command = CommandBytes(data, length);
    if (!command) {
        RecordFailure(platform::FailureKind::InvalidRequest,
                      "A command without bytes was refused.");
        return false;
    }
    // One time-out for the whole command, its write included: a line that does not drain
    // (flow control holding it, a device that stopped reading) must not keep the caller longer
    // than a device that does not answer would.
    const platform::Deadline deadline(ReplyTimeout);
    const std::string wire = FrameCommand(*command);
    PrepareCommand(std::move(*command));
    if (waitReply) {
        ReplyPendingEvent.Set();
    }
    // A write that did not go out (port closed, device unplugged, line held) fails the command
    // now rather than after the reply time-out: no reply can come.
    if (!Write(wire.data(), static_cast<int32_t>(wire.size()), deadline.RemainingMs())) {
        if (waitReply) {
            AwaitReply(0);
        }
        return false;
    }
    if (!waitReply || AwaitReply(deadline.RemainingMs())) {
        return true;
    }
    RecordReplyFailure(wire, ReplyTimeout);
    return false;
}

bool CCommandChannel::OpenPort() {
    std::lock_guard command(CommandLock);
    bool opened = false;
    for (int attempt = 0; attempt < OpenAttempts() && !opened; ++attempt) {
        if (attempt > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kOpenRetryDelayMs));
        }
        opened = Open(Settings.PortNumber, Settings.BaudRate, Settings.Parity, Settings.DataBits,
                      Settings.StopBits);
    }
    if (!opened) {
        return false;
    }
    return StartMonitorOrClose();
}

bool CCommandChannel::ClosePort() {
    std::lock_guard command(CommandLock);
    Close();
    return true;
}
