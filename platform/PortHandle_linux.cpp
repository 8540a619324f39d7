#include <fcntl.h>
#include <linux/major.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/LineMode.h"
#include "platform/PortHandle.h"
#include "platform/PortLocks.h"
#include "platform/PortNames.h"
#include "platform/PortTable.h"

namespace platform {

namespace {

struct SpeedEntry {
    int baud;
    speed_t speed;
};

constexpr SpeedEntry kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

FailureKind ClassifyOpenErrno(int err) {
    switch (err) {
        case ENOENT:
        case ENXIO:
        case ENODEV:
        case ENOTDIR:
        case ELOOP:
            return FailureKind::NoSuchPort;
        case EACCES:
        case EPERM:
        case EROFS:
            return FailureKind::NoPermission;
        case EBUSY:
        case EWOULDBLOCK:
        case EIO:
            return FailureKind::Busy;
        default:
            return FailureKind::OpenFailed;
    }
}

// How long Close waits for queued output before it puts the old line settings back. Long enough
// for any command this program sends at 9600 baud; a line stalled by flow control or a hung
// adapter must not hold the program up for longer.
constexpr int64_t kDrainLimitMs = 500;

int BaudOf(speed_t speed) {
    for (const SpeedEntry& e : kSpeeds) {
        if (e.speed == speed) {
            return e.baud;
        }
    }
    return 0;
}

// Restoring the settings with bytes still queued would send their tail at the old speed. There is
// no wake-up for "output queue empty", and tcdrain can wait for ever, so: look at the queue, sleep
// about as long as it needs at the line's speed, look again, within kDrainLimitMs.
void WaitBrieflyForOutput(int fd) {
    const Deadline deadline(kDrainLimitMs);
    termios tio;
    const int baud = ::tcgetattr(fd, &tio) == 0 ? BaudOf(::cfgetospeed(&tio)) : 0;
    int queued = 0;
    while (::ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0) {
        const int64_t left = deadline.RemainingMs();
        if (left == 0) {
            return;
        }
        // Ten bits a character covers start, stop and parity closely enough.
        const int64_t needMs = baud > 0 ? int64_t{queued} * 10 * 1000 / baud + 1 : 1;
        const int64_t sleepMs = std::min(left, std::max<int64_t>(needMs, 1));
        timespec pause{static_cast<time_t>(sleepMs / 1000),
                       static_cast<long>(sleepMs % 1000) * 1'000'000};
        ::nanosleep(&pause, nullptr);
    }
}

// The kernel makes /dev/ttyS0-31 whether or not a UART is there. USB adapters report no UART
// type either, so this is asked of the 8250 family's own major only.
bool NoUartBehind(int fd, const struct stat& device) {
    serial_struct serial{};
    return major(device.st_rdev) == TTY_MAJOR && ::ioctl(fd, TIOCGSERIAL, &serial) == 0 &&
           serial.type == PORT_UNKNOWN;
}

bool HungUp(int fd) {
    pollfd p{fd, POLLIN, 0};
    int rc;
    do {
        rc = ::poll(&p, 1, 0);
    } while (rc < 0 && errno == EINTR);
    return rc > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

}  // namespace

PortHandle::PortHandle(PortHandle&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      gone_(std::exchange(other.gone_, false)),
      exclusive_(std::exchange(other.exclusive_, false)),
      lockFile_(std::exchange(other.lockFile_, {})),
      restore_(std::move(other.restore_)) {}

PortHandle& PortHandle::operator=(PortHandle&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
        gone_ = std::exchange(other.gone_, false);
        exclusive_ = std::exchange(other.exclusive_, false);
        lockFile_ = std::exchange(other.lockFile_, {});
        restore_ = std::move(other.restore_);
    }
    return *this;
}

void PortHandle::TermiosDeleter::operator()(termios* settings) const {
    delete settings;
}

PortHandle::~PortHandle() {
    Close();
}

PortHandle PortHandle::Open(int portNumber, FailureKind& error, int& sysError) {
    PortHandle handle;
    error = FailureKind::None;
    sysError = 0;
    const auto path = PortDevicePath(portNumber);
    if (!path) {
        error = FailureKind::NoSuchPort;
        sysError = ENOENT;
        return handle;
    }
    int fd;
    do {
        fd = ::open(path->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        sysError = errno;
        error = ClassifyOpenErrno(sysError);
        return handle;
    }
    handle.fd_ = fd;
    if (!::isatty(fd)) {
        sysError = ENOTTY;
        error = FailureKind::NotASerialPort;
        handle.Close();
        return handle;
    }
    // TIOCEXCL keeps ordinary users' opens out, but not root's: root asks whether the flag is
    // set, and whether a UUCP lock file names a live owner. The advisory lock refuses any second
    // opener that plays by the same rules, whoever it is. A port held in any of these ways is
    // closed again untouched.
    if (HeldByAnotherProgram(fd, *path)) {
        sysError = EBUSY;
        error = FailureKind::Busy;
        ::close(std::exchange(handle.fd_, -1));
        return handle;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        sysError = errno;
        error = sysError == EWOULDBLOCK ? FailureKind::Busy : FailureKind::OpenFailed;
        ::close(std::exchange(handle.fd_, -1));
        return handle;
    }
    // Programs that take no flock (minicom, picocom, anything built on lockdev) look for a lock
    // file instead, and may have made theirs since we looked.
    if (TakeLockFile(*path, handle.lockFile_) == LockFileOutcome::Held) {
        sysError = EBUSY;
        error = FailureKind::Busy;
        ::close(std::exchange(handle.fd_, -1));
        return handle;
    }
    handle.exclusive_ = ::ioctl(fd, TIOCEXCL) == 0;

    // A serial port is always a raw byte pipe for this program, whatever line settings follow:
    // without this a terminal translates CR and LF, echoes, and holds bytes back until a newline.
    // What the port had is kept and put back on close, as terminal programs do: the next user of
    // the port (a login on a console line, another tool) finds it as it left it.
    termios tio;
    if (::tcgetattr(fd, &tio) == 0) {
        handle.restore_.reset(new termios(tio));
        ::cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        tio.c_cflag &= ~CRTSCTS;
        tio.c_iflag &= ~(IXON | IXOFF | IXANY);
        tio.c_cc[VMIN] = 1;
        tio.c_cc[VTIME] = 0;
        ::tcsetattr(fd, TCSANOW, &tio);
    }
    return handle;
}

void PortHandle::Close() {
    if (fd_ >= 0) {
        if (restore_ && !gone_) {
            WaitBrieflyForOutput(fd_);
            ::tcsetattr(fd_, TCSANOW, restore_.get());
        }
        // The exclusive flag outlives our descriptor while anyone else (a simulator's own slave
        // end) keeps the terminal open; clear it so the next open by a normal user is not
        // refused. Only ours, though: a flag someone else set is theirs to clear.
        if (exclusive_) {
            ::ioctl(fd_, TIOCNXCL);
        }
        ::close(fd_);
        fd_ = -1;
    }
    ReleaseLockFile(std::exchange(lockFile_, {}));
    gone_ = false;
    exclusive_ = false;
    restore_.reset();
}

bool PortHandle::Configure(const std::string& modeString) {
    if (fd_ < 0) {
        return false;
    }
    const auto mode = ParseLineMode(modeString);
    if (!mode) {
        return false;
    }
    termios tio;
    if (::tcgetattr(fd_, &tio) != 0) {
        return false;
    }
    if (mode->baud) {
        const auto* it = std::find_if(std::begin(kSpeeds), std::end(kSpeeds),
                                      [&](const SpeedEntry& e) { return e.baud == *mode->baud; });
        if (it == std::end(kSpeeds)) {
            return false;
        }
        ::cfsetispeed(&tio, it->speed);
        ::cfsetospeed(&tio, it->speed);
    }
    if (mode->dataBits) {
        tio.c_cflag &= ~CSIZE;
        static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
        tio.c_cflag |= kSizes[*mode->dataBits - 5];
    }
    if (mode->parity) {
        tio.c_cflag &= ~(PARENB | PARODD | CMSPAR);
        switch (*mode->parity) {
            case LineMode::Parity::None:
                break;
            case LineMode::Parity::Odd:
                tio.c_cflag |= PARENB | PARODD;
                break;
            case LineMode::Parity::Even:
                tio.c_cflag |= PARENB;
                break;
            case LineMode::Parity::Mark:
                tio.c_cflag |= PARENB | CMSPAR | PARODD;
                break;
            case LineMode::Parity::Space:
                tio.c_cflag |= PARENB | CMSPAR;
                break;
        }
    }
    if (mode->stopBits) {
        // There is no 1.5 in termios; a UART set to two stop bits with five data bits sends
        // one and a half, which is the only word size where 1.5 is legal anyway.
        if (*mode->stopBits == LineMode::StopBits::One) {
            tio.c_cflag &= ~CSTOPB;
        } else {
            tio.c_cflag |= CSTOPB;
        }
    }
    // RTS held on. A pseudo-terminal has no modem lines and answers ENOTTY: that is not a
    // configuration failure, or no pseudo-terminal could ever be configured.
    int rts = TIOCM_RTS;
    if (::ioctl(fd_, TIOCMBIS, &rts) != 0 && errno != ENOTTY && errno != EINVAL) {
        return false;
    }
    return ::tcsetattr(fd_, TCSANOW, &tio) == 0;
}

void PortHandle::PurgeInput() {
    if (fd_ >= 0) {
        ::tcflush(fd_, TCIFLUSH);
    }
}

ssize_t PortHandle::Read(uint8_t* buffer, size_t size) {
    if (fd_ < 0 || gone_) {
        return -1;
    }
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, size);
        if (n > 0) {
            return n;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        // read() 0 on a raw terminal means hang-up unless someone changed VMIN under us; EIO is
        // an unplugged adapter or a closed pseudo-terminal master. Either way the device stays
        // gone, and a loop that kept asking would spin at full speed.
        if ((n < 0 && errno != EAGAIN) || HungUp(fd_)) {
            gone_ = true;
            return -1;
        }
        return 0;
    }
}

size_t PortHandle::Write(const uint8_t* data, size_t size, int64_t timeoutMs, Event* cancel,
                         int* sysError) {
    int error = 0;
    // Every way out says why it ended short, when the caller asked.
    const auto finish = [&](size_t written) {
        if (sysError != nullptr) {
            *sysError = error;
        }
        return written;
    };
    if (fd_ < 0 || gone_) {
        error = fd_ < 0 ? EBADF : EIO;
        return finish(0);
    }
    const Deadline deadline(timeoutMs);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd_, data + done, size - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            error = errno;
            if (errno == EIO || errno == ENXIO || errno == ENODEV) {
                gone_ = true;
            }
            break;
        }
        // Output queue full: wait for room, but never past the deadline or a cancel.
        pollfd fds[2] = {{fd_, POLLOUT, 0}, {cancel ? cancel->NativeHandle() : -1, POLLIN, 0}};
        const int64_t left = deadline.RemainingMs();
        if (left == 0 || (cancel && cancel->IsSet())) {
            break;
        }
        const int rc =
            ::poll(fds, 2, left < 0 ? -1 : static_cast<int>(std::min<int64_t>(left, 1 << 30)));
        if (rc < 0 && errno != EINTR) {
            error = errno;
            break;
        }
        if (rc > 0 && (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL))) {
            error = EIO;
            gone_ = true;
            break;
        }
    }
    return finish(done);
}

int PortHandle::WaitForAny(std::initializer_list<Event*> events, int64_t timeoutMs) const {
    const Deadline deadline(timeoutMs);
    constexpr size_t kMax = 8;
    pollfd fds[kMax + 1];
    const size_t count = std::min(events.size(), kMax);
    const bool watchPort = fd_ >= 0 && !gone_;
    // An event's state, not its handle, says whether it is set: Set marks the state first and
    // writes the handle a moment later, and in that moment an event must still come before the
    // port (a write requested before input that has arrived purges that input). Looked at once
    // poll returns: a set event whose handle is still to be written delays the return by that
    // moment only.
    const auto firstSet = [&]() -> int {
        int i = 0;
        for (Event* e : events) {
            if (static_cast<size_t>(i) == count) {
                break;
            }
            if (e->TryAcquire()) {
                return i;
            }
            ++i;
        }
        return -1;
    };
    for (;;) {
        size_t i = 0;
        for (Event* e : events) {
            if (i == count) {
                break;
            }
            fds[i] = {e->NativeHandle(), POLLIN, 0};
            ++i;
        }
        fds[count] = {watchPort ? fd_ : -1, POLLIN, 0};
        const int64_t left = deadline.RemainingMs();
        int rc = ::poll(fds, count + 1,
                        left < 0 ? -1 : static_cast<int>(std::min<int64_t>(left, 1 << 30)));
        if (rc < 0 && errno != EINTR) {
            return -1;
        }
        // A handle that polls ready may belong to an event reset meanwhile, and an event set
        // meanwhile may not have reached its handle yet: the state decides.
        if (const int set = firstSet(); set >= 0) {
            return set;
        }
        if (watchPort && fds[count].revents != 0) {
            return static_cast<int>(count);
        }
        if (rc == 0 || deadline.Expired()) {
            return -1;
        }
    }
}

PortPresence ProbePort(int portNumber) {
    const auto path = PortDevicePath(portNumber);
    return path ? ProbePortPath(*path) : PortPresence::Absent;
}

PortPresence ProbePortPath(const std::string& path) {
    const auto failed = [](int err) {
        if (err == EACCES || err == EPERM) {
            return PortPresence::Forbidden;
        }
        return err == EBUSY || err == EIO ? PortPresence::Busy : PortPresence::Absent;
    };
    // Only a character device can be a port; looking first keeps us from opening a FIFO, a
    // directory or a stray file someone left in the port directory.
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        return failed(errno);
    }
    if (!S_ISCHR(st.st_mode)) {
        return PortPresence::Absent;
    }
    // Looking must not change what is looked at: a kernel console or another program's session
    // may be on this port. So no line settings, no modem lines, no exclusive flag: only asking.
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return failed(errno);
    }
    PortPresence presence = PortPresence::Available;
    if (NoUartBehind(fd, st) || !::isatty(fd)) {
        presence = PortPresence::Absent;
    } else if (HeldByAnotherProgram(fd, path) ||
               (::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK)) {
        // A shared lock, gone with our descriptor, only tells whether someone holds the port
        // exclusively; two listings at once do not see each other as holders.
        presence = PortPresence::Busy;
    }
    ::close(fd);
    return presence;
}

std::string DescribePortError(FailureKind error, int portNumber, int sysError) {
    const std::string name = "COM" + std::to_string(portNumber);
    const std::optional<PortEntry> entry = FindPortEntry(portNumber);
    // The device itself says most to a person; a mapped adapter's link is long and says less.
    const std::optional<std::string> path =
        entry ? std::optional(entry->Present() ? entry->device : entry->path)
              : DefaultPortDevicePath(portNumber);
    const std::string where = path ? " (" + *path + ")" : "";
    switch (error) {
        case FailureKind::None:
            return name + " is open.";
        case FailureKind::NoSuchPort:
            if (portNumber <= 0) {
                return "No COM port was chosen.";
            }
            if (entry && !entry->identity.empty() && !entry->Present()) {
                return name + " (" + (entry->adapter.empty() ? entry->identity : entry->adapter) +
                       ") is unplugged. Plug the adapter in and try again.";
            }
            if (!path) {
                return name + " is not a port on this computer.";
            }
            return name + where + " does not exist. Check that the adapter is plugged in.";
        case FailureKind::Busy: {
            const auto holder = path ? FindPortHolder(*path) : std::nullopt;
            return name + where + " is " +
                   (holder ? InUseBy(*holder) : "in use by another program") +
                   ". Close it there and try again.";
        }
        case FailureKind::NoPermission:
            return "You do not have permission to use " + name + where +
                   ". Ask for your user to be added to the \"dialout\" group, then log in again.";
        case FailureKind::NotASerialPort:
            return name + where + " is not a serial port.";
        default:
            break;
    }
    return name + where + " could not be opened: " + std::strerror(sysError) + ".";
}

}  // namespace platform
