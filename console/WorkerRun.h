#pragma once

#include <QObject>
#include <functional>
#include <thread>

// The worker thread of a tool window: one run at a time, started from and joined on the
// window's thread.
//
// A run talks to its window through blocking calls carried to the window's thread
// (CallOnThreadOf), so the window's thread may never simply join a run that could still be
// calling: the join would wait for the worker while the worker waits for the window. Runs are
// therefore joined only once they have said they are through, and Wait keeps handling events
// until then.
class CWorkerRun : public QObject {
    Q_OBJECT

public:
    explicit CWorkerRun(QObject* parent = nullptr);
    // Waits for a run still going, as Wait does.
    ~CWorkerRun() override;

    CWorkerRun(const CWorkerRun&) = delete;
    CWorkerRun& operator=(const CWorkerRun&) = delete;

    // Runs body on a new thread. While the previous run is still winding down, body starts as
    // soon as that run has ended; a later Start replaces a body still waiting.
    void Start(std::function<void()> body);
    // A run is going or waiting to start.
    bool IsActive() const;
    // Forgets a body that has not started yet.
    void DropPending();
    // Returns when no run is left, handling this thread's events meanwhile (user input
    // excepted) so that the run's calls are served. A body that has not started is dropped.
    void Wait();

signals:
    // On the owner's thread, when a run has ended and its thread has been joined.
    void Finished();

private:
    void Launch(std::function<void()> body);
    void Reap();

    std::thread thread_;
    std::function<void()> pending_;
};
