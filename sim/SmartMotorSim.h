#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

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
//
// A blank ends a command as a carriage return does, and the echo sends back what ended it. A
// byte from 80 to F8 before a command addresses it: 80 to every motor, 80 + n to the motor with
// address n ("SADDR<n>" gives it one; "Z" takes it away); the motor then takes the commands that
// follow until another address byte comes, and echoes what is not for it all the same.
//
// The motor stores a compiled program, which never holds the byte FF. "RCKS" reports its
// checksums and P, or F when the program did not arrive whole. "UP" sends the program in blocks
// of 8 bytes, each further one when the host sends 06 (echoed in echo mode), the last one
// shorter and followed by FF; "UPLOAD" does the same with only the program's printable text.
// "LOAD" answers 06 and takes every following byte as the new program, answering 06 after each
// 32 and echoing none of them, until FF FF 20 ends it. A download can be made to break off half
// way, an upload to stop.
class CSmartMotorSim : public CSimulatedDevice {
public:
    enum class Program { Legacy = 1, Current = 2 };

    static constexpr size_t kMaxLine = 256;
    // The motor's program memory.
    static constexpr size_t kProgramMemory = 32 * 1024;

    // The program a motor holds until it is given another: a short header, then the motion
    // program's text with the compiler's codes in it.
    static std::string DefaultProgram();

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

    std::string StoredProgram() const;
    void SetStoredProgram(std::string program);
    // False after a download that did not arrive whole.
    bool StoredProgramValid() const;
    // The motor's address (0: none).
    int32_t Address() const;
    // The next download stops being acknowledged after this many program bytes; the bytes
    // after them are lost, and FF FF 20 then leaves a program that fails its checksum.
    void BreakDownloadAfter(size_t bytes);
    // The next upload stops, without its end, after this many program bytes.
    void BreakUploadAfter(size_t bytes);
    // Downloads begun ("LOAD" received).
    uint64_t Downloads() const;

protected:
    void OnReceive(uint8_t byte) override;

private:
    struct Output {
        std::string bytes;
        std::chrono::milliseconds delay{0};
    };

    // All of these run on the device thread with stateMutex_ held and collect what the motor
    // sends; OnReceive sends it once the lock is released.
    void CommandByte(uint8_t byte, std::vector<Output>& out);
    void Execute(const std::string& line, char terminator, std::vector<Output>& out);
    std::string Subroutine(int number, std::chrono::milliseconds& delay);
    void LoadByte(uint8_t byte, std::vector<Output>& out);
    std::string NextUploadBlock();
    std::string ChecksumReport() const;

    const Program program_;
    const int filters_;
    mutable std::mutex stateMutex_;
    std::string line_;
    bool lineOverlong_ = false;
    uint8_t addressByte_ = 0;  // the address byte before the line being received, 0 when none
    int32_t address_ = 0;
    bool selected_ = true;
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

    std::string stored_;
    bool storedValid_ = true;
    std::optional<size_t> breakDownload_;
    std::optional<size_t> breakUpload_;
    uint64_t downloads_ = 0;
    // Downloading: the program bytes taken, whether the rest is being lost, and how far the end
    // bytes FF FF 20 have come (0 to 2).
    bool loading_ = false;
    size_t loadCount_ = 0;
    std::optional<size_t> loadBreak_;
    bool loadBroken_ = false;
    int loadEnd_ = 0;
    // Uploading: what is sent, how far, and where it stops short.
    bool uploading_ = false;
    std::string upload_;
    size_t uploadPos_ = 0;
    std::optional<size_t> uploadBreak_;
};

}  // namespace sim
