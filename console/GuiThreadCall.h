#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>

namespace console {

// Qt's event queue orders a post before its handling with a lock inside Qt's own library, which
// ThreadSanitizer cannot see into: to it, whatever one thread hands another through the queue
// looks unordered, and every hand-off looks like a race. So every call and event this program
// hands to another thread is posted while this lock is held, and the receiving thread takes it
// for a moment before it looks at what it was handed. That is the ordering the queue's own lock
// gives (one lock for the window's thread, the only thread anything is posted to), now in a
// form the sanitizer sees, and nothing more.
inline std::mutex& HandOffLock() {
    static std::mutex lock;
    return lock;
}
// The receiving end: first thing, before anything handed over is read.
inline void HandOffReceived() {
    const std::lock_guard seen(HandOffLock());
}

// Queues f to run later on the thread that context lives on, from any thread, and returns at
// once. f is dropped unrun with context's other events when context goes first.
template <typename F>
void PostToThreadOf(QObject* context, F&& f) {
    const std::lock_guard posting(HandOffLock());
    QMetaObject::invokeMethod(
        context,
        [f = std::forward<F>(f)]() mutable {
            HandOffReceived();
            f();
        },
        Qt::QueuedConnection);
}

// Runs f on the thread that context lives on and returns its result once it has run there; on
// that thread itself, f simply runs. A worker uses it to read and change a window's controls,
// which only the window's thread may touch, and waits as a window message would make it wait.
// When context goes before f has run, f never runs and the caller gets an empty answer.
//
// The window's thread must keep handling events while a worker may call this: a plain join of
// such a worker on the window's thread never returns. CWorkerRun waits the safe way.
template <typename F>
std::invoke_result_t<F&> CallOnThreadOf(QObject* context, F&& f) {
    using Result = std::invoke_result_t<F&>;
    if (QThread::currentThread() == context->thread()) {
        return f();
    }
    using Stored = std::conditional_t<std::is_void_v<Result>, bool, Result>;
    struct Call {
        std::mutex lock;
        std::condition_variable ended;
        bool gone = false;
        std::optional<Stored> result;
    };
    // Owned by the posted call: its end, run or dropped, is what lets the caller go on.
    struct Ending {
        explicit Ending(std::shared_ptr<Call> c) : call(std::move(c)) {}
        Ending(const Ending&) = delete;
        Ending& operator=(const Ending&) = delete;
        ~Ending() {
            const std::lock_guard lock(call->lock);
            call->gone = true;
            call->ended.notify_all();
        }
        const std::shared_ptr<Call> call;
    };
    auto call = std::make_shared<Call>();
    PostToThreadOf(context, [&f, ending = std::make_shared<Ending>(call)] {
        if constexpr (std::is_void_v<Result>) {
            f();
            ending->call->result.emplace(true);
        } else {
            ending->call->result.emplace(f());
        }
    });
    std::unique_lock lock(call->lock);
    call->ended.wait(lock, [&] { return call->gone; });
    if constexpr (!std::is_void_v<Result>) {
        return call->result ? std::move(*call->result) : Result{};
    }
}

}  // namespace console
