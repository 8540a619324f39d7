// The port against simulated devices on pseudo-terminals: opening, exclusivity, the hand-over
// of writes to the monitoring thread, purging, echoes and hang-ups.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "serial/SerialPort.h"
#include "sim/ShutterControllerSim.h"
#include "support/TestPortDirectory.h"

extern char** environ;

namespace {

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
    EXPECT_EQ(p.LastOpenError(), platform::PortError::NoSuchPort);

    EXPECT_FALSE(p.Open(kFirstTestPort + 1, 9600, 0, 8, 0));
    EXPECT_EQ(p.LastOpenError(), platform::PortError::NoSuchPort);
    EXPECT_NE(p.DescribeLastOpenError().find("COM202"), std::string::npos);

    // A name that exists but is no terminal is not taken for a port.
    std::ofstream(PortDir() + "/COM210") << "not a device";
    EXPECT_FALSE(p.Open(210, 9600, 0, 8, 0));
    EXPECT_EQ(p.LastOpenError(), platform::PortError::NotASerialPort);
    EXPECT_FALSE(p.IsOpen());
}

TEST_F(SerialPortTest, APortHeldElsewhereIsRefusedAsBusy) {
    ASSERT_TRUE(OpenDefault(port));
    CSerialPort second;
    EXPECT_FALSE(OpenDefault(second));
    EXPECT_EQ(second.LastOpenError(), platform::PortError::Busy);
    EXPECT_NE(second.DescribeLastOpenError().find("in use"), std::string::npos);
    port.Close();
    EXPECT_TRUE(OpenDefault(second)) << "closing must release the port";
}

TEST_F(SerialPortTest, APortAnotherProcessHoldsIsRefused) {
    // flock(1) holds the device the way another instance of the program would.
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::string path = device->PortPath();
    // -o: only flock itself holds the lock, not the shell it starts; all of them go in a
    // process group of their own so that they can be ended together.
    const char* argv[] = {"flock", "-n", "-o", path.c_str(), "sh", "-c", "echo held; exec sleep 30",
                          nullptr};
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t child = 0;
    const int spawned = ::posix_spawnp(&child, "flock", &actions, &attributes,
                                       const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(out[1]);
    if (spawned != 0) {
        ::close(out[0]);
        GTEST_SKIP() << "flock(1) is not available";
    }
    char buffer[8] = {};
    pollfd p{out[0], POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 10000), 1);
    ASSERT_GT(::read(out[0], buffer, sizeof buffer), 0);

    EXPECT_FALSE(OpenDefault(port));
    EXPECT_EQ(port.LastOpenError(), platform::PortError::Busy);

    ::kill(-child, SIGTERM);
    ::waitpid(child, nullptr, 0);
    ::close(out[0]);
    EXPECT_TRUE(OpenDefault(port));
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
}

TEST_F(SerialPortTest, WritesGoOutWholeWithNulBytesAndEchoTheFullCount) {
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

    // Received bytes reach the device part and are echoed one by one.
    ASSERT_TRUE(port.Write("#0R", 3));
    ASSERT_TRUE(echoes.WaitForReceived(2, 5000));
    EXPECT_EQ(recorder.Bytes(), std::string("\x00\xFF", 2));
    EXPECT_EQ(echoes.ReceivedPortNumber(), kFirstTestPort);
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

TEST_F(SerialPortTest, WithoutAnOwnerNothingIsEchoedButBytesStillReachTheDevicePart) {
    ASSERT_TRUE(OpenDefault(port));
    ASSERT_TRUE(port.StartMonitor());
    ASSERT_TRUE(port.Write("!0V", 3));
    ASSERT_TRUE(recorder.WaitForBytes(26, 5000));
    EXPECT_EQ(recorder.Bytes(), "*- Zel Dozivazoro Ltd. -*\r");
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

TEST_F(SerialPortTest, AfterCloseNoByteReachesTheDeviceAndTheNextOpenWorks) {
    ASSERT_TRUE(OpenDefault(port));
    ASSERT_TRUE(port.StartMonitor());
    port.Close();
    EXPECT_FALSE(port.MonitorThread.joinable());
    EXPECT_EQ(port.ThreadAlive, 0);
    EXPECT_FALSE(port.IsOpen());
    port.Close();  // twice is harmless

    device->Inject("stale bytes from while we were away");
    ASSERT_TRUE(device->WaitUntilSent(std::chrono::seconds(5)));
    ASSERT_TRUE(OpenDefault(port));
    ASSERT_TRUE(port.StartMonitor());
    ASSERT_TRUE(port.Write("!0V", 3));
    ASSERT_TRUE(recorder.WaitForBytes(26, 5000));
    EXPECT_EQ(recorder.Bytes(), "*- Zel Dozivazoro Ltd. -*\r");
}

}  // namespace
