#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "console/WindowMessageSink.h"
#include "console/WorkerDialog.h"
#include "devices/ShutterController3.h"
#include "platform/ManualResetEvent.h"
#include "tools/threshold/ThresholdSearch.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class CSerialComboBox;

// "Shutter Controller Light Sensor Threshold Configuration": works the light-sensor threshold of
// a v3.0 shutter controller by hand (read, step, set, save, reload, write protection, shutter),
// or finds it with the automatic search on a worker thread. The dialog owns its controller and
// opens its own port; it shares nothing with the console.
//
// Manual operations run on this window's thread and block it until the box answers. The search
// reaches the controls through the view below, each call carried out on this window's thread
// while the worker waits. While it runs, every control that would send a command is disabled,
// so the window and the worker never talk to the box at once.
//
// Closing the window while a search runs cancels the search and closes once it has ended.
class CShutterControllerLightSensorThresholdDlg : public CWorkerDialog,
                                                  public IThresholdSearchView {
    Q_OBJECT

public:
    explicit CShutterControllerLightSensorThresholdDlg(QWidget* parent = nullptr);

    // Bar at the percentage truncated, the status line, and the percentage without decimals.
    // From any thread; a worker's call waits until the window has shown it.
    void SetProgress(double percent, const std::wstring& text) override;
    // Enabling and check states of the advanced controls, from the check box, the connection
    // and the write protection.
    void UpdateControls();
    // Reads the active, then the saved threshold and shows them.
    void RefreshThresholds();

    // The search's view of the window; called from its worker thread.
    void ShowMessage(const std::wstring& text, platform::MessageStyle style) override;
    int32_t SelectedPort() override;
    void SearchEnded() override;

    // The controller this window talks to. Constructed with the window, destroyed with it.
    CShutterController3 Device;
    // 1 while the search runs; the search sets and clears it.
    std::atomic<int32_t> SearchRunning{0};
    // Set by "Cancel" (and by closing during a search); the search resets it when it ends.
    platform::ManualResetEvent CancelEvent;

public slots:
    void OnRun();
    void OnCancel();
    void OnEnableAdvanced(bool checked);
    void OnConnect(bool checked);
    void OnWriteProtect(bool checked);
    void OnOpenShutter();
    void OnCloseShutter();
    void OnSet();
    void OnSave();
    void OnReload();

protected:
    CWorkerRun& Run() override { return run_; }
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Drops a connection the user left open; nothing is sent on the way out.
    void CloseNow(int result) override;

private:
    // One step or memory command, sent without awaiting a reply; the thresholds are read again
    // after it unless it failed.
    bool SendThresholdCommand(const std::function<bool()>& send, const wchar_t* failure);
    // Rewrites the desired threshold as the value it reads as, within the accepted range.
    void NormaliseDesiredThreshold();
    void Error(const wchar_t* text, const std::string& why = {});
    // Error after a failed operation on the controller, with the reason it recorded.
    void DeviceError(const wchar_t* text);

    CWindowMessageSink messages_{this};
    uint16_t desired_;

    CSerialComboBox* port_;
    QPushButton* runButton_;
    QPushButton* cancelButton_;
    QLabel* status_;
    QLabel* percent_;
    QProgressBar* progress_;
    QCheckBox* advanced_;
    QPushButton* connect_;
    QPushButton* writeProtect_;
    QPushButton* openShutter_;
    QPushButton* closeShutter_;
    QLabel* savedLabel_;
    QLineEdit* saved_;
    QLabel* activeLabel_;
    QLineEdit* active_;
    QPushButton* get_;
    QPushButton* reload_;
    QPushButton* save_;
    QLabel* desiredLabel_;
    QLineEdit* desiredEdit_;
    QPushButton* set_;
    QPushButton* down6dB_;
    QPushButton* down1_;
    QPushButton* up1_;
    QPushButton* up6dB_;
    QPushButton* done_;
    // Last: it goes first, and stops and waits out a run before anything the run uses goes.
    // Closing or destroying the window mid-search cancels the search; only once the search is
    // through may the controller go.
    CWorkerRun run_{[this] { CancelEvent.Set(); }};
};
