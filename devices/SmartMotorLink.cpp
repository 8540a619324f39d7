#include "devices/SmartMotorLink.h"

#include <algorithm>

namespace {

// What is left until deadline, for a write bounded by it; 0 once it has passed.
int64_t MsUntil(CSmartMotorLink::Clock::time_point deadline) {
    const auto left = deadline - CSmartMotorLink::Clock::now();
    if (left <= CSmartMotorLink::Clock::duration::zero()) {
        return 0;
    }
    return std::chrono::ceil<std::chrono::milliseconds>(left).count();
}

}  // namespace

CSmartMotorLink::CSmartMotorLink() {
    OwnerDevice = this;
}

CSmartMotorLink::~CSmartMotorLink() {
    // The monitoring thread queues into this object: it must be gone first.
    Close();
}

void CSmartMotorLink::ReceiveChar(uint8_t byte) {
    {
        std::lock_guard lock(queueMutex_);
        if (queue_.size() >= kMaxUnread) {
            return;
        }
        queue_.push_back(byte);
    }
    queueReady_.notify_one();
}

void CSmartMotorLink::WriteStarting() {
    std::lock_guard lock(queueMutex_);
    queue_.clear();
}

std::optional<uint8_t> CSmartMotorLink::ReadByte(Clock::time_point deadline) {
    std::unique_lock lock(queueMutex_);
    if (!queueReady_.wait_until(lock, deadline, [this] { return !queue_.empty(); })) {
        return std::nullopt;
    }
    const uint8_t byte = queue_.front();
    queue_.pop_front();
    heard_.Add(byte);
    return byte;
}

bool CSmartMotorLink::Send(std::string_view bytes, Clock::time_point deadline) {
    while (!bytes.empty()) {
        const size_t piece = std::min(bytes.size(), static_cast<size_t>(kWriteBufferSize));
        if (!Write(bytes.data(), static_cast<int32_t>(piece), MsUntil(deadline))) {
            return false;
        }
        bytes.remove_prefix(piece);
    }
    return true;
}

bool CSmartMotorLink::SendCommand(const char* data, bool waitEcho, bool waitReply, int32_t length) {
    if (data == nullptr && length != 0) {
        return false;
    }
    std::string wire = length < 0 ? std::string(data) + motor_transfer::kCommandEnd
                                  : std::string(data, static_cast<size_t>(length));
    CommandInFlight = wire;
    ReceiveLine.clear();
    ForgetHeard();
    // The write shares the time-out of what comes back first, so that a line that does not
    // drain fails the command as a silent motor would.
    const auto firstWait =
        Clock::now() + std::chrono::milliseconds(waitEcho ? EchoTimeout : ReplyTimeout);
    if (!Send(wire, firstWait)) {
        return false;
    }
    if (waitEcho) {
        const auto deadline = firstWait;
        motor_transfer::CEchoWatch echo(wire);
        for (;;) {
            const std::optional<uint8_t> byte = ReadByte(deadline);
            if (!byte) {
                return false;
            }
            if (echo.Feed(*byte)) {
                break;
            }
        }
    }
    if (waitReply) {
        const auto deadline =
            waitEcho ? Clock::now() + std::chrono::milliseconds(ReplyTimeout) : firstWait;
        motor_transfer::CReplyLines lines;
        for (;;) {
            const std::optional<uint8_t> byte = ReadByte(deadline);
            if (!byte) {
                return false;
            }
            if (std::optional<std::string> line = lines.Feed(*byte); line && !line->empty()) {
                ReceiveLine = std::move(*line);
                ProcessReply();
                break;
            }
        }
    }
    return true;
}

bool CSmartMotorLink::OpenPort() {
    if (!Open(Settings.PortNumber, Settings.BaudRate, Settings.Parity, Settings.DataBits,
              Settings.StopBits)) {
        return false;
    }
    return StartMonitorOrClose();
}

bool CSmartMotorLink::ClosePort() {
    Close();
    return true;
}
