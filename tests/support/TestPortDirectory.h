#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>

#include "serial/SerialDevice.h"
#include "serial/SerialEchoSink.h"

namespace testing_support {

// Port numbers the tests publish simulated devices under: above every default mapping, so a
// missing entry can never fall through to a real /dev/ttyS* on the machine running the tests.
inline constexpr int kFirstTestPort = 201;

// Gives each test a port directory of its own (PRAVIK_PORT_DIR), with a lock folder in it
// (PRAVIK_LOCK_DIR), and removes them afterwards. COM1-COM96 in it point nowhere, so that a
// listing or a scan from COM1 up never opens this machine's own /dev/ttyS*, ttyUSB* or ttyACM*
// (a ttyS may be its console); no lock file goes to the machine's /run/lock.
class PortDirectoryTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    const std::string& PortDir() const { return dir_; }
    std::string LockDir() const { return dir_ + "/locks"; }

private:
    std::string dir_;
};

// Counts and keeps the echo records a port posts, and lets a test wait for them.
class EchoRecorder : public ISerialEchoSink {
public:
    void PostSerialEcho(std::unique_ptr<SerialEcho> echo) override;
    // Waits until at least count received (or sent) bytes have been echoed.
    bool WaitForReceived(size_t count, int timeoutMs);
    size_t ReceivedBytes();
    size_t SentRecords();
    SerialEcho LastSent();
    int ReceivedPortNumber();

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    size_t receivedBytes_ = 0;
    size_t sentRecords_ = 0;
    int receivedPort_ = 0;
    SerialEcho lastSent_;
};

// A device part that only records the bytes the port hands it; optionally it holds the first
// byte until released, keeping the monitoring thread busy.
class RecordingDevice : public CSerialDevice {
public:
    void ProcessReply() override {}
    bool SendCommand(const char*, bool, bool, int32_t) override { return false; }
    bool OpenPort() override { return false; }
    bool ClosePort() override { return true; }
    void ReceiveChar(uint8_t byte) override;

    void HoldFirstByte();
    // Waits until the first byte is being held.
    bool WaitUntilHolding(int timeoutMs);
    void Release();
    std::string Bytes();
    // Waits until at least count bytes have arrived.
    bool WaitForBytes(size_t count, int timeoutMs);

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::string bytes_;
    bool hold_ = false;
    bool holding_ = false;
};

// CPU time a thread has used, in milliseconds.
double ThreadCpuMs(std::thread& thread);

}  // namespace testing_support
