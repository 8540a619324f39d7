#pragma once

#include <QDialog>
#include <filesystem>
#include <functional>
#include <string>

#include "console/WorkerRun.h"

class QComboBox;
class QLineEdit;

// A tool window whose runs go on a worker thread, one at a time, and reach the window's controls
// through calls carried out on the window's thread while the worker waits.
//
// The window never goes away under a run. Closing it while a run is going (Esc, the close box,
// a button that closes) asks the run to stop, as the tool decides, and closes once the run has
// ended and its thread has been joined. Destroying it outright stops the run the same way and
// serves the run's calls until it is through: each window holds its CWorkerRun as its last
// member, so the run is through before any other member of the window goes.
class CWorkerDialog : public QDialog {
    Q_OBJECT

public:
    explicit CWorkerDialog(QWidget* parent = nullptr);
    ~CWorkerDialog() override;

    // A run is going, winding down, or waiting to start after one that is.
    bool IsRunning() const { return run_ != nullptr && run_->IsActive(); }

public slots:
    // While a run is going: asks it to stop, and the window closes with result once it has
    // ended. Otherwise closes at once.
    void done(int result) override;

protected:
    // The window's run: a member declared after everything its runs use, made with what
    // stopping a run means for this tool.
    virtual CWorkerRun& Run() = 0;

    // Starts body on the worker thread, or as soon as the run still winding down has ended.
    // Refused once the window is waiting to close. Throws std::system_error when no thread can
    // be made.
    bool StartRun(std::function<void()> body);
    // Forgets a run that has not started yet.
    void DropPendingRun() { Run().DropPending(); }
    // The window waits for the run to end before it closes.
    bool ClosePending() const { return closeRequested_; }

    // On the window's thread after each run has ended and its thread has been joined, before a
    // close that waited for it is carried out. Not called once the window is being destroyed.
    virtual void RunEnded() {}
    // What closing means when no run is going.
    virtual void CloseNow(int result);

    // The wait cursor, from the window's thread; turning it on or off twice does nothing.
    void ShowWaitCursor(bool on);

    // What a run's view reads of the controls, from the worker thread (carried out on the
    // window's thread while the worker waits) or from the window's own.
    int CurrentIndexOf(const QComboBox* list);
    std::wstring CurrentTextOf(const QComboBox* list);
    // The chosen port's name ("COM33") in a port list, whatever the entry says beside it.
    std::wstring CurrentPortNameOf(const QComboBox* list);
    std::wstring TextOf(const QLineEdit* field);
    // A typed or chosen path, as the file system spells it.
    std::filesystem::path PathIn(const QLineEdit* field);

private:
    void OnRunFinished();

    bool closeRequested_ = false;
    int closeResult_ = Rejected;
    bool waitCursor_ = false;
    // Run(), once the first run has started; there is nothing to stop or wait for before.
    CWorkerRun* run_ = nullptr;
};
