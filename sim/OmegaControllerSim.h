#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "sim/SimulatedDevice.h"

namespace sim {

// An Omega CNi32 temperature controller as the program sees it on the wire.
//
// A command starts with the recognition character "*" and ends with CR: "*Rxx" reads register
// xx (answered in the register's width as upper-case hex), "*Wxx<hex>" writes it (blanks ahead
// of the digits allowed), "*X01" reads the process temperature, "*Z02" restarts. The registers
// are the 37 of the instrument vocabulary with their "RTD (Heat) Filterwheel" values; a
// register outside them and any other command get no answer. Every answer ends with CR.
//
// While bit 2 (value 4) of the bus format register 0x1F is set the controller echoes: a read is
// answered with its command class and register ahead of the data ("R01" then 2003E8 gives
// "R012003E8"), the reading as "X01075.4", a write or restart with its class and register alone
// ("W01", "Z02"). Without echo a read answers the data alone and a write or restart nothing.
//
// The process temperature approaches set point 1 (register 0x01) as a first-order system with
// a time constant the test sets, computed from the time elapsed whenever it is read. It is shown
// with the decimal places that the reading configuration (register 0x08) asks for.
class COmegaControllerSim : public CSimulatedDevice {
public:
    // A command longer than this is garbage: it is dropped up to the next "*".
    static constexpr size_t kMaxCommand = 32;
    static constexpr size_t kCommandLogSize = 256;
    static constexpr double kAmbient = 23.0;

    COmegaControllerSim(int portNumber, std::string portDirectory);
    ~COmegaControllerSim() override;

    // A register's content; 0 for one the controller does not have.
    uint32_t Register(uint32_t reg) const;
    // Sets a register of the vocabulary; others are ignored, as the controller has none.
    void SetRegister(uint32_t reg, uint32_t value);
    // Whether the controller echoes now.
    bool EchoMode() const;
    // Echo whatever the bus format says (a firmware that keeps its echo setting elsewhere).
    void ForceEcho(bool on);
    // Repeat every command line, "*" to CR, before answering, as a half-duplex line adapter does.
    void SetCommandEcho(bool on);
    // After a write, this many reads of the written register still show the old value.
    void SetStaleReads(int count);
    // Commands equal to this (without "*" and CR) get no answer, as if it were lost on the line.
    void SetUnanswered(std::string command);
    // After "*Z02" the controller answers nothing for this long.
    void SetRestartTime(std::chrono::milliseconds time);
    // Seconds; 0 (the default) puts the process at the set point at once.
    void SetTimeConstant(double seconds);
    void SetProcessTemperature(double temperature);
    double ProcessTemperature();

    // Commands recognised or not, without "*" and CR: how many, the last, the most recent ones.
    uint64_t CommandsSeen() const;
    std::string LastCommand() const;
    std::vector<std::string> Commands() const;
    uint64_t Restarts() const;

protected:
    void OnReceive(uint8_t byte) override;

private:
    struct Slot {
        uint32_t value = 0;
        uint32_t width = 0;
        uint32_t shownValue = 0;  // what reads report while staleReads > 0
        int staleReads = 0;
    };

    void Execute(const std::string& command);
    bool EchoLocked() const;
    double AdvanceLocked(std::chrono::steady_clock::time_point now);
    std::string ReadingLocked(std::chrono::steady_clock::time_point now);

    mutable std::mutex stateMutex_;
    std::map<uint32_t, Slot> registers_;
    std::string pending_;
    bool collecting_ = false;
    bool forceEcho_ = false;
    bool commandEcho_ = false;
    std::string unanswered_;
    int staleReads_ = 0;
    std::chrono::milliseconds restartTime_{0};
    std::chrono::steady_clock::time_point silentUntil_{};
    double timeConstant_ = 0.0;
    double temperature_ = kAmbient;
    std::chrono::steady_clock::time_point temperatureAt_;
    uint64_t commands_ = 0;
    uint64_t restarts_ = 0;
    std::string lastCommand_;
    std::deque<std::string> log_;
};

}  // namespace sim
