#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <optional>
#include <type_traits>
#include <utility>

namespace console {

// Runs f on the thread that context lives on and returns its result once it has run there; on
// that thread itself, f simply runs. A worker uses it to read and change a window's controls,
// which only the window's thread may touch, and waits as a window message would make it wait.
//
// The window's thread must keep handling events while a worker may call this: a plain join of
// such a worker on the window's thread never returns. CWorkerRun waits the safe way.
template <typename F>
std::invoke_result_t<F&> CallOnThreadOf(QObject* context, F&& f) {
    using Result = std::invoke_result_t<F&>;
    if (QThread::currentThread() == context->thread()) {
        return f();
    }
    if constexpr (std::is_void_v<Result>) {
        QMetaObject::invokeMethod(
            context, [&f] { f(); }, Qt::BlockingQueuedConnection);
    } else {
        std::optional<Result> result;
        QMetaObject::invokeMethod(
            context, [&f, &result] { result.emplace(f()); }, Qt::BlockingQueuedConnection);
        // Qt refuses a call it cannot deliver; the caller then gets an empty answer.
        return result ? std::move(*result) : Result{};
    }
}

}  // namespace console
