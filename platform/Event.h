#pragma once

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <mutex>

namespace platform {

// Time-out value meaning "wait as long as it takes". Only the hand-over of bytes to a port's
// monitoring thread and a few named watchers use it; everything else waits with a bound.
inline constexpr int64_t kInfinite = -1;

// A waitable event that can also be handed to poll() through NativeHandle(), so the port's
// monitoring thread can sleep on the port and on its events at once.
//
// The signalled state lives under a mutex; the pollable handle only wakes sleepers. A waiter
// always re-checks the state under that mutex after waking, which both gives reset-after-wake
// the right answer and orders the setter's writes before the waiter's reads.
class Event {
public:
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    virtual ~Event();

    void Set();
    void Reset();
    bool IsSet() const;

    // Waits until the event is signalled or timeoutMs passes (kInfinite: no limit).
    // An auto-reset event is consumed by the waiter that sees it.
    bool Wait(int64_t timeoutMs);

    // The descriptor that becomes readable while the event is signalled.
    int NativeHandle() const { return fd_; }

    // Called by a waiter that saw the handle ready; true when the event really is signalled
    // (and, for an auto-reset event, consumed by this caller).
    bool TryAcquire();

protected:
    explicit Event(bool autoReset);

private:
    mutable std::mutex mutex_;
    bool signalled_ = false;
    const bool autoReset_;
    int fd_ = -1;
};

// Waits for any of several events; returns the index of the first signalled one (lowest index
// wins when several are), or -1 when timeoutMs passes first.
int WaitForAny(std::initializer_list<Event*> events, int64_t timeoutMs);

// Milliseconds left until deadline, clamped at 0; kInfinite stays kInfinite.
class Deadline {
public:
    explicit Deadline(int64_t timeoutMs);
    int64_t RemainingMs() const;
    bool Expired() const { return RemainingMs() == 0; }

private:
    bool infinite_;
    std::chrono::steady_clock::time_point end_;
};

}  // namespace platform
