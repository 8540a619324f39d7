// The port against simulated devices on pseudo-terminals: opening, exclusivity, the hand-over
// of writes to the monitoring thread, purging, echoes and hang-ups.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "serial/SerialDevice.h"
#include "serial/SerialEchoSink.h"
#include "serial/SerialPort.h"
#include "sim/ShutterControllerSim.h"
#include "support/TestPortDirectory.h"

namespace {

using testing::HasSubstr;
using testing_support::kFirstTestPort;

// State a test shares with the port's thread, under a lock, and a wait for it to change.
class Guarded {
protected:
    template <typename T>
    T Locked(const T& value) {
        std::lock_guard lock(mutex_);
        return value;
    }
    template <typename Done>
    bool WaitFor(int timeoutMs, Done done) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), done);
    }
    std::mutex mutex_;
    std::condition_variable cv_;
};

// An owner that notes what the port echoes: the received bytes in order, with each gap (where it
// fell and how many bytes it left out) and the port they came from, and the sent records. While
// holding, it keeps the records, as a window that has stopped taking them.
class EchoRecorder : public ISerialEchoSink, Guarded {
public:
    using Gap = std::pair<size_t, int64_t>;

    void PostSerialEcho(std::unique_ptr<SerialEcho> echo) override {
        std::lock_guard lock(mutex_);
        if (echo->Received == 0) {
            sent_.push_back(*echo);
        } else if (echo->Dropped > 0) {
            gaps_.emplace_back(echoed_.size(), echo->Dropped);
            dropped_ += static_cast<size_t>(echo->Dropped);
        }
        echoed_ += echo->Received != 0 ? echo->Text : "";
        receivedPort_ = echo->Received != 0 ? echo->PortNumber : receivedPort_;
        if (holding_) {
            held_.push_back(std::move(echo));
        }
        cv_.notify_all();
    }
    void PostPortGone(int /*portNumber*/) override {
        std::lock_guard lock(mutex_);
        ++gone_;
        cv_.notify_all();
    }
    // Waits until a port said it is gone; how many times it has been said.
    int WaitForGone(int timeoutMs) {
        WaitFor(timeoutMs, [&] { return gone_ > 0; });
        return Locked(gone_);
    }
    void Hold(bool hold) {
        std::lock_guard lock(mutex_);
        holding_ = hold;
        held_.clear();
    }
    // Waits until count bytes have been echoed or reported dropped.
    bool WaitForAccounted(size_t count) {
        return WaitFor(10000, [&] { return echoed_.size() + dropped_ >= count; });
    }
    std::string Echoed() { return Locked(echoed_); }
    std::vector<Gap> Gaps() { return Locked(gaps_); }
    std::vector<SerialEcho> Sent() { return Locked(sent_); }
    int ReceivedPortNumber() { return Locked(receivedPort_); }

private:
    bool holding_ = false;
    std::vector<std::unique_ptr<SerialEcho>> held_;
    std::string echoed_;
    std::vector<Gap> gaps_;
    size_t dropped_ = 0;
    std::vector<SerialEcho> sent_;
    int receivedPort_ = 0;
    int gone_ = 0;
};

// A device part that records the bytes the port hands it; it can hold the first until released,
// keeping the monitoring thread busy, and notes whether each had been echoed already: a reply
// completes a command, whose caller writes to the log next, and must be waiting there first.
class RecordingDevice : public CSerialDevice, Guarded {
public:
    void ProcessReply() override {}
    bool SendCommand(const char*, bool, bool, int32_t) override { return false; }
    bool OpenPort() override { return false; }
    bool ClosePort() override { return true; }
    void ReceiveChar(uint8_t byte) override {
        std::unique_lock lock(mutex_);
        bytes_.push_back(static_cast<char>(byte));
        if (echoes != nullptr && echoes->Echoed().size() < bytes_.size()) {
            echoedFirst = false;
        }
        holding_ = std::exchange(hold_, false);
        cv_.notify_all();
        cv_.wait_for(lock, std::chrono::seconds(10), [&] { return !holding_; });
    }
    void HoldFirstByte() { Set(hold_, true); }
    void Release() { Set(holding_, false); }
    // Wait until the first byte is being held, or until at least count bytes have arrived.
    bool WaitUntilHolding(int ms) {
        return WaitFor(ms, [&] { return holding_; });
    }
    bool WaitForBytes(size_t count, int timeoutMs) {
        return WaitFor(timeoutMs, [&] { return bytes_.size() >= count; });
    }
    std::string Bytes() { return Locked(bytes_); }
    EchoRecorder* echoes = nullptr;
    std::atomic<bool> echoedFirst{true};

private:
    void Set(bool& flag, bool value) {
        std::lock_guard lock(mutex_);
        flag = value;
        cv_.notify_all();
    }
    std::string bytes_;
    bool hold_ = false;
    bool holding_ = false;
};

class SerialPortTest : public testing_support::PortDirectoryTest {
protected:
    void SetUp() override {
        PortDirectoryTest::SetUp();
        device = std::make_unique<sim::CShutterControllerSim>(kFirstTestPort, PortDir());
        ASSERT_TRUE(device->Start());
        port.OwnerDevice = &recorder;
        port.Settings.PortNumber = kFirstTestPort;
    }
    void TearDown() override {
        port.Close();
        device.reset();
        PortDirectoryTest::TearDown();
    }
    bool OpenDefault(CSerialPort& p, int number = kFirstTestPort) {
        return p.Open(number, 9600, 0, 8, 0);
    }

    std::unique_ptr<sim::CShutterControllerSim> device;
    // Declared before the port: the port's thread may still post to it until the port closes.
    EchoRecorder echoes;
    RecordingDevice recorder;
    CSerialPort port;
};

TEST_F(SerialPortTest, PortsThatAreNotThereDoNotOpenAndSayWhy) {
    CSerialPort p;
    EXPECT_FALSE(p.Open(0, 9600, 0, 8, 0));
    EXPECT_EQ(p.LastFailure().Kind, platform::FailureKind::NoSuchPort);

    EXPECT_FALSE(p.Open(kFirstTestPort + 1, 9600, 0, 8, 0));
    EXPECT_EQ(p.LastFailure().Kind, platform::FailureKind::NoSuchPort);
    EXPECT_NE(p.LastFailure().Text.find("COM202"), std::string::npos);

    // A name that exists but is no terminal is not taken for a port.
    std::ofstream(PortDir() + "/COM210") << "not a device";
    EXPECT_FALSE(p.Open(210, 9600, 0, 8, 0));
    EXPECT_EQ(p.LastFailure().Kind, platform::FailureKind::NotASerialPort);
    EXPECT_FALSE(p.IsOpen());
}

// A pid as lock files hold it: "%10d\n".
std::string LockText(pid_t pid) {
    return std::string(10 - std::to_string(pid).size(), ' ') + std::to_string(pid) + "\n";
}

// A /bin/sleep of the test's own, running when this returns (the pipe closes at its exec). Given a
// descriptor, it takes the flock on it first; the flock outlives the copy its exec closes.
pid_t Sleeper(int flockFd = -1) {
    int ready[2];
    EXPECT_EQ(::pipe2(ready, O_CLOEXEC), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (flockFd < 0 || ::flock(flockFd, LOCK_EX | LOCK_NB) == 0) {
            ::execl("/bin/sleep", "sleep", "600", nullptr);
        }
        ::_exit(1);
    }
    ::close(ready[1]);
    char byte = 0;
    EXPECT_EQ(::read(ready[0], &byte, 1), 0);
    ::close(ready[0]);
    return pid;
}

// Held by another program (its lock file, its flock) or another port here, a port is busy and
// its holder named. Else the open writes a lock file of our pid (where the folder is writable),
// which the close removes while it is still ours; with the holder gone its stale lock is ours.
TEST_F(SerialPortTest, APortHeldElsewhereIsRefusedAsBusy) {
    enum class Hold { Nobody, LiveLock, Flock, SecondHandle, NoLockFolder, LockTakenMeanwhile };
    const std::string lock = PortDir() + "/LCK..pts_" + device->SlavePath().substr(9);
    const auto contents = [&lock] {
        std::ifstream in(lock, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    for (const Hold hold : {Hold::Nobody, Hold::LiveLock, Hold::Flock, Hold::SecondHandle,
                            Hold::NoLockFolder, Hold::LockTakenMeanwhile}) {
        SCOPED_TRACE(static_cast<int>(hold));
        const int flocked = ::open(device->SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        pid_t child = 0;
        if (hold == Hold::LiveLock) {
            std::ofstream(lock) << LockText(child = Sleeper());
        } else if (hold == Hold::Flock) {
            child = Sleeper(flocked);
        } else if (hold == Hold::SecondHandle) {
            ASSERT_TRUE(OpenDefault(port));
        } else if (hold == Hold::NoLockFolder) {
            ::setenv("PRAVIK_LOCK_DIR", (PortDir() + "/none").c_str(), 1);
        }
        const pid_t holder = hold == Hold::SecondHandle ? ::getpid() : child;
        CSerialPort second;
        ASSERT_EQ(OpenDefault(second), holder == 0);
        if (holder == 0) {
            EXPECT_EQ(contents(), hold == Hold::NoLockFolder ? "" : LockText(::getpid()));
        } else {
            EXPECT_THAT(second.LastFailure().Text,
                        HasSubstr((child > 0 ? " in use by sleep (" : "(") +
                                  std::to_string(holder) + "). Close it there"));
        }
        if (hold == Hold::LockTakenMeanwhile) {  // by someone who found ours stale
            std::ofstream(lock) << LockText(child = Sleeper());
        }
        port.Close();
        second.Close();
        EXPECT_EQ(contents(), child > 0 && hold != Hold::Flock ? LockText(child) : "");
        if (child > 0) {
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
        }
        ::close(flocked);
        ::setenv("PRAVIK_LOCK_DIR", PortDir().c_str(), 1);
        EXPECT_TRUE(OpenDefault(second)) << "nothing holds it now";
        struct stat made {};
        EXPECT_EQ(::stat(lock.c_str(), &made) == 0 ? made.st_mode & 0777 : 0, 0644);
        EXPECT_EQ(contents(), LockText(::getpid()));
    }
}

TEST_F(SerialPortTest, ASecondOpenOnTheSameObjectClosesTheFirstHandle) {
    sim::CShutterControllerSim other(kFirstTestPort + 1, PortDir());
    ASSERT_TRUE(other.Start());
    ASSERT_TRUE(OpenDefault(port));
    ASSERT_TRUE(port.StartMonitor());
    ASSERT_TRUE(OpenDefault(port, kFirstTestPort + 1));
    EXPECT_FALSE(port.MonitorThread.joinable()) << "the old thread must not see the new handle";
    CSerialPort first;
    EXPECT_TRUE(OpenDefault(first)) << "the first port must have been released";
    // A line setting the system does not take leaves the port open as it was, and says so.
    EXPECT_TRUE(first.Open(kFirstTestPort, 12345, 0, 8, 0));
    EXPECT_EQ(first.LastFailure().Kind, platform::FailureKind::LineSettingRefused);
}

TEST_F(SerialPortTest, WritesGoOutWholeWithNulBytesAndEchoTheFullCount) {
    recorder.echoes = &echoes;
    port.OwnerWindow = &echoes;
    ASSERT_TRUE(OpenDefault(port));
    ASSERT_TRUE(port.StartMonitor());
    const std::string bytes("#0S\x00\xFF", 5);
    ASSERT_TRUE(port.Write(bytes.data(), 5));
    ASSERT_TRUE(device->WaitForReceived(5, std::chrono::seconds(5)));
    EXPECT_EQ(device->ReceivedTail(), bytes);
    ASSERT_EQ(echoes.Sent().size(), 1u);
    EXPECT_EQ(echoes.Sent()[0].Length, 5);
    EXPECT_EQ(echoes.Sent()[0].Text, bytes);
    EXPECT_EQ(echoes.Sent()[0].PortNumber, kFirstTestPort);
    EXPECT_EQ(device->ShutterState(), 0);

    // Received bytes are echoed, before the device part gets them, and reach it.
    ASSERT_TRUE(port.Write("#0R", 3));
    ASSERT_TRUE(recorder.WaitForBytes(2, 5000));
    EXPECT_EQ(recorder.Bytes(), std::string("\x00\xFF", 2));
    EXPECT_TRUE(recorder.echoedFirst);
    EXPECT_EQ(echoes.ReceivedPortNumber(), kFirstTestPort);

    // Without an owner nothing is echoed, and the device part still gets every byte.
    port.OwnerWindow = nullptr;
    ASSERT_TRUE(port.Write("!0V", 3));
    ASSERT_TRUE(recorder.WaitForBytes(28, 5000));
    EXPECT_EQ(recorder.Bytes().substr(2), "*- Zel Dozivazoro Ltd. -*\r");
    EXPECT_EQ(echoes.Sent().size(), 2u);
}

// Lines of forty bytes, each different from the one before.
std::string Flood(size_t size) {
    std::string bytes(size, '\r');
    for (size_t i = 0; i < size; ++i) {
        if (i % 40 != 39) {
            bytes[i] = static_cast<char>('a' + (i / 40 + i) % 26);
        }
    }
    return bytes;
}

TEST_F(SerialPortTest, AFloodStopsAtTheEchoBacklogCapAndEachGapIsReportedOnce) {
    port.OwnerWindow = &echoes;
    // The first gap is reported by the bytes that come after it, not by a quiet line.
    port.DropQuietMs = 60'000;
    ASSERT_TRUE(OpenDefault(port));
    ASSERT_TRUE(port.StartMonitor());

    echoes.Hold(true);
    const std::string first = Flood(512 * 1024);
    device->Inject(first);
    ASSERT_TRUE(recorder.WaitForBytes(first.size(), 10000));
    EXPECT_EQ(recorder.Bytes(), first) << "the driver gets every byte, whatever the window does";
    const size_t echoed = echoes.Echoed().size();
    EXPECT_EQ(echoes.Echoed(), first.substr(0, echoed));
    EXPECT_LE(port.EchoBacklog(), CSerialPort::kEchoBacklogLimit);
    EXPECT_GT(port.EchoBacklog(), CSerialPort::kEchoBacklogLimit - 512)
        << "the window is given all the cap allows";
    EXPECT_TRUE(echoes.Gaps().empty());
    // Done by the monitoring thread once it has finished with the flood's last read.
    ASSERT_TRUE(port.Write("", 0));

    // The window takes what it holds; the next lines arrive whole, behind the gap's count.
    echoes.Hold(false);
    EXPECT_EQ(port.EchoBacklog(), 0);
    const std::string lines = "LINE ONE\rLINE TWO\r";
    device->Inject(lines);
    ASSERT_TRUE(echoes.WaitForAccounted(first.size() + lines.size()));
    EXPECT_EQ(echoes.Echoed().substr(echoed), lines);
    const std::vector<EchoRecorder::Gap> oneGap = {{echoed, first.size() - echoed}};
    EXPECT_EQ(echoes.Gaps(), oneGap);

    // A flood that nothing follows is reported once the line has been quiet a moment.
    port.DropQuietMs = CSerialPort::kDropQuietMs;
    echoes.Hold(true);
    const size_t before = echoes.Echoed().size();
    const std::string second = Flood(384 * 1024);
    device->Inject(second);
    ASSERT_TRUE(echoes.WaitForAccounted(first.size() + lines.size() + second.size()));
    EXPECT_EQ(echoes.Echoed().substr(before), second.substr(0, echoes.Echoed().size() - before));
    EXPECT_GE(echoes.Gaps().size(), 2u);
}

TEST_F(SerialPortTest, WritesThatCannotBeDoneReturnAtOnceAndEchoNothingAndAHangUpIsToldOnce) {
    port.OwnerWindow = &echoes;
    EXPECT_FALSE(port.Write("#0R", 3)) << "closed port";
    ASSERT_TRUE(OpenDefault(port));
    EXPECT_FALSE(port.Write("#0R", 3)) << "no monitoring thread to do the writing";
    ASSERT_TRUE(port.StartMonitor());
    const std::string tooLong(CSerialPort::kWriteBufferSize + 1, 'x');
    EXPECT_FALSE(port.Write(tooLong.data(), static_cast<int32_t>(tooLong.size())));
    EXPECT_FALSE(port.Write("x", -1));
    EXPECT_TRUE(echoes.Sent().empty());
    EXPECT_EQ(device->ReceivedCount(), 0u);

    device->HangUp();
    EXPECT_EQ(echoes.WaitForGone(5000), 1);
    EXPECT_FALSE(port.Write("#0R", 3));
    EXPECT_EQ(port.LastFailure().Kind, platform::FailureKind::DeviceGone);
    EXPECT_EQ(echoes.WaitForGone(0), 1) << "said once";
}

TEST_F(SerialPortTest, AWritePurgesBytesThatNobodyHasReadYet) {
    ASSERT_TRUE(OpenDefault(port));
    ASSERT_TRUE(port.StartMonitor());
    recorder.HoldFirstByte();
    device->Inject("A");
    ASSERT_TRUE(recorder.WaitUntilHolding(5000));
    // The monitoring thread is busy with "A": these bytes sit unread in the port.
    device->Inject("JUNK");
    pollfd p{port.PortHandle.NativeHandle(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 5000), 1);

    std::thread writer([&] { EXPECT_TRUE(port.Write("#0S\x01\xFE", 5)); });
    ASSERT_TRUE(port.WriteRequestEvent.Wait(5000));
    recorder.Release();
    writer.join();
    ASSERT_TRUE(device->WaitForReceived(5, std::chrono::seconds(5)));
    EXPECT_EQ(recorder.Bytes(), "A") << "the unread bytes must be thrown away by the write";
}

// Acts on its own port from inside the callback of the first byte it receives.
class CallbackDevice : public RecordingDevice {
public:
    CallbackDevice(CSerialPort*& port, bool destroy) : port_(port), destroy_(destroy) {}
    void ReceiveChar(uint8_t byte) override {
        RecordingDevice::ReceiveChar(byte);
        if (!std::exchange(first_, false)) {
            return;
        }
        if (destroy_) {
            delete port_;
            return;
        }
        port_->Close();
        // From this thread these would wait for it or pull the handle from under it.
        refused = !port_->Open(kFirstTestPort, 9600, 0, 8, 0) && !port_->StartMonitor() &&
                  !port_->Write("!0V", 3);
    }
    std::atomic<bool> refused{false};

private:
    CSerialPort*& port_;
    bool destroy_;
    bool first_ = true;
};

// Closed from outside, or from inside the callback of its first received byte: no byte is
// delivered after the close, and the next open from outside works as new.
TEST_F(SerialPortTest, AfterCloseFromOutsideOrFromItsOwnCallbackNoByteArrivesAndItOpensAgain) {
    for (const bool fromCallback : {false, true}) {
        SCOPED_TRACE(fromCallback ? "from its own callback" : "from outside");
        CSerialPort* self = &port;
        CallbackDevice closer(self, false);
        RecordingDevice after;
        const std::unique_ptr<CSerialPort, void (*)(CSerialPort*)> closeFirst(
            &port, [](CSerialPort* p) { p->Close(); });
        port.OwnerDevice = &closer;
        ASSERT_TRUE(OpenDefault(port));
        ASSERT_TRUE(port.StartMonitor());
        if (fromCallback) {
            device->Inject("AB");
            ASSERT_TRUE(port.MonitorStoppedEvent.Wait(5000));
            EXPECT_EQ(closer.Bytes(), "A");
            EXPECT_TRUE(closer.refused);
        } else {
            port.Close();
            EXPECT_FALSE(port.MonitorThread.joinable());
            EXPECT_EQ(port.ThreadAlive, 0);
            port.Close();  // twice is harmless
            device->Inject("stale bytes from while we were away");
            ASSERT_TRUE(device->WaitUntilSent(std::chrono::seconds(5)));
        }
        EXPECT_FALSE(port.IsOpen());

        port.OwnerDevice = &after;
        ASSERT_TRUE(OpenDefault(port));
        ASSERT_TRUE(port.StartMonitor());
        ASSERT_TRUE(port.Write("!0V", 3));
        ASSERT_TRUE(after.WaitForBytes(26, 5000));
        EXPECT_EQ(after.Bytes(), "*- Zel Dozivazoro Ltd. -*\r");
    }
}

TEST_F(SerialPortTest, DestroyedFromItsOwnCallbackItStopsTheProgramWithAMessage) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            auto* doomed = new CSerialPort;
            CallbackDevice destroyer(doomed, true);
            doomed->OwnerDevice = &destroyer;
            if (OpenDefault(*doomed) && doomed->StartMonitor()) {
                device->Inject("A");
                destroyer.WaitForBytes(2, 5000);
            }
        },
        "destroyed from its own receive callback");
}

}  // namespace
