#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

// What a port's echo records hold of memory while they wait for their owner: the port counts a
// record up when it posts it, and the record counts itself down when its owner destroys it.
using SerialEchoBacklog = std::atomic<int64_t>;

// A record's share of its port's backlog, given back when the record goes. A copy holds
// nothing: only the record the port posted is waiting for anybody.
class SerialEchoCharge {
public:
    SerialEchoCharge() = default;
    SerialEchoCharge(std::shared_ptr<SerialEchoBacklog> backlog, int64_t amount)
        : backlog_(std::move(backlog)), amount_(amount) {
        backlog_->fetch_add(amount_, std::memory_order_relaxed);
    }
    SerialEchoCharge(const SerialEchoCharge&) noexcept {}
    SerialEchoCharge(SerialEchoCharge&& other) noexcept
        : backlog_(std::move(other.backlog_)), amount_(other.amount_) {
        other.amount_ = 0;
    }
    SerialEchoCharge& operator=(const SerialEchoCharge& other) noexcept {
        if (this != &other) {
            Release();
        }
        return *this;
    }
    SerialEchoCharge& operator=(SerialEchoCharge&& other) noexcept {
        if (this != &other) {
            Release();
            backlog_ = std::move(other.backlog_);
            amount_ = other.amount_;
            other.amount_ = 0;
        }
        return *this;
    }
    ~SerialEchoCharge() { Release(); }

    void Release() noexcept {
        if (backlog_) {
            backlog_->fetch_sub(amount_, std::memory_order_release);
            backlog_.reset();
        }
        amount_ = 0;
    }

private:
    std::shared_ptr<SerialEchoBacklog> backlog_;
    int64_t amount_ = 0;
};

// When a port wrote or read bytes: the time of day for a person to read, and the monotonic time
// to measure gaps with, which no change of the system clock moves.
struct EchoTime {
    std::chrono::system_clock::time_point TimeOfDay{};
    std::chrono::steady_clock::time_point Monotonic{};

    static EchoTime Now() {
        return {std::chrono::system_clock::now(), std::chrono::steady_clock::now()};
    }
};

// One echo of port traffic: every completed write, and every read of received bytes. The port
// allocates it and hands it to its owner, which then owns it; destroying it tells the port that
// the owner has taken it.
struct SerialEcho {
    int32_t PortNumber = 0;  // sent: the port's PortNumber; received: the port number in Settings
    std::string Text;        // the bytes; may hold NUL bytes
    int32_t Length = 0;      // number of bytes in Text
    int32_t Received = 0;    // 0 = sent, 1 = received
    // Received: bytes read just before these that were not echoed, because the owner had not
    // taken what was waiting for it. A record may carry only this, with no bytes.
    int64_t Dropped = 0;
    // Taken as the port makes the record, right after the write or the read: the window may log
    // it a good while later.
    EchoTime Time;
    SerialEchoCharge Charge;
};
