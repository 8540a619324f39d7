#include "sim/SmartMotorSim.h"

#include <cstdlib>

#include "serial/WireText.h"

namespace sim {

namespace {

constexpr const char* kBanner = "** Zel Dozivazoro Ltd. **";

}  // namespace

CSmartMotorSim::CSmartMotorSim(int portNumber, std::string portDirectory, Program program,
                               int filters)
    : CSimulatedDevice(portNumber, std::move(portDirectory)), program_(program), filters_(filters) {
    identification_ = {{"ver", program == Program::Legacy ? "4.1" : "5.2"},
                       {"dev", "talvor"},
                       {"nof", std::to_string(filters)},
                       {"fsz", "50mm"},
                       {"sht", "standard"},
                       {"mot", "23165D"},
                       {"prc", program == Program::Legacy ? "SMv4.95" : "SMv5.0.4.42"},
                       {"tct", "CNI32-A"}};
}

CSmartMotorSim::~CSmartMotorSim() {
    Stop();
}

int32_t CSmartMotorSim::FilterPosition() const {
    std::lock_guard lock(stateMutex_);
    return position_;
}

int32_t CSmartMotorSim::ShutterState() const {
    std::lock_guard lock(stateMutex_);
    return shutter_;
}

bool CSmartMotorSim::EchoOn() const {
    std::lock_guard lock(stateMutex_);
    return echo_;
}

void CSmartMotorSim::SetEcho(bool on) {
    std::lock_guard lock(stateMutex_);
    echo_ = on;
}

void CSmartMotorSim::SetLightSensor(int32_t state) {
    std::lock_guard lock(stateMutex_);
    light_ = state;
}

void CSmartMotorSim::SetMoveTime(std::chrono::milliseconds perSlot) {
    std::lock_guard lock(stateMutex_);
    moveTime_ = perSlot;
}

void CSmartMotorSim::SetHomeTime(std::chrono::milliseconds homing) {
    std::lock_guard lock(stateMutex_);
    homeTime_ = homing;
}

void CSmartMotorSim::FailNext(const std::string& command) {
    std::lock_guard lock(stateMutex_);
    failNext_ = command;
}

void CSmartMotorSim::LoseEchoes(int count) {
    std::lock_guard lock(stateMutex_);
    loseEchoes_ = count;
}

void CSmartMotorSim::SetIdentification(std::map<std::string, std::string> fields) {
    std::lock_guard lock(stateMutex_);
    identification_ = std::move(fields);
}

uint64_t CSmartMotorSim::Resets() const {
    std::lock_guard lock(stateMutex_);
    return resets_;
}

std::string CSmartMotorSim::LastLine() const {
    std::lock_guard lock(stateMutex_);
    return lastLine_;
}

uint64_t CSmartMotorSim::LinesSeen() const {
    std::lock_guard lock(stateMutex_);
    return lines_;
}

void CSmartMotorSim::OnReceive(uint8_t byte) {
    if (byte == '\n') {
        return;
    }
    if (byte != '\r') {
        if (line_.size() < kMaxLine) {
            line_.push_back(static_cast<char>(byte));
        } else {
            lineOverlong_ = true;  // the motor's input buffer overflows: the line is lost
        }
        return;
    }
    std::string line;
    line.swap(line_);
    const bool overlong = lineOverlong_;
    lineOverlong_ = false;
    if (!overlong) {
        Execute(line);
    }
}

std::string CSmartMotorSim::Subroutine(int number, std::chrono::milliseconds& delay) {
    // Caller holds stateMutex_.
    switch (number) {
        case 0:
            return "LIGHT:" + std::to_string(light_) + "\r";
        case 4:
            if (g_ == -1) {
                return "FILT:" + std::to_string(position_) + "\r";
            }
            if (g_ >= 1 && g_ <= filters_) {
                delay = moveTime_ * std::abs(g_ - position_);
                position_ = g_;
                return "FILT:" + std::to_string(position_) + "\r";
            }
            return "FILT:0\r";
        case 5:
            delay = homeTime_;
            position_ = 1;
            return "Homing\rHOME:1\r";
        case 1:
        case 6:
            // The shutter lives in subroutine 1 of legacy programs and 6 of current ones; the
            // other number is not a subroutine of that program and answers nothing.
            if ((number == 1) != (program_ == Program::Legacy)) {
                return {};
            }
            if (d_ == 0 || d_ == 1) {
                shutter_ = d_;
            }
            return "SHTR:" + std::to_string(shutter_) + "\r";
        case 9:
            return "Fault report\r\nxxx=0\r\nyyy=17\r\n";
        case 100: {
            std::string reply = std::to_string(identification_.size()) + "\r\n";
            for (const auto& [key, value] : identification_) {
                reply.append(key).append("=").append(value).append("\r\n");
            }
            return reply;
        }
        default:
            return {};
    }
}

void CSmartMotorSim::Execute(const std::string& line) {
    std::string echo;
    std::string answer;
    std::chrono::milliseconds delay{0};
    {
        std::lock_guard lock(stateMutex_);
        ++lines_;
        lastLine_ = line;
        if (echo_ || line == "ECHO") {
            echo_ = true;
            if (loseEchoes_ > 0 && line != "ECHO") {
                --loseEchoes_;
            } else {
                echo = line + "\r";
            }
        }
        int32_t value = 0;
        if (line == "ECHO" || line == "ECHO_OFF") {
            echo_ = line == "ECHO";
        } else if (line == "RP" || line == "RPA") {
            answer = std::to_string(reportedPosition_ + position_ * 1000) + "\r";
        } else if (wire::ScanPrefixedInt(line, "g=", value)) {
            g_ = value;
        } else if (wire::ScanPrefixedInt(line, "d=", value)) {
            d_ = value;
        } else if (line == "Z") {
            ++resets_;
            echo_ = false;  // the program restarts as at power-up
            g_ = d_ = 0;
            shutter_ = 0;
            position_ = 1;
            delay = homeTime_;
            answer = std::string(kBanner) + "\rProgram 5.2\rHoming\rHOME:1\r";
        } else if (wire::ScanPrefixedInt(line, "GOSUB", value)) {
            if (!failNext_.empty() && failNext_ == line) {
                failNext_.clear();
                answer = "FATAL error 3 in subroutine " + std::to_string(value) + "\r";
            } else {
                answer = Subroutine(value, delay);
            }
        }
    }
    // The echo goes out at once; the answer when the motor has done the work.
    if (!echo.empty()) {
        Reply(echo);
    }
    if (!answer.empty()) {
        Reply(answer, delay);
    }
}

}  // namespace sim
