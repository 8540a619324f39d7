#pragma once

#include <filesystem>
#include <string>

#include "console/WindowMessageSink.h"
#include "console/WorkerDialog.h"
#include "console/omega/OmegaToolFrame.h"
#include "platform/AutoResetEvent.h"
#include "tools/omega/SettingsResetRun.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class CEditBrowseCtrl;

// "Omega Temperature Controller Configuration" for resetting: writes one of the built-in
// configurations, or a file saved by the save tool, to an Omega controller on the chosen port
// and restarts it, on a worker thread. The run reaches the controls through the view below;
// each of its calls is carried out on this window's thread while the worker waits.
//
// "Cancel" makes the window look idle at once while the run stops at its next register; a
// "Reset Settings" pressed before then starts as soon as the run has ended. Closing the window
// while a run is going cancels the run and closes once it has ended.
class COmegaSettingsResetDlg : public CWorkerDialog, public ISettingsResetView {
    Q_OBJECT

public:
    explicit COmegaSettingsResetDlg(QWidget* parent = nullptr);

    // Adjusts the controller of each later run before it opens (tests shorten its waits).
    void SetControllerTuning(ControllerTuning tuning) { tuning_ = tuning; }

    // The view of the reset run; called from its worker thread.
    int SelectedPortIndex() override;
    std::wstring SelectedPortText() override;
    bool UseFactoryDefaults() override;
    std::wstring SelectedConfiguration() override;
    std::filesystem::path InputPath() override;
    int ProgressPosition() override;
    void SetRunning(bool running) override;
    platform::AutoResetEvent& CancelEvent() override { return cancel_; }
    void SetProgress(double percent, const std::wstring& text) override;
    void ShowMessage(const std::wstring& text, platform::MessageStyle style) override;

public slots:
    void OnResetSettings();
    void OnCancel();

protected:
    CWorkerRun& Run() override { return run_; }

private:
    // The path field is for the settings file choice only.
    void EnableInputFile();

    platform::AutoResetEvent cancel_;
    CWindowMessageSink messages_{this};
    ControllerTuning tuning_ = nullptr;

    QComboBox* port_;
    QCheckBox* factoryDefaults_;
    QComboBox* configuration_;
    CEditBrowseCtrl* inputFile_;
    OmegaToolFrame frame_;
    // Last: it goes first, and stops and waits out a run before anything the run uses goes.
    // Closing or destroying the window mid-run cancels the run.
    CWorkerRun run_{[this] { cancel_.Set(); }};
};
