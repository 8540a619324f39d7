#pragma once

#include <filesystem>
#include <string>

#include "console/WindowMessageSink.h"
#include "console/WorkerDialog.h"
#include "console/omega/OmegaToolFrame.h"
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
class COmegaSettingsSaveDlg : public CWorkerDialog, public ISettingsSaveView {
    Q_OBJECT

public:
    explicit COmegaSettingsSaveDlg(QWidget* parent = nullptr);

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

protected:
    CWorkerRun& Run() override { return run_; }

private:
    platform::AutoResetEvent cancel_;
    CWindowMessageSink messages_{this};
    ControllerTuning tuning_ = nullptr;

    QComboBox* port_;
    COmegaSettingsOutputFileBrowseCtrl* outputFile_;
    OmegaToolFrame frame_;
    // Last: it goes first, and stops and waits out a run before anything the run uses goes.
    // Closing or destroying the window mid-run cancels the run.
    CWorkerRun run_{[this] { cancel_.Set(); }};
};
