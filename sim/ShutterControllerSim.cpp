#include "sim/ShutterControllerSim.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>

namespace sim {

namespace {

constexpr std::string_view kBanner = "*- Zel Dozivazoro Ltd. -*";

struct CommandPattern {
    std::string_view pattern;  // '.' any byte, 'h' a hexadecimal digit
    int firstGeneration;
};

constexpr std::array<CommandPattern, 15> kCommands = {{
    {"#0S..", 1},
    {"#0R", 1},
    {"!0D", 2},
    {"!0V", 2},
    {"!0IR", 2},
    {"#0Thhhh", 3},
    {"!0TH?", 3},
    {"!0TM?", 3},
    {"!0TH6-", 3},
    {"!0TH-", 3},
    {"!0TH+", 3},
    {"!0TH6+", 3},
    {"!0TS", 3},
    {"!0TR", 3},
    {"!0WP.", 3},
}};

bool IsHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool Matches(std::string_view pattern, std::string_view bytes) {
    if (bytes.size() > pattern.size()) {
        return false;
    }
    for (size_t i = 0; i < bytes.size(); ++i) {
        const char p = pattern[i];
        if (p == '.') {
            continue;
        }
        if (p == 'h' ? !IsHex(bytes[i]) : p != bytes[i]) {
            return false;
        }
    }
    return true;
}

std::string TwoBytes(uint16_t value) {
    return {static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)};
}

}  // namespace

CShutterControllerSim::CShutterControllerSim(int portNumber, std::string portDirectory,
                                             Generation generation)
    : CSimulatedDevice(portNumber, std::move(portDirectory)), generation_(generation) {
    const bool v3 = generation == Generation::V30;
    // All eight keys, as the box sends them. A single-filter instrument has no motor and no
    // temperature controller of its own: the box says "none" for both.
    identification_ = {{"ver", v3 ? "3.0.2" : "2.6.1"},
                       {"dev", "miran"},
                       {"nof", "1"},
                       {"fsz", "25mm"},
                       {"sht", v3 ? "feedback" : "standard"},
                       {"mot", "none"},
                       {"prc", "PIC16F690"},
                       {"tct", "none"}};
    status_ = {{"sts", "ok"}, {"tmp", "21"}};
}

CShutterControllerSim::~CShutterControllerSim() {
    Stop();
}

int32_t CShutterControllerSim::ReportedStateLocked() const {
    if (commanded_ != 1) {
        return 0;
    }
    if (generation_ == Generation::V30 && active_ >= light_) {
        return 0;  // tripped: the sensor sees too little light for this threshold
    }
    return 1;
}

int32_t CShutterControllerSim::ShutterState() const {
    std::lock_guard lock(stateMutex_);
    return ReportedStateLocked();
}

void CShutterControllerSim::SetShutterState(int32_t state) {
    std::lock_guard lock(stateMutex_);
    commanded_ = state;
}

void CShutterControllerSim::SetIdentification(std::map<std::string, std::string> fields) {
    std::lock_guard lock(stateMutex_);
    identification_ = std::move(fields);
}

void CShutterControllerSim::SetStatus(std::map<std::string, std::string> fields) {
    std::lock_guard lock(stateMutex_);
    status_ = std::move(fields);
}

void CShutterControllerSim::SetCorruptCheckByte(bool corrupt) {
    std::lock_guard lock(stateMutex_);
    corruptCheck_ = corrupt;
}

void CShutterControllerSim::ForceStateByte(int byte) {
    std::lock_guard lock(stateMutex_);
    forcedState_ = byte;
}

void CShutterControllerSim::SetLightLevel(uint16_t level) {
    std::lock_guard lock(stateMutex_);
    light_ = level;
}

void CShutterControllerSim::DimAfterStateReads(int reads, uint16_t level) {
    std::lock_guard lock(stateMutex_);
    dimAfterReads_ = reads;
    dimLevel_ = level;
}

uint16_t CShutterControllerSim::TripPoint() const {
    std::lock_guard lock(stateMutex_);
    return light_;
}

uint16_t CShutterControllerSim::ActiveThreshold() const {
    std::lock_guard lock(stateMutex_);
    return active_;
}

void CShutterControllerSim::SetActiveThreshold(uint16_t value) {
    std::lock_guard lock(stateMutex_);
    active_ = value;
}

uint16_t CShutterControllerSim::SavedThreshold() const {
    std::lock_guard lock(stateMutex_);
    return saved_;
}

void CShutterControllerSim::SetSavedThreshold(uint16_t value) {
    std::lock_guard lock(stateMutex_);
    saved_ = value;
}

bool CShutterControllerSim::WriteProtected() const {
    std::lock_guard lock(stateMutex_);
    return writeProtected_;
}

void CShutterControllerSim::SetThresholdQueryMute(bool mute) {
    std::lock_guard lock(stateMutex_);
    thresholdMute_ = mute;
}

void CShutterControllerSim::ForceThresholdReadBack(int value) {
    std::lock_guard lock(stateMutex_);
    forcedReadBack_ = value;
}

uint64_t CShutterControllerSim::CommandsSeen() const {
    std::lock_guard lock(stateMutex_);
    return commands_;
}

std::string CShutterControllerSim::LastCommand() const {
    std::lock_guard lock(stateMutex_);
    return lastCommand_;
}

bool CShutterControllerSim::Knows(std::string_view pattern) const {
    for (const CommandPattern& c : kCommands) {
        if (c.pattern == pattern) {
            return static_cast<int>(generation_) >= c.firstGeneration;
        }
    }
    return false;
}

bool CShutterControllerSim::IsPrefixOfCommand(const std::string& bytes) const {
    return std::any_of(kCommands.begin(), kCommands.end(), [&](const CommandPattern& c) {
        return static_cast<int>(generation_) >= c.firstGeneration && Matches(c.pattern, bytes);
    });
}

void CShutterControllerSim::OnReceive(uint8_t byte) {
    pending_.push_back(static_cast<char>(byte));
    if (!IsPrefixOfCommand(pending_)) {
        // Resynchronise on a byte that may start the next command.
        pending_.clear();
        if (byte == '#' || byte == '!') {
            pending_.push_back(static_cast<char>(byte));
        }
        return;
    }
    if (Execute(pending_)) {
        pending_.clear();
    }
}

std::string CShutterControllerSim::StatusReply() const {
    // Caller holds stateMutex_.
    std::string reply;
    if (generation_ == Generation::V30) {
        // v3.0 ends its status lines with CR LF and does not count the header.
        reply = std::to_string(status_.size() + 3) + "\r\n";
        for (const auto& [key, value] : status_) {
            reply.append(key).append("=").append(value).append("\r\n");
        }
        reply.append("bls=").append(active_ < light_ ? "1" : "0");
        reply.append("\r\n");
        reply.append("rbk=").append(TwoBytes(active_)).append("\r\n");
        reply.append("lsa=").append(TwoBytes(light_)).append("\r\n");
    } else {
        // v2.6 counts its header as one of the lines.
        reply = std::to_string(status_.size() + 1) + "\r";
        for (const auto& [key, value] : status_) {
            reply.append(key).append("=").append(value).append("\r");
        }
    }
    return reply;
}

bool CShutterControllerSim::Execute(const std::string& command) {
    std::string answer;
    {
        std::lock_guard lock(stateMutex_);
        const auto complete = [&](std::string_view pattern) {
            return command.size() == pattern.size() && Knows(pattern) && Matches(pattern, command);
        };
        if (complete("#0S..")) {
            const auto state = static_cast<uint8_t>(command[3]);
            const auto check = static_cast<uint8_t>(command[4]);
            // A set command whose check byte does not match, or with a state other than open
            // and closed, is ignored.
            if (((state + check) & 0xFF) == 0xFF && state <= 1) {
                commanded_ = state;
            }
        } else if (complete("#0R")) {
            auto state =
                static_cast<uint8_t>(forcedState_ >= 0 ? forcedState_ : ReportedStateLocked());
            const auto check = static_cast<uint8_t>(255 - state + (corruptCheck_ ? 1 : 0));
            answer = {static_cast<char>(state), static_cast<char>(check)};
            if (dimAfterReads_ > 0 && --dimAfterReads_ == 0) {
                light_ = dimLevel_;
            }
        } else if (complete("!0V")) {
            answer = std::string(kBanner) + "\r";
        } else if (complete("!0IR")) {
            answer = std::to_string(identification_.size()) + "\r";
            for (const auto& [key, value] : identification_) {
                answer.append(key).append("=").append(value).append("\r");
            }
        } else if (complete("!0D")) {
            answer = StatusReply();
        } else if (complete("#0Thhhh")) {
            active_ = static_cast<uint16_t>(std::stoul(command.substr(3), nullptr, 16));
        } else if (complete("!0TH?")) {
            if (!thresholdMute_) {
                char text[32];
                std::snprintf(
                    text, sizeof text, "!0TH?=%04X\r",
                    static_cast<unsigned>(forcedReadBack_ >= 0 ? forcedReadBack_ : active_));
                answer = text;
            }
        } else if (complete("!0TM?")) {
            answer = "!0TM?=" + TwoBytes(saved_);
        } else if (complete("!0TH6+")) {
            active_ = static_cast<uint16_t>(std::min<uint32_t>(uint32_t{active_} * 2, 0xFFFF));
        } else if (complete("!0TH6-")) {
            active_ = static_cast<uint16_t>(std::max<uint32_t>(active_ / 2, 1));
        } else if (complete("!0TH+")) {
            active_ = static_cast<uint16_t>(std::min<uint32_t>(uint32_t{active_} + 1, 0xFFFF));
        } else if (complete("!0TH-")) {
            active_ = static_cast<uint16_t>(std::max<int32_t>(int32_t{active_} - 1, 1));
        } else if (complete("!0TS")) {
            if (!writeProtected_) {
                saved_ = active_;
            }
        } else if (complete("!0TR")) {
            active_ = saved_;
        } else if (complete("!0WP.")) {
            writeProtected_ = command[4] == 0;
        } else {
            return false;
        }
        ++commands_;
        lastCommand_ = command;
    }
    if (!answer.empty()) {
        Reply(answer);
    }
    return true;
}

}  // namespace sim
