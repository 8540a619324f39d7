#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>
#include <vector>

#include "platform/Event.h"

namespace platform {

namespace {

// poll() with EINTR handled against the deadline; returns poll's result (0 = timed out).
int PollUntil(pollfd* fds, nfds_t count, const Deadline& deadline) {
    for (;;) {
        const int64_t remaining = deadline.RemainingMs();
        const int timeout =
            remaining < 0 ? -1 : static_cast<int>(std::min<int64_t>(remaining, 1 << 30));
        const int rc = ::poll(fds, count, timeout);
        if (rc >= 0 || errno != EINTR) {
            return rc;
        }
    }
}

}  // namespace

Deadline::Deadline(int64_t timeoutMs)
    : infinite_(timeoutMs < 0),
      end_(std::chrono::steady_clock::now() +
           std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs)) {}

int64_t Deadline::RemainingMs() const {
    if (infinite_) {
        return kInfinite;
    }
    const auto left = end_ - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) {
        return 0;
    }
    // Round up so that a wait never ends a fraction of a millisecond early.
    return std::chrono::ceil<std::chrono::milliseconds>(left).count();
}

Event::Event(bool autoReset) : autoReset_(autoReset) {}

Event::~Event() {
    // A Set that has signalled may still be waking the waiters; it is a system call away from
    // done, and the condition variable must outlive it.
    while (setting_.load(std::memory_order_acquire) != 0) {
        std::this_thread::yield();
    }
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

int Event::NativeHandle() {
    std::lock_guard lock(mutex_);
    if (fd_ < 0) {
        fd_ = ::eventfd(signalled_ ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK);
    }
    return fd_;
}

void Event::DrainHandleLocked() {
    if (fd_ >= 0) {
        uint64_t drained;
        [[maybe_unused]] ssize_t n = ::read(fd_, &drained, sizeof drained);
    }
}

void Event::ClearLocked() {
    signalled_ = false;
    DrainHandleLocked();
    // A Set still on its way to the handle will make it readable after this: the next poller
    // to see that clears it (TryAcquire) instead of waking again and again.
    staleHandle_ = handleWritesOwed_.load(std::memory_order_acquire) > 0;
}

void Event::Set() {
    // Counted before the mutex is taken: a waiter that sees the signal under the mutex then
    // also sees this Set counted, and its destructor waits for it.
    setting_.fetch_add(1, std::memory_order_relaxed);
    bool wake = false;
    int handle = -1;
    {
        std::lock_guard lock(mutex_);
        if (!signalled_) {
            signalled_ = true;
            wake = true;
            handle = fd_;
            if (handle >= 0) {
                handleWritesOwed_.fetch_add(1, std::memory_order_relaxed);
            }
        }
    }
    // Both wake-ups happen with the mutex free. A poller or waiter woken under it would find
    // it held as its first step and sleep once more until this thread came back to let go of
    // it; on a busy machine the woken thread often runs at once, in this one's place.
    if (wake) {
        if (handle >= 0) {
            const uint64_t one = 1;
            [[maybe_unused]] ssize_t n = ::write(handle, &one, sizeof one);
            handleWritesOwed_.fetch_sub(1, std::memory_order_release);
        }
        cv_.notify_all();
    }
    setting_.fetch_sub(1, std::memory_order_release);
}

void Event::Reset() {
    std::lock_guard lock(mutex_);
    if (signalled_) {
        ClearLocked();
    }
}

bool Event::IsSet() const {
    std::lock_guard lock(mutex_);
    return signalled_;
}

bool Event::TryAcquire() {
    std::lock_guard lock(mutex_);
    if (!signalled_) {
        if (staleHandle_) {
            DrainHandleLocked();
            staleHandle_ = handleWritesOwed_.load(std::memory_order_acquire) > 0;
        }
        return false;
    }
    if (autoReset_) {
        ClearLocked();
    }
    return true;
}

bool Event::Wait(int64_t timeoutMs) {
    std::unique_lock lock(mutex_);
    const auto ready = [&] { return signalled_; };
    if (timeoutMs < 0) {
        cv_.wait(lock, ready);
    } else if (!cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
        return false;
    }
    if (autoReset_) {
        ClearLocked();
    }
    return true;
}

int WaitForAny(std::initializer_list<Event*> events, int64_t timeoutMs) {
    const Deadline deadline(timeoutMs);
    pollfd fds[8];
    const size_t count = std::min<size_t>(events.size(), 8);
    for (;;) {
        size_t i = 0;
        for (Event* e : events) {
            if (i == count) {
                break;
            }
            fds[i] = {e->NativeHandle(), POLLIN, 0};
            if (e->TryAcquire()) {
                return static_cast<int>(i);
            }
            ++i;
        }
        if (deadline.Expired()) {
            return -1;
        }
        if (PollUntil(fds, count, deadline) < 0) {
            return -1;  // only EFAULT/ENOMEM remain; treat as a time-out rather than spin
        }
    }
}

}  // namespace platform
