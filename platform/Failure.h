#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Why something done with a device did not succeed. Every layer below the windows reports its
// failures in this one family: a kind, sorted by what the technician can do about it, and the
// reason in words that name the port and, where it helps, the fix.
namespace platform {

enum class FailureKind {
    None,
    // Opening the port.
    NoSuchPort,      // no device at that name, or port 0 / an unmapped number
    Busy,            // another program (or another port object) holds it
    NoPermission,    // the user may not open the device (not in the dialout group)
    NotASerialPort,  // the name exists but is not a terminal device
    OpenFailed,      // the system refused the open for another reason
    // The port is open but the system refused a line setting; the port keeps the ones it had.
    LineSettingRefused,
    // A command.
    NotOpen,             // the port is not open: never connected, or closed since
    WriteFailed,         // the system refused the bytes
    WriteTimedOut,       // the line took no more bytes in time (flow control, a stalled device)
    NoReply,             // nothing came back in time
    ReplyNotUnderstood,  // something came back, but not the answer asked for, or only part of it
    DeviceFault,         // the device reported a fault, or did not do what it was told
    DeviceGone,          // the device went away: hung up, unplugged
    NotFitted,           // the instrument as configured has no such device
    InvalidRequest,      // the value asked for cannot be sent to the device
    FileError,           // a file the operation needs could not be read, made or written
};

struct Failure {
    FailureKind Kind = FailureKind::None;
    std::string Text;  // one sentence or two, for the technician

    explicit operator bool() const { return Kind != FailureKind::None; }
};

// A short fixed name for reports and tests: "no-reply", "device-gone", ...
const char* FailureKindName(FailureKind kind);

// Bytes as a person can read them, in quotes: printable ASCII as it is, every other byte (and
// "<") as <hex>; cut after limit bytes with "...". Empty input gives nothing, unquoted.
std::string PrintableBytes(std::string_view bytes, size_t limit = 40);

// "COM5 (/dev/ttyUSB0)", or "COM5" when the number maps to no device.
std::string PortLabel(int portNumber);

}  // namespace platform
