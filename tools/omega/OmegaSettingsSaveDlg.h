#pragma once

#include <QDialog>
#include <filesystem>
#include <string>

#include "console/WindowMessageSink.h"
#include "console/WorkerRun.h"
#include "platform/AutoResetEvent.h"
#include "tools/omega/SettingsSaveRun.h"

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class COmegaSettingsOutputFileBrowseCtrl;

// "Omega Temperature Controller Configuration" for saving: reads every register of an Omega
// controller on the chosen port into a text file, with progress, on a worker thread. The run
// reaches the controls through the view below; each of its calls is carried out on this
// window's thread while the worker waits.
//
// Closing the window while a run is going cancels the run and closes once it has ended, so the
// worker never outlives the controls it uses.
class COmegaSettingsSaveDlg : public QDialog, public ISettingsSaveView {
    Q_OBJECT

public:
    explicit COmegaSettingsSaveDlg(QWidget* parent = nullptr);
    ~COmegaSettingsSaveDlg() override;

    // A run is going, or winding down after a cancel.
    bool IsRunning() const { return run_.IsActive(); }
    // Adjusts the controller of each later run before it opens (tests shorten its waits).
    void SetControllerTuning(ControllerTuning tuning) { tuning_ = tuning; }

    // The view of the save run; called from its worker thread.
    int SelectedPortIndex() override;
    std::wstring SelectedPortText() override;
    std::filesystem::path OutputPath() override;
    void SetRunning(bool running) override;
    platform::AutoResetEvent& CancelEvent() override { return cancel_; }
    void SetProgress(double percent, const std::wstring& text) override;
    void ShowMessage(const std::wstring& text, platform::MessageStyle style) override;

public slots:
    void OnSaveSettings();
    void OnCancel();
    // While a run is going: cancels it, and the window closes with result once it has ended.
    void done(int result) override;

private:
    void OnRunFinished();

    platform::AutoResetEvent cancel_;
    CWindowMessageSink messages_{this};
    ControllerTuning tuning_ = nullptr;
    bool waitCursor_ = false;
    bool closeRequested_ = false;
    int closeResult_ = Rejected;

    QComboBox* port_;
    COmegaSettingsOutputFileBrowseCtrl* outputFile_;
    QPushButton* save_;
    QPushButton* cancelButton_;
    QLabel* status_;
    QLabel* percent_;
    QProgressBar* progress_;
    QPushButton* done_;

    // Last, so that it is destroyed first: a run still going is waited for while everything it
    // uses is still there.
    CWorkerRun run_;
};
