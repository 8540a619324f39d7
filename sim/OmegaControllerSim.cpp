#include "sim/OmegaControllerSim.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "devices/OmegaSetpoint.h"
#include "serial/ReplyScan.h"
#include "tools/omega/RegisterTable.h"

namespace sim {

namespace {

constexpr uint32_t kSetpoint1 = 0x01;
constexpr uint32_t kReadingConfig = 0x08;
constexpr uint32_t kBusFormat = 0x1F;
constexpr uint32_t kEchoBit = 0x04;

// Two hex digits of a register number; -1 when they are not.
int RegisterNumber(std::string_view text) {
    if (text.size() < 2 || wire::HexValue(text[0]) < 0 || wire::HexValue(text[1]) < 0) {
        return -1;
    }
    return wire::HexValue(text[0]) * 16 + wire::HexValue(text[1]);
}

std::string Hex(uint32_t value, uint32_t width) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", static_cast<int>(width), value);
    return text;
}

}  // namespace

COmegaControllerSim::COmegaControllerSim(int portNumber, std::string portDirectory)
    : CSimulatedDevice(portNumber, std::move(portDirectory)),
      temperatureAt_(std::chrono::steady_clock::now()) {
    for (const RegisterEntry& entry : omega::RtdHeatFilterwheelTable()) {
        registers_[entry.Register] = Slot{entry.Value, entry.Width, entry.Value, 0};
    }
}

COmegaControllerSim::~COmegaControllerSim() {
    Stop();
}

uint32_t COmegaControllerSim::Register(uint32_t reg) const {
    std::lock_guard lock(stateMutex_);
    const auto it = registers_.find(reg);
    return it == registers_.end() ? 0 : it->second.value;
}

void COmegaControllerSim::SetRegister(uint32_t reg, uint32_t value) {
    std::lock_guard lock(stateMutex_);
    const auto it = registers_.find(reg);
    if (it == registers_.end()) {
        return;
    }
    if (reg == kSetpoint1) {
        AdvanceLocked(std::chrono::steady_clock::now());
    }
    it->second.value = value;
    it->second.shownValue = value;
    it->second.staleReads = 0;
}

bool COmegaControllerSim::EchoLocked() const {
    return forceEcho_ || (registers_.at(kBusFormat).value & kEchoBit) != 0;
}

bool COmegaControllerSim::EchoMode() const {
    std::lock_guard lock(stateMutex_);
    return EchoLocked();
}

void COmegaControllerSim::ForceEcho(bool on) {
    std::lock_guard lock(stateMutex_);
    forceEcho_ = on;
}

void COmegaControllerSim::SetCommandEcho(bool on) {
    std::lock_guard lock(stateMutex_);
    commandEcho_ = on;
}

void COmegaControllerSim::SetStaleReads(int count) {
    std::lock_guard lock(stateMutex_);
    staleReads_ = count;
}

void COmegaControllerSim::SetRestartTime(std::chrono::milliseconds time) {
    std::lock_guard lock(stateMutex_);
    restartTime_ = time;
}

void COmegaControllerSim::SetTimeConstant(double seconds) {
    std::lock_guard lock(stateMutex_);
    AdvanceLocked(std::chrono::steady_clock::now());
    timeConstant_ = seconds;
}

void COmegaControllerSim::SetProcessTemperature(double temperature) {
    std::lock_guard lock(stateMutex_);
    temperature_ = temperature;
    temperatureAt_ = std::chrono::steady_clock::now();
}

double COmegaControllerSim::ProcessTemperature() {
    std::lock_guard lock(stateMutex_);
    return AdvanceLocked(std::chrono::steady_clock::now());
}

uint64_t COmegaControllerSim::CommandsSeen() const {
    std::lock_guard lock(stateMutex_);
    return commands_;
}

std::string COmegaControllerSim::LastCommand() const {
    std::lock_guard lock(stateMutex_);
    return lastCommand_;
}

std::vector<std::string> COmegaControllerSim::Commands() const {
    std::lock_guard lock(stateMutex_);
    return {log_.begin(), log_.end()};
}

uint64_t COmegaControllerSim::Restarts() const {
    std::lock_guard lock(stateMutex_);
    return restarts_;
}

double COmegaControllerSim::AdvanceLocked(std::chrono::steady_clock::time_point now) {
    const double target = omega::DecodeSetpoint(registers_.at(kSetpoint1).value);
    const double elapsed = std::chrono::duration<double>(now - temperatureAt_).count();
    if (timeConstant_ <= 0.0) {
        temperature_ = target;
    } else {
        temperature_ = target + (temperature_ - target) * std::exp(-elapsed / timeConstant_);
    }
    temperatureAt_ = now;
    return temperature_;
}

std::string COmegaControllerSim::ReadingLocked(std::chrono::steady_clock::time_point now) {
    // The display's decimal point: code 1 whole degrees, 2 tenths, 3 hundredths, 4 thousandths.
    const uint32_t d = registers_.at(kReadingConfig).value & 7;
    const int decimals = std::clamp(static_cast<int>(d) - 1, 0, 3);
    char text[64];
    std::snprintf(text, sizeof text, "%0*.*f", 5, decimals, AdvanceLocked(now));
    return text;
}

void COmegaControllerSim::SetUnanswered(std::string command) {
    std::lock_guard lock(stateMutex_);
    unanswered_ = std::move(command);
}

void COmegaControllerSim::OnReceive(uint8_t byte) {
    std::string command;
    {
        std::lock_guard lock(stateMutex_);
        if (byte == '*') {
            pending_.clear();
            collecting_ = true;
            return;
        }
        if (!collecting_ || byte == '\n') {
            return;
        }
        if (byte != '\r') {
            if (pending_.size() >= kMaxCommand) {
                collecting_ = false;  // runaway: wait for the next "*"
                pending_.clear();
            } else {
                pending_.push_back(static_cast<char>(byte));
            }
            return;
        }
        collecting_ = false;
        command.swap(pending_);
    }
    Execute(command);
}

void COmegaControllerSim::Execute(const std::string& command) {
    std::string answer;
    {
        std::lock_guard lock(stateMutex_);
        const auto now = std::chrono::steady_clock::now();
        if (now < silentUntil_) {
            return;  // restarting
        }
        ++commands_;
        lastCommand_ = command;
        log_.push_back(command);
        if (log_.size() > kCommandLogSize) {
            log_.pop_front();
        }
        if (!unanswered_.empty() && command == unanswered_) {
            return;
        }
        if (commandEcho_) {
            answer = "*" + command + "\r";
        }
        // The controller echoes in the mode it was in when the command came.
        const bool echo = EchoLocked();
        const std::string head = echo ? command.substr(0, 3) : std::string();
        const char kind = command.empty() ? '\0' : command[0];
        const int reg = RegisterNumber(std::string_view(command).substr(kind ? 1 : 0));
        const auto it = reg < 0 ? registers_.end() : registers_.find(static_cast<uint32_t>(reg));
        if (kind == 'R' && command.size() == 3 && it != registers_.end()) {
            Slot& r = it->second;
            const uint32_t shown = r.staleReads > 0 ? r.shownValue : r.value;
            if (r.staleReads > 0) {
                --r.staleReads;
            }
            answer += head + Hex(shown, r.width) + "\r";
        } else if (kind == 'W' && it != registers_.end()) {
            // Blanks may stand ahead of the digits; then one to width hex digits.
            std::string_view data = std::string_view(command).substr(3);
            data.remove_prefix(std::min(data.find_first_not_of(' '), data.size()));
            Slot& r = it->second;
            const bool valid = !data.empty() && data.size() <= r.width &&
                               std::all_of(data.begin(), data.end(),
                                           [](char c) { return wire::HexValue(c) >= 0; });
            if (valid) {
                uint32_t value = 0;
                for (char c : data) {
                    value = value * 16 + static_cast<uint32_t>(wire::HexValue(c));
                }
                if (reg == static_cast<int>(kSetpoint1)) {
                    AdvanceLocked(now);
                }
                r.shownValue = r.staleReads > 0 ? r.shownValue : r.value;
                r.staleReads = staleReads_;
                r.value = value;
                if (echo) {
                    answer += head + "\r";
                }
            }
        } else if (command == "X01") {
            answer += head + ReadingLocked(now) + "\r";
        } else if (command == "Z02") {
            ++restarts_;
            silentUntil_ = now + restartTime_;
            if (echo) {
                answer += head + "\r";
            }
        }
    }
    if (!answer.empty()) {
        Reply(answer);
    }
}

}  // namespace sim
