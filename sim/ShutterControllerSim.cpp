#include "sim/ShutterControllerSim.h"

#include <array>
#include <string_view>

namespace sim {

namespace {

constexpr std::string_view kBanner = "*- Zel Dozivazoro Ltd. -*";

// The commands the box knows. '.' stands for any one byte.
constexpr std::array<std::string_view, 5> kCommands = {"#0S..", "#0R", "!0D", "!0V", "!0IR"};

bool Matches(std::string_view pattern, std::string_view bytes) {
    if (bytes.size() > pattern.size()) {
        return false;
    }
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (pattern[i] != '.' && pattern[i] != bytes[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

CShutterControllerSim::CShutterControllerSim(int portNumber, std::string portDirectory)
    : CSimulatedDevice(portNumber, std::move(portDirectory)) {
    identification_ = {
        {"ver", "2.6"}, {"dev", "miran"}, {"nof", "1"}, {"fsz", "25mm"}, {"sht", "standard"}};
    status_ = {{"sts", "ok"}, {"tmp", "21"}};
}

CShutterControllerSim::~CShutterControllerSim() {
    Stop();
}

int32_t CShutterControllerSim::ShutterState() const {
    std::lock_guard lock(stateMutex_);
    return shutter_;
}

void CShutterControllerSim::SetShutterState(int32_t state) {
    std::lock_guard lock(stateMutex_);
    shutter_ = state;
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

uint64_t CShutterControllerSim::CommandsSeen() const {
    std::lock_guard lock(stateMutex_);
    return commands_;
}

bool CShutterControllerSim::IsPrefixOfCommand(const std::string& bytes) const {
    for (std::string_view pattern : kCommands) {
        if (Matches(pattern, bytes)) {
            return true;
        }
    }
    return false;
}

void CShutterControllerSim::OnReceive(uint8_t byte) {
    pending_.push_back(static_cast<char>(byte));
    if (!IsPrefixOfCommand(pending_)) {
        // Resynchronise on the byte that may start the next command.
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

bool CShutterControllerSim::Execute(const std::string& command) {
    std::string answer;
    {
        std::lock_guard lock(stateMutex_);
        if (command.size() == 5 && command.compare(0, 3, "#0S") == 0) {
            const auto state = static_cast<uint8_t>(command[3]);
            const auto check = static_cast<uint8_t>(command[4]);
            // The box ignores a set command whose check byte does not match, and any state
            // other than open and closed.
            if (((state + check) & 0xFF) == 0xFF && state <= 1) {
                shutter_ = state;
            }
        } else if (command == "#0R") {
            const auto state = static_cast<uint8_t>(shutter_);
            const auto check = static_cast<uint8_t>(255 - state + (corruptCheck_ ? 1 : 0));
            answer = {static_cast<char>(state), static_cast<char>(check)};
        } else if (command == "!0V") {
            answer = std::string(kBanner) + "\r";
        } else if (command == "!0IR" || command == "!0D") {
            const auto& fields = command == "!0IR" ? identification_ : status_;
            // This generation counts the status header as one of its lines; the
            // identification header counts only the lines after it.
            const size_t count = fields.size() + (command == "!0D" ? 1 : 0);
            answer = std::to_string(count) + "\r";
            for (const auto& [key, value] : fields) {
                answer.append(key).append("=").append(value).append("\r");
            }
        } else {
            return false;
        }
        ++commands_;
    }
    if (!answer.empty()) {
        Reply(answer);
    }
    return true;
}

}  // namespace sim
