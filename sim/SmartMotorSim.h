#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "sim/SimulatedDevice.h"

namespace sim {

// A SmartMotor running an instrument's motion program, as the program sees it on the wire.
//
// Commands are lines ended by CR (a LF is ignored). After power-up or "Z" the motor does not
// echo; "ECHO" switches echo on, and from then on every command line is sent back, CR-ended,
// before anything the command answers. The motion program keeps the filter variable g and the
// shutter variable d; its subroutines answer "FILT:<n>" (4, filter: g = -1 asks, 1..N moves
// there, anything else answers 0), "SHTR:<n>" (6 in current programs, 1 in legacy ones; d = -1
// asks, 1 opens, 0 closes), "LIGHT:<n>" (0, light sensor), the identification (100: a count and
// key=value lines), the home report (5) and the fault report (9, ending in a "yyy=" line). "Z"
// restarts the program: banner, two lines, then "HOME:1" once homed. A filter move takes time in
// proportion to the slots it crosses. Any subroutine can be made to answer "FATAL" once.
class CSmartMotorSim : public CSimulatedDevice {
public:
    enum class Program { Legacy = 1, Current = 2 };

    static constexpr size_t kMaxLine = 256;

    CSmartMotorSim(int portNumber, std::string portDirectory, Program program = Program::Current,
                   int filters = 6);
    ~CSmartMotorSim() override;

    int32_t FilterPosition() const;
    int32_t ShutterState() const;
    bool EchoOn() const;
    void SetEcho(bool on);
    void SetLightSensor(int32_t state);
    // Time per filter slot crossed, and the time homing takes after "Z" or "GOSUB5".
    void SetMoveTime(std::chrono::milliseconds perSlot);
    void SetHomeTime(std::chrono::milliseconds homing);
    // The next call of this command (e.g. "GOSUB4") answers "FATAL" instead.
    void FailNext(const std::string& command);
    // Swallow the echo of the next count command lines (the motor forgot its echo mode).
    void LoseEchoes(int count);
    void SetIdentification(std::map<std::string, std::string> fields);
    uint64_t Resets() const;
    // Command lines received, in order, most recent last (bounded).
    std::string LastLine() const;
    uint64_t LinesSeen() const;

protected:
    void OnReceive(uint8_t byte) override;

private:
    void Execute(const std::string& line);
    std::string Subroutine(int number, std::chrono::milliseconds& delay);

    const Program program_;
    const int filters_;
    mutable std::mutex stateMutex_;
    std::string line_;
    bool lineOverlong_ = false;
    bool echo_ = false;
    int loseEchoes_ = 0;
    int32_t g_ = 0;
    int32_t d_ = 0;
    int32_t position_ = 1;
    int32_t shutter_ = 0;
    int32_t light_ = 1;
    int32_t reportedPosition_ = 0;  // RP
    std::chrono::milliseconds moveTime_{20};
    std::chrono::milliseconds homeTime_{50};
    std::string failNext_;
    uint64_t resets_ = 0;
    uint64_t lines_ = 0;
    std::string lastLine_;
    std::map<std::string, std::string> identification_;
};

}  // namespace sim
