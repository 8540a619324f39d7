#include "sim/SimulatedDevice.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <utility>

#include "platform/PortNames.h"

namespace sim {

namespace {

constexpr size_t kReceivedTailLimit = size_t{64} * 1024;

bool MakeRaw(int fd) {
    termios tio;
    if (::tcgetattr(fd, &tio) != 0) {
        return false;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

int SpeedToBaud(speed_t speed) {
    struct Entry {
        speed_t speed;
        int baud;
    };
    static constexpr Entry kTable[] = {
        {B50, 50},       {B75, 75},         {B110, 110},       {B134, 134},       {B150, 150},
        {B200, 200},     {B300, 300},       {B600, 600},       {B1200, 1200},     {B1800, 1800},
        {B2400, 2400},   {B4800, 4800},     {B9600, 9600},     {B19200, 19200},   {B38400, 38400},
        {B57600, 57600}, {B115200, 115200}, {B230400, 230400}, {B460800, 460800}, {B921600, 921600},
    };
    for (const Entry& e : kTable) {
        if (e.speed == speed) {
            return e.baud;
        }
    }
    return 0;
}

}  // namespace

CSimulatedDevice::CSimulatedDevice(int portNumber, std::string portDirectory)
    : portNumber_(portNumber), portDirectory_(std::move(portDirectory)) {}

CSimulatedDevice::~CSimulatedDevice() {
    Stop();
}

std::string CSimulatedDevice::PortPath() const {
    return portDirectory_ + "/COM" + std::to_string(portNumber_);
}

std::string CSimulatedDevice::SlavePath() const {
    std::lock_guard lock(mutex_);
    return slavePath_;
}

bool CSimulatedDevice::Connected() const {
    std::lock_guard lock(mutex_);
    return masterFd_ >= 0;
}

bool CSimulatedDevice::OpenPseudoTerminal() {
    // Publishing into a folder someone else owns or can write to would hand them our port
    // names; the console would refuse to read it anyway.
    std::string unsafe;
    if (!platform::MakePortDirectory(portDirectory_, unsafe)) {
        return false;
    }
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) {
        return false;
    }
    char name[128];
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, name, sizeof name) != 0) {
        ::close(master);
        return false;
    }
    // The device keeps a slave end of its own open: without one the master sees a hang-up
    // whenever the program closes its port, and a real device does not vanish when a program
    // lets go of it.
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        ::close(master);
        return false;
    }
    MakeRaw(slave);
    MakeRaw(master);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);

    const std::string entry = PortPath();
    const std::string temporary = entry + ".new";
    ::unlink(temporary.c_str());
    if (::symlink(name, temporary.c_str()) != 0 ||
        ::rename(temporary.c_str(), entry.c_str()) != 0) {
        ::unlink(temporary.c_str());
        ::close(slave);
        ::close(master);
        return false;
    }
    std::lock_guard lock(mutex_);
    masterFd_ = master;
    slaveFd_ = slave;
    slavePath_ = name;
    lineFreeAt_ = {};
    return true;
}

void CSimulatedDevice::ClosePseudoTerminal() {
    // Caller holds mutex_.
    if (masterFd_ < 0) {
        return;
    }
    ::unlink(PortPath().c_str());
    ::close(masterFd_);
    ::close(slaveFd_);
    masterFd_ = -1;
    slaveFd_ = -1;
    output_.clear();
    sentCv_.notify_all();
}

bool CSimulatedDevice::Start() {
    if (thread_.joinable()) {
        return true;
    }
    if (!OpenPseudoTerminal()) {
        return false;
    }
    stop_.Reset();
    thread_ = std::thread(&CSimulatedDevice::Run, this);
    return true;
}

void CSimulatedDevice::Stop() {
    if (thread_.joinable()) {
        stop_.Set();
        thread_.join();
        stop_.Reset();
    }
    std::lock_guard lock(mutex_);
    ClosePseudoTerminal();
}

void CSimulatedDevice::HangUp() {
    Stop();
}

bool CSimulatedDevice::PlugIn() {
    Stop();
    return Start();
}

bool CSimulatedDevice::HoldLine(bool held) {
    std::lock_guard lock(mutex_);
    // Stopping the terminal's output is what flow control does to a real line: the program's
    // writes find no room (EAGAIN) and its poll never reports the port writable until the line
    // is started again. What the device sends is not held.
    return slaveFd_ >= 0 && ::tcflow(slaveFd_, held ? TCOOFF : TCOON) == 0;
}

void CSimulatedDevice::SetPacing(Pacing pacing) {
    std::lock_guard lock(mutex_);
    pacing_ = pacing;
}

void CSimulatedDevice::SetReplyDelay(std::chrono::milliseconds delay) {
    std::lock_guard lock(mutex_);
    delay_ = delay;
}

void CSimulatedDevice::DropReplies(int count) {
    std::lock_guard lock(mutex_);
    dropCount_ = count;
}

void CSimulatedDevice::HangUpOnNextReply() {
    std::lock_guard lock(mutex_);
    hangUpNext_ = true;
}

void CSimulatedDevice::Reply(std::string_view bytes, std::chrono::milliseconds extraDelay) {
    {
        std::lock_guard lock(mutex_);
        auto due = std::max(std::chrono::steady_clock::now(), receivedAt_) + delay_ + extraDelay;
        if (!output_.empty()) {
            due = std::max(due, output_.back().due);  // a device answers in order
        }
        if (hangUpNext_) {
            hangUpNext_ = false;
            output_.push_back({due, {}, true});
        } else if (dropCount_ > 0) {
            --dropCount_;
            return;
        } else if (changeNext_ && changeSkip_ > 0) {
            --changeSkip_;
            output_.push_back({due, std::string(bytes), false});
            ++repliesSent_;
        } else if (changeNext_) {
            output_.push_back({due, changeNext_(bytes), false});
            changeNext_ = nullptr;
            ++repliesSent_;
        } else {
            output_.push_back({due, std::string(bytes), false});
            ++repliesSent_;
        }
    }
    wake_.Set();
}

void CSimulatedDevice::ChangeNextReply(std::function<std::string(std::string_view)> change,
                                       int skip) {
    std::lock_guard lock(mutex_);
    changeNext_ = std::move(change);
    changeSkip_ = skip;
}

void CSimulatedDevice::Inject(std::string_view bytes) {
    {
        std::lock_guard lock(mutex_);
        output_.push_back({std::chrono::steady_clock::now(), std::string(bytes), false});
    }
    wake_.Set();
}

void CSimulatedDevice::Flood(std::string pattern) {
    {
        std::lock_guard lock(mutex_);
        floodPattern_ = std::move(pattern);
        floodAt_ = 0;
    }
    wake_.Set();
}

void CSimulatedDevice::StopFlood() {
    std::lock_guard lock(mutex_);
    floodPattern_.clear();
}

uint64_t CSimulatedDevice::FloodedBytes() const {
    std::lock_guard lock(mutex_);
    return floodedBytes_;
}

void CSimulatedDevice::FloodSome() {
    std::lock_guard lock(mutex_);
    if (floodPattern_.empty() || masterFd_ < 0) {
        return;
    }
    // As much as a terminal takes at once; the pattern runs on from where the last write left it.
    char block[4096];
    for (size_t i = 0; i < sizeof block; ++i) {
        block[i] = floodPattern_[(floodAt_ + i) % floodPattern_.size()];
    }
    const ssize_t n = ::write(masterFd_, block, sizeof block);
    if (n > 0) {
        floodAt_ = (floodAt_ + static_cast<size_t>(n)) % floodPattern_.size();
        floodedBytes_ += static_cast<uint64_t>(n);
    }
}

uint64_t CSimulatedDevice::ReceivedCount() const {
    std::lock_guard lock(mutex_);
    return receivedCount_;
}

std::string CSimulatedDevice::ReceivedTail() const {
    std::lock_guard lock(mutex_);
    return receivedTail_;
}

void CSimulatedDevice::ClearReceived() {
    std::lock_guard lock(mutex_);
    receivedTail_.clear();
}

bool CSimulatedDevice::WaitUntilSent(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return sentCv_.wait_for(lock, timeout, [&] { return output_.empty(); });
}

uint64_t CSimulatedDevice::RepliesSent() const {
    std::lock_guard lock(mutex_);
    return repliesSent_;
}

bool CSimulatedDevice::WaitForReceived(uint64_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return receivedCv_.wait_for(lock, timeout, [&] { return receivedCount_ >= count; });
}

int CSimulatedDevice::LineBaud() const {
    std::lock_guard lock(mutex_);
    termios tio;
    if (slaveFd_ < 0 || ::tcgetattr(slaveFd_, &tio) != 0) {
        return 0;
    }
    return SpeedToBaud(::cfgetospeed(&tio));
}

std::chrono::nanoseconds CSimulatedDevice::CharacterTime() const {
    // Caller holds mutex_. Start bit, data bits, parity, stop bits: what one character costs
    // on the wire at the settings the program applied.
    termios tio;
    if (slaveFd_ < 0 || ::tcgetattr(slaveFd_, &tio) != 0) {
        return {};
    }
    const int baud = SpeedToBaud(::cfgetospeed(&tio));
    if (baud <= 0) {
        return {};
    }
    int bits = 1 + 1;
    switch (tio.c_cflag & CSIZE) {
        case CS5:
            bits += 5;
            break;
        case CS6:
            bits += 6;
            break;
        case CS7:
            bits += 7;
            break;
        default:
            bits += 8;
            break;
    }
    if (tio.c_cflag & PARENB) {
        bits += 1;
    }
    if (tio.c_cflag & CSTOPB) {
        bits += 1;
    }
    return std::chrono::nanoseconds(1'000'000'000LL * bits / baud);
}

int CSimulatedDevice::NextTimeoutMs(std::chrono::steady_clock::time_point now) const {
    // Caller holds mutex_.
    if (output_.empty() || masterFd_ < 0) {
        return -1;
    }
    auto due = output_.front().due;
    if (pacing_ == Pacing::PortBaud) {
        due = std::max(due, lineFreeAt_) + CharacterTime();
    }
    if (due <= now) {
        return 0;
    }
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(due - now).count());
}

void CSimulatedDevice::FlushDue(std::chrono::steady_clock::time_point now) {
    std::lock_guard lock(mutex_);
    struct NotifyWhenDrained {
        const CSimulatedDevice& device;
        ~NotifyWhenDrained() {
            if (device.output_.empty()) {
                device.sentCv_.notify_all();
            }
        }
    } notify{*this};
    while (!output_.empty() && masterFd_ >= 0) {
        Pending& next = output_.front();
        const bool paced = pacing_ == Pacing::PortBaud;
        // A paced byte arrives whole one character time after the line is free to send it.
        const auto arrives = paced ? std::max(next.due, lineFreeAt_) + CharacterTime() : next.due;
        if (arrives > now) {
            return;
        }
        if (next.hangUp) {
            ClosePseudoTerminal();
            return;
        }
        const size_t chunk = paced ? std::min<size_t>(1, next.bytes.size()) : next.bytes.size();
        ssize_t n = chunk == 0 ? 0 : ::write(masterFd_, next.bytes.data(), chunk);
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                // The program is not reading and the terminal's buffer is full: try again a
                // little later rather than spin.
                next.due = now + std::chrono::milliseconds(5);
                return;
            }
            output_.pop_front();
            continue;
        }
        next.bytes.erase(0, static_cast<size_t>(n));
        if (paced) {
            lineFreeAt_ = arrives;
        }
        if (next.bytes.empty()) {
            output_.pop_front();
        }
        if (paced) {
            return;
        }
    }
}

void CSimulatedDevice::Run() {
    uint8_t buffer[512];
    for (;;) {
        pollfd fds[3];
        int timeout;
        {
            std::lock_guard lock(mutex_);
            // Flooding, the device writes whenever the terminal has room, and sleeps while the
            // program is not reading.
            fds[2] = {masterFd_,
                      static_cast<short>(floodPattern_.empty() ? POLLIN : POLLIN | POLLOUT), 0};
            timeout = NextTimeoutMs(std::chrono::steady_clock::now());
        }
        fds[0] = {stop_.NativeHandle(), POLLIN, 0};
        fds[1] = {wake_.NativeHandle(), POLLIN, 0};
        const int rc = ::poll(fds, 3, timeout);
        if (rc < 0 && errno != EINTR) {
            break;
        }
        if (stop_.IsSet()) {
            break;
        }
        wake_.TryAcquire();
        if (rc > 0 && fds[2].fd >= 0 && (fds[2].revents & (POLLHUP | POLLERR)) &&
            !(fds[2].revents & POLLIN)) {
            // Cannot happen while our own slave end is open; if it does, the terminal is dead
            // and polling it again would spin.
            std::lock_guard lock(mutex_);
            ClosePseudoTerminal();
            continue;
        }
        if (rc > 0 && fds[2].fd >= 0 && (fds[2].revents & POLLIN)) {
            const ssize_t n = ::read(fds[2].fd, buffer, sizeof buffer);
            if (n > 0) {
                {
                    std::lock_guard lock(mutex_);
                    receivedCount_ += static_cast<uint64_t>(n);
                    receivedTail_.append(reinterpret_cast<const char*>(buffer),
                                         static_cast<size_t>(n));
                    if (receivedTail_.size() > kReceivedTailLimit) {
                        receivedTail_.erase(0, receivedTail_.size() - kReceivedTailLimit);
                    }
                }
                receivedCv_.notify_all();
                const auto readAt = std::chrono::steady_clock::now();
                for (ssize_t i = 0; i < n; ++i) {
                    {
                        // The program's write lands in the terminal at once; on a real line
                        // each byte takes a character time, so answers wait for the last one.
                        std::lock_guard lock(mutex_);
                        if (pacing_ == Pacing::PortBaud) {
                            receiveLineFreeAt_ =
                                std::max(readAt, receiveLineFreeAt_) + CharacterTime();
                            receivedAt_ = receiveLineFreeAt_;
                        } else {
                            receivedAt_ = {};
                        }
                    }
                    OnReceive(buffer[i]);
                }
                OnReceiveEnd();
            }
        }
        FlushDue(std::chrono::steady_clock::now());
        if (rc > 0 && fds[2].fd >= 0 && (fds[2].revents & POLLOUT)) {
            FloodSome();
        }
    }
}

}  // namespace sim
