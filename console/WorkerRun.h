#pragma once

#include <QObject>
#include <functional>
#include <thread>

// The worker thread of a tool window: one run at a time, started from and joined on the
// window's thread.
//
// Each tool window holds its run as a member declared after everything its runs use. Members go
// in reverse order, so the run's destructor, which stops a run still going and waits it out,
// is done before anything that run touches is gone; no window has to remember to do it first.
//
// A run talks to its window through blocking calls carried to the window's thread
// (CallOnThreadOf), so the window's thread may never simply join a run that could still be
// calling: the join would wait for the worker while the worker waits for the window. Runs are
// therefore joined only once they have said they are through, and Wait keeps handling events
// until then.
class CWorkerRun : public QObject {
    Q_OBJECT

public:
    // stop asks a run that is going to end soon, as the tool decides (it may do nothing: a run
    // that must not be cut short is waited out). It is called on the owner's thread.
    explicit CWorkerRun(std::function<void()> stop = {}, QObject* parent = nullptr);
    // Stops a run still going and waits for it, as Wait does. Finished is not emitted for it:
    // the owner is going away.
    ~CWorkerRun() override;

    CWorkerRun(const CWorkerRun&) = delete;
    CWorkerRun& operator=(const CWorkerRun&) = delete;

    // Runs body on a new thread. While the previous run is still winding down, body starts as
    // soon as that run has ended; a later Start replaces a body still waiting.
    void Start(std::function<void()> body);
    // A run is going or waiting to start.
    bool IsActive() const;
    // Asks the run that is going to stop, and forgets one waiting to start.
    void Stop();
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

    std::function<void()> stop_;
    std::thread thread_;
    std::function<void()> pending_;
};
