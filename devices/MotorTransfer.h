#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The SmartMotor's programming protocol, without a port: the commands the firmware host sends,
// and what it reads back taken apart: the program as "UP"/"UPLOAD" sends it, the echo of a
// command, reply lines and the checksum report. Every piece here is bounded: no stream of bytes
// from a motor grows memory past its limit.
namespace motor_transfer {

// Bytes of the motor's program memory: the most a program (and so an upload or a program
// file) can be.
inline constexpr size_t kProgramMemory = 32 * 1024;
// An upload comes in blocks of this many bytes; the host asks for each further one with kAck.
inline constexpr size_t kUploadBlock = 8;
// A download goes in blocks of this many bytes; the motor acknowledges each with kAck.
inline constexpr size_t kDownloadBlock = 32;
inline constexpr uint8_t kAck = 0x06;
// Ends an uploaded program. A program never holds it, which is why a program file must not.
inline constexpr uint8_t kProgramEnd = 0xFF;
// What ends a download: two end bytes and a blank.
inline constexpr std::string_view kDownloadEnd = "\xFF\xFF\x20";
// The motor takes a blank as the end of a command, as its program transfer procedures show.
inline constexpr char kCommandEnd = ' ';
// A byte before a command addresses it: kAddressAll to every motor, kAddressAll + n to motor n.
inline constexpr uint8_t kAddressAll = 0x80;

// The commands the host finds a motor and moves its program with.
inline constexpr std::string_view kEchoCommand = "ECHO";         // echo every command back
inline constexpr std::string_view kAddressCommand = "SADDR1";    // take address 1
inline constexpr std::string_view kEchoOffCommand = "ECHO_OFF";  // stop echoing
inline constexpr std::string_view kChecksumCommand = "RCKS";     // report the program checksum
inline constexpr std::string_view kUploadCommand = "UP";         // send the program back
inline constexpr std::string_view kDownloadCommand = "LOAD";     // take a new program

// A command as it goes on the wire: the address byte (0 for every motor, n for motor n), the
// command and kCommandEnd.
std::string Addressed(uint8_t address, std::string_view command);
// A reply line without the echo of command (the command and kCommandEnd) that a motor in echo
// mode puts ahead of it, when it is there.
std::string_view WithoutEcho(std::string_view line, std::string_view command);

// Takes an uploaded program apart: blocks of kUploadBlock bytes, the last one shorter (maybe
// empty) and followed by kProgramEnd.
class CUploadFramer {
public:
    enum class Step {
        Data,        // a program byte, kept
        BlockEnd,    // a program byte that completes a block: ask for the next one
        ProgramEnd,  // the end byte: the program is complete
        TooLong,     // more bytes than a program can have; nothing more is kept
    };

    explicit CUploadFramer(size_t limit = kProgramMemory) : limit_(limit) {}

    // Takes the next byte from the motor. After ProgramEnd or TooLong every byte answers the
    // same again.
    Step Feed(uint8_t byte);

    const std::string& Program() const { return program_; }
    bool Ended() const { return ended_; }

private:
    size_t limit_;
    std::string program_;
    size_t inBlock_ = 0;
    bool ended_ = false;
    bool tooLong_ = false;
};

// Watches the motor's bytes for the echo of what the host wrote: true once the last bytes
// received are exactly those. Bytes before it (a late line, noise) do not matter.
class CEchoWatch {
public:
    explicit CEchoWatch(std::string expected) : expected_(std::move(expected)) {}
    bool Feed(uint8_t byte);

private:
    std::string expected_;
    std::string tail_;
};

// Assembles reply lines: a carriage return ends a line; other control bytes and bytes outside
// printable ASCII (a stray acknowledgement, an address byte) are dropped. A line longer than
// kMaxLine is thrown away whole when its end comes.
class CReplyLines {
public:
    static constexpr size_t kMaxLine = 256;
    // The completed line, when byte completes one.
    std::optional<std::string> Feed(uint8_t byte);

private:
    std::string line_;
    bool overlong_ = false;
};

// The motor's answer to "RCKS": groups of hexadecimal digits, then "P" (pass) or "F" (fail),
// separated by blanks: "000049 0025E0 P".
struct ChecksumReport {
    std::string Text;  // the line as received, without surrounding blanks
    bool Passed = false;
};
std::optional<ChecksumReport> ParseChecksumReport(std::string_view line);

// platform::PrintableBytes as window text: quoted, printable ASCII as it is, every other byte
// as <hex>, cut after limit bytes with "...". Empty input gives "nothing".
std::wstring DescribeBytes(std::string_view bytes, size_t limit = 40);

// Keeps the first bytes a motor sent in answer to something, for telling the technician what
// it said; one byte past kLimit is kept so that DescribeBytes shows the text was cut.
class CHeardBytes {
public:
    static constexpr size_t kLimit = 40;
    void Add(uint8_t byte);
    void Clear() { bytes_.clear(); }
    const std::string& Bytes() const { return bytes_; }

private:
    std::string bytes_;
};

}  // namespace motor_transfer
