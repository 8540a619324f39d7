#include "support/TestPortDirectory.h"

#include <pthread.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "platform/PortNames.h"

namespace testing_support {

void PortDirectoryTest::SetUp() {
    char pattern[] = "/tmp/pravik-test-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    ASSERT_NE(made, nullptr);
    dir_ = made;
    for (int n = 1; platform::DefaultPortDevicePath(n); ++n) {
        const std::string entry = dir_ + "/COM" + std::to_string(n);
        ASSERT_EQ(::symlink("/nonexistent/pravik-test-port", entry.c_str()), 0);
    }
    ::setenv("PRAVIK_PORT_DIR", dir_.c_str(), 1);
    ASSERT_EQ(::mkdir(LockDir().c_str(), 0755), 0);
    ::setenv("PRAVIK_LOCK_DIR", LockDir().c_str(), 1);
}

void PortDirectoryTest::TearDown() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
    ::unsetenv("PRAVIK_PORT_DIR");
    ::unsetenv("PRAVIK_LOCK_DIR");
}

void EchoRecorder::PostSerialEcho(std::unique_ptr<SerialEcho> echo) {
    {
        std::lock_guard lock(mutex_);
        if (echo->Received) {
            receivedBytes_ += static_cast<size_t>(echo->Length);
            receivedPort_ = echo->PortNumber;
        } else {
            ++sentRecords_;
            lastSent_ = *echo;
        }
    }
    cv_.notify_all();
}

bool EchoRecorder::WaitForReceived(size_t count, int timeoutMs) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                        [&] { return receivedBytes_ >= count; });
}

size_t EchoRecorder::ReceivedBytes() {
    std::lock_guard lock(mutex_);
    return receivedBytes_;
}

size_t EchoRecorder::SentRecords() {
    std::lock_guard lock(mutex_);
    return sentRecords_;
}

SerialEcho EchoRecorder::LastSent() {
    std::lock_guard lock(mutex_);
    return lastSent_;
}

int EchoRecorder::ReceivedPortNumber() {
    std::lock_guard lock(mutex_);
    return receivedPort_;
}

void RecordingDevice::ReceiveChar(uint8_t byte) {
    std::unique_lock lock(mutex_);
    bytes_.push_back(static_cast<char>(byte));
    cv_.notify_all();
    if (hold_) {
        hold_ = false;
        holding_ = true;
        cv_.notify_all();
        cv_.wait_for(lock, std::chrono::seconds(10), [&] { return !holding_; });
    }
}

bool RecordingDevice::WaitForBytes(size_t count, int timeoutMs) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                        [&] { return bytes_.size() >= count; });
}

void RecordingDevice::HoldFirstByte() {
    std::lock_guard lock(mutex_);
    hold_ = true;
}

bool RecordingDevice::WaitUntilHolding(int timeoutMs) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return holding_; });
}

void RecordingDevice::Release() {
    {
        std::lock_guard lock(mutex_);
        holding_ = false;
    }
    cv_.notify_all();
}

std::string RecordingDevice::Bytes() {
    std::lock_guard lock(mutex_);
    return bytes_;
}

double ThreadCpuMs(std::thread& thread) {
    clockid_t clock;
    timespec ts{};
    if (::pthread_getcpuclockid(thread.native_handle(), &clock) != 0 ||
        ::clock_gettime(clock, &ts) != 0) {
        return 0.0;
    }
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

}  // namespace testing_support
