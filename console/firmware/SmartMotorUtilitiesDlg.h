#pragma once

#include <string>

#include "console/WindowMessageSink.h"
#include "console/WorkerDialog.h"
#include "tools/firmware/FirmwareProgress.h"
#include "tools/firmware/FirmwareUpdateRun.h"
#include "tools/firmware/Smi.h"

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class CSMFirmwarePathCtrl;

// "SmartMotor Firmware Updater": backs up the program of the SmartMotor on the chosen port
// beside the chosen firmware file, then loads that file into the motor.
//
// The update runs on a worker thread, so the window keeps painting its progress while the
// motor works and while a silent motor is waited for. The run reaches the controls through the
// view below; each of its calls is carried out on this window's thread while the worker waits.
// During a run the choices and the buttons are out of reach.
//
// A download cannot be called off half way without leaving the motor with half a program, so
// closing the window during a run (Esc, the close box) lets the run finish, with its closing
// message, and closes the window then.
class CSmartMotorUtilitiesDlg : public CWorkerDialog, public IFirmwareUpdateView {
    Q_OBJECT

public:
    explicit CSmartMotorUtilitiesDlg(QWidget* parent = nullptr);

    // Where later runs get their SMI host (tests shorten the host's waits); the serial host by
    // default.
    void SetHostFactory(SmiHostFactory factory) { hostFactory_ = std::move(factory); }

    // The view of the update run; called from its worker thread.
    int SelectedPortIndex() override;
    std::wstring SelectedPortText() override;
    std::wstring FirmwarePath() override;
    void SetWaitCursor(bool on) override;
    void ShowMessage(const std::wstring& text, platform::MessageStyle style) override;
    void ShowSmiError(const std::wstring& description) override;
    void OnSmiNotification(int32_t code, int32_t value) override;

public slots:
    void OnDownload();

protected:
    CWorkerRun& Run() override { return run_; }
    void RunEnded() override { SetRunning(false); }

private:
    void SetRunning(bool running);
    void ShowProgress();

    CWindowMessageSink messages_{this};
    SmiHostFactory hostFactory_ = CreateSmiHost;
    CFirmwareProgress progress_;

    QComboBox* port_;
    CSMFirmwarePathCtrl* firmwarePath_;
    QPushButton* download_;
    QPushButton* restore_;
    QLabel* status_;
    QLabel* percent_;
    QProgressBar* progressBar_;
    QPushButton* close_;
    // Last: it goes first, and stops and waits out a run before anything the run uses goes.
    // A run is never stopped half way: closing waits for the motor to finish, and destroying
    // the window serves the run to its end.
    CWorkerRun run_;
};
