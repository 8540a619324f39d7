#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "sim/SimulatedDevice.h"

namespace sim {

// An Athena Legacy 16 series temperature controller at address 01, as the program sees it on
// the wire. Commands end with CR, answers with CR LF:
//   "#01?9"        identification, "#01 " and the model code
//   "#01R00"       process temperature, "#01R00=23.7"
//   "#01R01"       set point, "#01R01=25.0"
//   "#01M01 25.0C" set point write, answered "#01M01 " with the value now held and "C"
// Anything else is answered "ERROR".
class CAthena16Sim : public CSimulatedDevice {
public:
    static constexpr size_t kMaxCommand = 64;

    CAthena16Sim(int portNumber, std::string portDirectory);
    ~CAthena16Sim() override;

    void SetIdentification(std::string text);
    void SetTemperature(double temperature);
    double Setpoint() const;
    void SetSetpoint(double setpoint);

    uint64_t CommandsSeen() const;
    std::string LastCommand() const;

protected:
    void OnReceive(uint8_t byte) override;

private:
    std::string Execute(const std::string& command);

    mutable std::mutex stateMutex_;
    std::string pending_;
    bool overlong_ = false;
    std::string identification_ = "16DCB030";
    double temperature_ = 23.7;
    double setpoint_ = 25.0;
    uint64_t commands_ = 0;
    std::string lastCommand_;
};

}  // namespace sim
