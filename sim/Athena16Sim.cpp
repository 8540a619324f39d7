#include "sim/Athena16Sim.h"

#include <cstdio>

#include "serial/ReplyScan.h"

namespace sim {

namespace {

std::string OneDecimal(double value) {
    char text[400];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

}  // namespace

CAthena16Sim::CAthena16Sim(int portNumber, std::string portDirectory)
    : CSimulatedDevice(portNumber, std::move(portDirectory)) {}

CAthena16Sim::~CAthena16Sim() {
    Stop();
}

void CAthena16Sim::SetIdentification(std::string text) {
    std::lock_guard lock(stateMutex_);
    identification_ = std::move(text);
}

void CAthena16Sim::SetTemperature(double temperature) {
    std::lock_guard lock(stateMutex_);
    temperature_ = temperature;
}

double CAthena16Sim::Setpoint() const {
    std::lock_guard lock(stateMutex_);
    return setpoint_;
}

void CAthena16Sim::SetSetpoint(double setpoint) {
    std::lock_guard lock(stateMutex_);
    setpoint_ = setpoint;
}

uint64_t CAthena16Sim::CommandsSeen() const {
    std::lock_guard lock(stateMutex_);
    return commands_;
}

std::string CAthena16Sim::LastCommand() const {
    std::lock_guard lock(stateMutex_);
    return lastCommand_;
}

void CAthena16Sim::OnReceive(uint8_t byte) {
    std::string answer;
    {
        std::lock_guard lock(stateMutex_);
        if (byte == '\n') {
            return;
        }
        if (byte != '\r') {
            if (pending_.size() < kMaxCommand) {
                pending_.push_back(static_cast<char>(byte));
            } else {
                overlong_ = true;
            }
            return;
        }
        std::string command;
        command.swap(pending_);
        const bool overlong = overlong_;
        overlong_ = false;
        answer = overlong ? "ERROR" : Execute(command);
    }
    Reply(answer + "\r\n");
}

std::string CAthena16Sim::Execute(const std::string& command) {
    // Caller holds stateMutex_.
    ++commands_;
    lastCommand_ = command;
    if (command == "#01?9") {
        return "#01 " + identification_;
    }
    if (command == "#01R00") {
        return "#01R00=" + OneDecimal(temperature_);
    }
    if (command == "#01R01") {
        return "#01R01=" + OneDecimal(setpoint_);
    }
    constexpr std::string_view kWrite = "#01M01";
    if (command.compare(0, kWrite.size(), kWrite) == 0) {
        if (const std::optional<double> value =
                wire::ScanReal(std::string_view(command).substr(kWrite.size()))) {
            setpoint_ = *value;
            return "#01M01 " + OneDecimal(setpoint_) + "C";
        }
    }
    return "ERROR";
}

}  // namespace sim
