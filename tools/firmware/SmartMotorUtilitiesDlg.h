#pragma once

#include <QDialog>
#include <string>

#include "console/WindowMessageSink.h"
#include "console/WorkerRun.h"
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
class CSmartMotorUtilitiesDlg : public QDialog, public IFirmwareUpdateView {
    Q_OBJECT

public:
    explicit CSmartMotorUtilitiesDlg(QWidget* parent = nullptr);
    ~CSmartMotorUtilitiesDlg() override;

    // A run is going.
    bool IsRunning() const { return run_.IsActive(); }
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
    // While a run is going: the window closes with result once it has ended.
    void done(int result) override;

private:
    void SetRunning(bool running);
    void OnRunFinished();
    void ShowProgress();

    CWindowMessageSink messages_{this};
    SmiHostFactory hostFactory_ = CreateSmiHost;
    CFirmwareProgress progress_;
    bool waitCursor_ = false;
    bool closeRequested_ = false;
    int closeResult_ = Rejected;

    QComboBox* port_;
    CSMFirmwarePathCtrl* firmwarePath_;
    QPushButton* download_;
    QPushButton* restore_;
    QLabel* status_;
    QLabel* percent_;
    QProgressBar* progressBar_;
    QPushButton* close_;

    // Last, so that it is destroyed first: a run still going is waited for while everything it
    // uses is still there.
    CWorkerRun run_;
};
