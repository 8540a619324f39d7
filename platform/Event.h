#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
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
// The signalled state lives under a mutex. A single Wait sleeps on a condition variable; the
// pollable handle is made only when someone asks for it (the first WaitForAny or NativeHandle)
// and is kept in step with the state from then on. Events that are only ever waited for alone
// (a reply, a finished write) so cost no system call to set or reset. A waiter always decides
// under the mutex, which both gives reset-after-wake the right answer and orders the setter's
// writes before the waiter's reads.
//
// Set wakes the waiters after it has let go of the mutex: woken under it, a waiter on another
// core would find the mutex still held and go back to sleep until Set released it, two wake-ups
// for one. A waiter that has seen the event may still destroy it right away: the destructor
// waits for a Set on its way out, whose last touch of the event is a counter.
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

    // The descriptor that becomes readable while the event is signalled, made on first use;
    // -1 when the system has none to give (out of descriptors).
    int NativeHandle();

    // Called by a waiter that saw the handle ready; true when the event really is signalled
    // (and, for an auto-reset event, consumed by this caller).
    bool TryAcquire();

protected:
    explicit Event(bool autoReset);

private:
    void DrainHandleLocked();
    // Clears the signal and the handle; under mutex_.
    void ClearLocked();

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    // Set calls that may still touch the event; the destructor waits for none.
    std::atomic<int> setting_{0};
    bool signalled_ = false;
    const bool autoReset_;
    int fd_ = -1;
    // Sets that have signalled but not yet made the handle readable.
    std::atomic<int> handleWritesOwed_{0};
    // The handle may be readable with the event clear; under mutex_.
    bool staleHandle_ = false;
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
