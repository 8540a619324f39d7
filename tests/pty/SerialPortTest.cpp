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
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "serial/SerialPort.h"
#include "sim/ShutterControllerSim.h"
#include "support/TestPortDirectory.h"

namespace {

using testing::HasSubstr;
using testing_support::EchoRecorder;
using testing_support::kFirstTestPort;
using testing_support::RecordingDevice;

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
    EXPECT_FALSE(p.IsOpen());
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

std::string LockText(pid_t pid) {
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
    return text;
}

// A /bin/sleep of the test's own, running when this returns (the pipe closes at its exec). Given a
// descriptor, it takes the flock on it first; the flock outlives the copy its exec closes.
pid_t Sleeper(std::vector<pid_t>& children, int flockFd = -1) {
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) {
        return -1;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        char* const argv[] = {const_cast<char*>("sleep"), const_cast<char*>("600"), nullptr};
        if (flockFd < 0 || ::flock(flockFd, LOCK_EX | LOCK_NB) == 0) {
            ::execv("/bin/sleep", argv);
        }
        ::_exit(1);
    }
    ::close(ready[1]);
    char byte = 0;
    EXPECT_EQ(::read(ready[0], &byte, 1), 0);
    ::close(ready[0]);
    children.push_back(pid);
    return pid;
}

// Held by another program (its lock file, its flock) or by another port in this one, a port is
// refused as busy, its holder named and its lock file left as it was. Otherwise the open marks it
// with a lock file of our pid (where the lock folder may be written), which the close removes
// while it is still ours. Once the holders are gone the port opens again, taking over their
// stale lock.
TEST_F(SerialPortTest, APortHeldElsewhereIsRefusedAsBusyWithItsHolderNamed) {
    enum class Hold { Nobody, LiveLock, Flock, SecondHandle, NoLockFolder, LockTakenMeanwhile };
    const std::string lock = LockDir() + "/LCK..pts_" + device->SlavePath().substr(9);
    const auto contents = [&lock] {
        std::ifstream in(lock, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    for (const Hold hold : {Hold::Nobody, Hold::LiveLock, Hold::Flock, Hold::SecondHandle,
                            Hold::NoLockFolder, Hold::LockTakenMeanwhile}) {
        SCOPED_TRACE(static_cast<int>(hold));
        std::vector<pid_t> children;
        pid_t holder = hold == Hold::SecondHandle ? ::getpid() : 0;
        const int flocked = ::open(device->SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (hold == Hold::LiveLock) {
            std::ofstream(lock) << LockText(holder = Sleeper(children));
        } else if (hold == Hold::Flock) {
            holder = Sleeper(children, flocked);
        } else if (hold == Hold::SecondHandle) {
            ASSERT_TRUE(OpenDefault(port));
        } else if (hold == Hold::NoLockFolder) {
            ::setenv("PRAVIK_LOCK_DIR", (LockDir() + "/none").c_str(), 1);
        }
        const std::string before = contents();
        CSerialPort second;
        ASSERT_EQ(OpenDefault(second), holder == 0);
        if (holder == 0) {
            EXPECT_EQ(contents(), hold == Hold::NoLockFolder ? "" : LockText(::getpid()));
        } else {
            EXPECT_EQ(second.LastFailure().Kind, platform::FailureKind::Busy);
            const std::string name = hold == Hold::SecondHandle ? "" : "in use by sleep ";
            EXPECT_THAT(second.LastFailure().Text,
                        HasSubstr(name + "(" + std::to_string(holder) + "). Close it there"));
            EXPECT_EQ(contents(), before);
        }
        if (hold == Hold::LockTakenMeanwhile) {  // by someone who found ours stale
            std::ofstream(lock) << LockText(holder = Sleeper(children));
        }
        port.Close();
        second.Close();
        EXPECT_EQ(contents(), children.empty() || hold == Hold::Flock ? "" : LockText(holder));
        for (const pid_t child : children) {
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
        }
        ::close(flocked);
        ::setenv("PRAVIK_LOCK_DIR", LockDir().c_str(), 1);
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

// Notes whether every byte it was handed had been echoed already: a reply completes a command,
// whose caller writes to the log next, and the reply must be waiting there before that.
class EchoedFirstDevice : public RecordingDevice {
public:
    explicit EchoedFirstDevice(EchoRecorder& echoes) : echoes_(echoes) {}
    void ReceiveChar(uint8_t byte) override {
        RecordingDevice::ReceiveChar(byte);
        if (echoes_.ReceivedBytes() < Bytes().size()) {
            echoedFirst = false;
        }
    }
    std::atomic<bool> echoedFirst{true};

private:
    EchoRecorder& echoes_;
};

TEST_F(SerialPortTest, WritesGoOutWholeWithNulBytesAndEchoTheFullCount) {
    EchoedFirstDevice part(echoes);
    // The port's thread hands bytes to part until the port closes: that happens first.
    const std::unique_ptr<CSerialPort, void (*)(CSerialPort*)> closeFirst(
        &port, [](CSerialPort* p) { p->Close(); });
    port.OwnerDevice = &part;
    port.OwnerWindow = &echoes;
    ASSERT_TRUE(OpenDefault(port));
    ASSERT_TRUE(port.StartMonitor());
    const std::string bytes("#0S\x00\xFF", 5);
    ASSERT_TRUE(port.Write(bytes.data(), 5));
    ASSERT_TRUE(device->WaitForReceived(5, std::chrono::seconds(5)));
    EXPECT_EQ(device->ReceivedTail(), bytes);
    ASSERT_EQ(echoes.SentRecords(), 1u);
    EXPECT_EQ(echoes.LastSent().Length, 5);
    EXPECT_EQ(echoes.LastSent().Text, bytes);
    EXPECT_EQ(echoes.LastSent().Received, 0);
    EXPECT_EQ(echoes.LastSent().PortNumber, kFirstTestPort);
    EXPECT_EQ(device->ShutterState(), 0);

    // Received bytes are echoed, before the device part gets them, and reach it.
    ASSERT_TRUE(port.Write("#0R", 3));
    ASSERT_TRUE(part.WaitForBytes(2, 5000));
    EXPECT_EQ(part.Bytes(), std::string("\x00\xFF", 2));
    EXPECT_TRUE(part.echoedFirst);
    EXPECT_EQ(echoes.ReceivedPortNumber(), kFirstTestPort);

    // Without an owner nothing is echoed, and the device part still gets every byte.
    port.OwnerWindow = nullptr;
    ASSERT_TRUE(port.Write("!0V", 3));
    ASSERT_TRUE(part.WaitForBytes(28, 5000));
    EXPECT_EQ(part.Bytes().substr(2), "*- Zel Dozivazoro Ltd. -*\r");
    EXPECT_EQ(echoes.SentRecords(), 2u);
}

// An owner that notes what the port echoes (the bytes in order, and each gap: where it fell and
// how many bytes it left out) and, while holding, keeps the records, as a window that has
// stopped taking them.
class HoldingSink : public ISerialEchoSink {
public:
    using Gap = std::pair<size_t, int64_t>;

    void PostSerialEcho(std::unique_ptr<SerialEcho> echo) override {
        std::lock_guard lock(mutex_);
        if (echo->Dropped > 0) {
            gaps_.emplace_back(echoed_.size(), echo->Dropped);
            dropped_ += static_cast<size_t>(echo->Dropped);
        }
        echoed_ += echo->Text;
        if (holding_) {
            held_.push_back(std::move(echo));
        }
        cv_.notify_all();
    }
    void Hold(bool hold) {
        std::lock_guard lock(mutex_);
        holding_ = hold;
        held_.clear();
    }
    // Waits until count bytes have been echoed or reported dropped.
    bool WaitForAccounted(size_t count) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, std::chrono::seconds(10),
                            [&] { return echoed_.size() + dropped_ >= count; });
    }
    std::string Echoed() {
        std::lock_guard lock(mutex_);
        return echoed_;
    }
    std::vector<Gap> Gaps() {
        std::lock_guard lock(mutex_);
        return gaps_;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool holding_ = false;
    std::vector<std::unique_ptr<SerialEcho>> held_;
    std::string echoed_;
    std::vector<Gap> gaps_;
    size_t dropped_ = 0;
};

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
    HoldingSink window;
    CSerialPort flooded;  // after the sink: its thread posts there until it closes
    flooded.OwnerDevice = &recorder;
    flooded.Settings.PortNumber = kFirstTestPort;
    flooded.OwnerWindow = &window;
    // The first gap is reported by the bytes that come after it, not by a quiet line.
    flooded.DropQuietMs = 60'000;
    ASSERT_TRUE(OpenDefault(flooded));
    ASSERT_TRUE(flooded.StartMonitor());

    window.Hold(true);
    const std::string first = Flood(512 * 1024);
    device->Inject(first);
    ASSERT_TRUE(recorder.WaitForBytes(first.size(), 10000));
    EXPECT_EQ(recorder.Bytes(), first) << "the driver gets every byte, whatever the window does";
    const size_t echoed = window.Echoed().size();
    EXPECT_EQ(window.Echoed(), first.substr(0, echoed));
    EXPECT_LE(flooded.EchoBacklog(), CSerialPort::kEchoBacklogLimit);
    EXPECT_GT(flooded.EchoBacklog(), CSerialPort::kEchoBacklogLimit - 512)
        << "the window is given all the cap allows";
    EXPECT_TRUE(window.Gaps().empty());
    // Done by the monitoring thread once it has finished with the flood's last read.
    ASSERT_TRUE(flooded.Write("", 0));

    // The window takes what it holds; the next lines arrive whole, behind the gap's count.
    window.Hold(false);
    EXPECT_EQ(flooded.EchoBacklog(), 0);
    const std::string lines = "LINE ONE\rLINE TWO\r";
    device->Inject(lines);
    ASSERT_TRUE(window.WaitForAccounted(first.size() + lines.size()));
    EXPECT_EQ(window.Echoed().substr(echoed), lines);
    const std::vector<HoldingSink::Gap> oneGap = {{echoed, first.size() - echoed}};
    EXPECT_EQ(window.Gaps(), oneGap);

    // A flood that nothing follows is reported once the line has been quiet a moment.
    flooded.DropQuietMs = CSerialPort::kDropQuietMs;
    window.Hold(true);
    const size_t before = window.Echoed().size();
    const std::string second = Flood(384 * 1024);
    device->Inject(second);
    ASSERT_TRUE(window.WaitForAccounted(first.size() + lines.size() + second.size()));
    EXPECT_EQ(window.Echoed().substr(before), second.substr(0, window.Echoed().size() - before));
    EXPECT_GE(window.Gaps().size(), 2u);
    flooded.Close();
}

TEST_F(SerialPortTest, WritesThatCannotBeDoneReturnAtOnceAndEchoNothing) {
    port.OwnerWindow = &echoes;
    EXPECT_FALSE(port.Write("#0R", 3)) << "closed port";
    ASSERT_TRUE(OpenDefault(port));
    EXPECT_FALSE(port.Write("#0R", 3)) << "no monitoring thread to do the writing";
    ASSERT_TRUE(port.StartMonitor());
    const std::string tooLong(CSerialPort::kWriteBufferSize + 1, 'x');
    EXPECT_FALSE(port.Write(tooLong.data(), static_cast<int32_t>(tooLong.size())));
    EXPECT_FALSE(port.Write("x", -1));
    EXPECT_EQ(echoes.SentRecords(), 0u);
    EXPECT_EQ(device->ReceivedCount(), 0u);
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
