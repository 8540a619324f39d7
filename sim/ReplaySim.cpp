#include "sim/ReplaySim.h"

#include <chrono>
#include <utility>

namespace sim {

namespace {

int ServedPort(int portNumber, const std::vector<trace::Traffic>& traffic) {
    std::set<int> ports;
    for (const trace::Traffic& record : traffic) {
        ports.insert(record.Port);
    }
    return ports.size() == 1 && !ports.contains(portNumber) ? *ports.begin() : portNumber;
}

}  // namespace

CReplaySim::CReplaySim(int portNumber, std::string portDirectory,
                       const std::vector<trace::Traffic>& traffic, bool fast)
    : CSimulatedDevice(portNumber, std::move(portDirectory)),
      fast_(fast),
      replies_(trace::RepliesOnPort(traffic, ServedPort(portNumber, traffic))) {}

CReplaySim::~CReplaySim() {
    Stop();
}

void CReplaySim::SetUnknownHandler(std::function<void(const std::string&)> handler) {
    unknownHandler_ = std::move(handler);
}

bool CReplaySim::Begins(const std::string& bytes) const {
    const auto at = replies_.lower_bound(bytes);
    return at != replies_.end() && at->first.starts_with(bytes);
}

bool CReplaySim::BeginsLonger(const std::string& bytes) const {
    const auto at = replies_.upper_bound(bytes);
    return at != replies_.end() && at->first.starts_with(bytes);
}

void CReplaySim::OnReceive(uint8_t byte) {
    if (!unknown_.empty()) {
        unknown_ += static_cast<char>(byte);
        return;
    }
    std::string grown = command_ + static_cast<char>(byte);
    if (!Begins(grown) && Known(command_)) {
        // The byte continues no command: the one before it is whole, and the byte starts anew.
        Answer(std::exchange(command_, {}));
        grown = std::string(1, static_cast<char>(byte));
    }
    if (!Begins(grown)) {
        unknown_ = std::move(grown);
        command_.clear();
        return;
    }
    command_ = std::move(grown);
    // A command that no longer one begins with is whole at once; otherwise the end of the read,
    // or a byte that continues no command, says where it ends.
    if (Known(command_) && !BeginsLonger(command_)) {
        Answer(std::exchange(command_, {}));
    }
}

void CReplaySim::OnReceiveEnd() {
    if (Known(command_)) {
        Answer(std::exchange(command_, {}));
    }
    if (!unknown_.empty()) {
        if (told_.insert(unknown_).second && unknownHandler_) {
            unknownHandler_(unknown_);
        }
        unknown_.clear();
    }
}

void CReplaySim::Answer(const std::string& command) {
    const std::vector<std::vector<trace::ReplyPiece>>& answers = replies_.at(command);
    size_t& next = next_[command];
    for (const trace::ReplyPiece& piece : answers[next]) {
        if (!piece.Bytes.empty()) {
            Reply(piece.Bytes, std::chrono::milliseconds(fast_ ? 0 : piece.DelayMs));
        }
    }
    next = (next + 1) % answers.size();
    answered_.fetch_add(1);
}

}  // namespace sim
