#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>

#include "platform/Event.h"
#include "platform/Failure.h"

struct termios;

namespace platform {

// One open serial device. Move-only; closing puts the line settings back as the open found them
// and releases the exclusive hold.
class PortHandle {
public:
    PortHandle() = default;
    PortHandle(const PortHandle&) = delete;
    PortHandle& operator=(const PortHandle&) = delete;
    PortHandle(PortHandle&& other) noexcept;
    PortHandle& operator=(PortHandle&& other) noexcept;
    ~PortHandle();

    // Opens COMn for exclusive use, non-blocking. A port another program holds (its exclusive
    // flag, a flock, a live UUCP lock file) is Busy, for root too, and is left exactly as it was.
    // While open, a UUCP lock file names this process, where the lock folder is ours to write.
    // On failure the handle stays closed and error (and sysError, the errno of the failing call)
    // say why.
    static PortHandle Open(int portNumber, FailureKind& error, int& sysError);

    bool IsOpen() const { return fd_ >= 0; }
    // Waits a bounded moment for queued output to go, restores the line settings saved at open,
    // clears the exclusive flag this handle set, closes, and removes the lock file while it still
    // names this process. Never blocks on a stalled line.
    void Close();

    // Raw mode plus the line settings of a mode string ("baud=9600 parity=n data=8 stop=1"),
    // with RTS held on. False when the string does not parse or the OS refuses a setting;
    // the port then keeps the settings it had.
    bool Configure(const std::string& modeString);

    // Throws away only the bytes received but not read. A write on this system returns once
    // the bytes are queued, not sent; discarding the output queue before the next command would
    // cut the tail off the previous one (on a pseudo-terminal it even discards what the far end
    // has not read yet).
    void PurgeInput();

    // Reads what is there, up to size bytes, without blocking. Returns the count read, 0 when
    // nothing is waiting, -1 when the device is gone (hung up, unplugged); after -1 the handle
    // is marked gone and is no longer watched by WaitForAny.
    ssize_t Read(uint8_t* buffer, size_t size);

    // Writes all bytes, waiting for room at most timeoutMs in all; stops early when cancel is
    // signalled. Returns the number of bytes written. When that is short, sysError (if given)
    // is the errno of the failing call, or 0 when the time ran out or cancel came first.
    size_t Write(const uint8_t* data, size_t size, int64_t timeoutMs, Event* cancel,
                 int* sysError = nullptr);

    // Waits for the first of: the events in order, then the port having input or hanging up.
    // Returns the event's index, events.size() for the port, or -1 on time-out. A gone or
    // closed port is not watched.
    int WaitForAny(std::initializer_list<Event*> events, int64_t timeoutMs) const;

    bool Gone() const { return gone_; }
    int NativeHandle() const { return fd_; }

private:
    int fd_ = -1;
    bool gone_ = false;
    bool exclusive_ = false;  // this handle set the exclusive flag
    std::string lockFile_;    // the UUCP lock file this handle made, if any
    struct TermiosDeleter {
        void operator()(termios* settings) const;
    };
    // The line settings as the open found them.
    std::unique_ptr<termios, TermiosDeleter> restore_;
};

// What a look at COMn finds, for listing the machine's ports.
enum class PortPresence {
    Absent,     // nothing there, or something that is not a terminal device
    Available,  // a terminal device nobody holds
    Busy,       // a device that exists but is held or not working right now
    Forbidden,  // a device this user may not open
};

// Opens COMn for a moment and closes it again, changing nothing: no line settings, no modem
// lines, no exclusive flag, only read-only ioctls. EBUSY, EIO and a port another program holds
// (as Open judges it) mean "exists but busy", EACCES "forbidden"; a /dev/ttyS* with no UART
// behind it, and every other failure, mean no such port. Never blocks, never retries.
PortPresence ProbePort(int portNumber);
// The same for a device path already looked up.
PortPresence ProbePortPath(const std::string& devicePath);

// A plain-words message for a failed open, naming the port and, where it helps, the device path;
// for a busy port, the program that holds it where that can be known.
std::string DescribePortError(FailureKind error, int portNumber, int sysError);

}  // namespace platform
