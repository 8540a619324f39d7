#include "console/WorkerRun.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <utility>

#include "console/GuiThreadCall.h"

CWorkerRun::CWorkerRun(std::function<void()> stop, QObject* parent)
    : QObject(parent), stop_(std::move(stop)) {}

CWorkerRun::~CWorkerRun() {
    // The owner is being destroyed: nothing of it may be called back.
    disconnect(this, nullptr, nullptr, nullptr);
    Stop();
    Wait();
}

void CWorkerRun::Start(std::function<void()> body) {
    if (thread_.joinable()) {
        pending_ = std::move(body);
        return;
    }
    Launch(std::move(body));
}

bool CWorkerRun::IsActive() const {
    return thread_.joinable() || static_cast<bool>(pending_);
}

void CWorkerRun::Stop() {
    pending_ = nullptr;
    if (thread_.joinable() && stop_) {
        stop_();
    }
}

void CWorkerRun::DropPending() {
    pending_ = nullptr;
}

void CWorkerRun::Wait() {
    pending_ = nullptr;
    while (thread_.joinable()) {
        // The run's last act is to post Reap, so this wakes at the latest then; Reap itself may
        // be what this call handles.
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents |
                                        QEventLoop::ExcludeUserInputEvents);
    }
}

void CWorkerRun::Launch(std::function<void()> body) {
    thread_ = std::thread([this, body = std::move(body)] {
        body();
        // Nothing of the run touches the window after this: joining from Reap cannot wait on us.
        console::PostToThreadOf(this, [this] { Reap(); });
    });
}

void CWorkerRun::Reap() {
    if (!thread_.joinable()) {
        return;
    }
    thread_.join();
    emit Finished();
    if (pending_) {
        Launch(std::exchange(pending_, nullptr));
    }
}
