#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QEvent>
#include <QString>
#include <array>
#include <atomic>
#include <deque>
#include <limits>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "instruments/FilterWheel.h"
#include "instruments/InstrumentConfig.h"
#include "instruments/ShutterBox.h"
#include "platform/ManualResetEvent.h"
#include "serial/SerialEchoSink.h"
#include "serial/SessionTrace.h"
#include "serial/TrafficEcho.h"

class QAbstractButton;
class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;
class CNumberEdit;
class CSpinButtonCtrl;
class CLogFindBar;
class CTerminalLogCtrl;
namespace console {
class TemperatureTrend;
}

// The console window: choose an instrument type, choose and test its ports, connect, and
// exercise the shutter, filter wheel, light sensor and temperature controller. Every step is
// written to the terminal log, and every byte sent to or received from an instrument port is
// echoed there. It owns one instrument of each kind for its whole life.
class CPravikDlg : public QDialog, public ISerialEchoSink {
    Q_OBJECT

public:
    explicit CPravikDlg(QWidget* parent = nullptr);
    ~CPravikDlg() override;

    // Port traffic, from the ports' monitoring threads: queued for this window's thread.
    void PostSerialEcho(std::unique_ptr<SerialEcho> echo) override;
    // A port's device hung up, from its monitoring thread: handled on this window's thread.
    void PostPortGone(int portNumber) override;

    void AppendLog(const QString& text, int code);

    // Closing, however asked for, first remembers the bench for the next run.
    void done(int result) override;

    // What the controls show and allow follows from these; tests read them.
    int InstrumentKind() const { return config_.InstrumentKind; }
    bool IsConnected() const { return connected_ != 0; }
    const InstrumentConfig& Configuration() const { return config_; }
    CInstrumentBase* CurrentInstrument() const { return current_; }
    CFilterWheel& FilterWheel() { return wheel_; }
    CShutterBox& ShutterBox() { return box_; }
    // Each connection's trace, in the user's sessions folder.
    CSessionTrace& SessionTrace() { return trace_; }
    const CTrafficEcho& Traffic() const { return traffic_; }

    // How long a port is quiet before the received bytes waiting on it for their carriage return
    // are logged as a partial line: a box whose replies never end in one is seen at once.
    int PartialLineQuietMs = 50;

public slots:
    void ChooseMultiFilter();
    void ChooseSingleFilter();
    void RescanPorts();
    void OnInstrumentAdvanced();
    void OnControllerAdvanced();
    void OnInstrumentTest();
    void OnControllerTest();
    void NormaliseNumberOfFilters();
    void OnConnect();
    void OnDisconnect();
    void OnGetShutter();
    void OnOpenShutter();
    void OnCloseShutter();
    void OnGetFilter();
    void OnChangeFilter();
    void OnReset();
    void OnGetLightSensor();
    void OnGetTemp();
    void OnSetTemp();
    void OnAutoRefresh(bool checked);
    void NormaliseDesiredTemperature();
    void OnAbout();
    void OnFirmwareUpdater();
    void OnSaveOmegaSettings();
    void OnResetOmegaSettings();
    void OnAdjustLightSensorThreshold();
    void OnOpenSessionsFolder();
    void OnSaveLog();
    void SetLineTimes(LineTimes times);
    // Sets every control's enabled state from the instrument kind and the connection.
    void UpdateControls();

protected:
    void customEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* BuildContents();
    QGroupBox* BuildShutterGroup();
    QGroupBox* BuildFilterGroup();
    QGroupBox* BuildLightGroup();
    QGroupBox* BuildTemperatureGroup();
    void ChooseKind(int kind);
    // The bench as the last run left it: type, both ports with their line settings, the misc.
    // settings and where the window was. Nothing stored leaves the window as it starts.
    void RestoreBench();
    void RememberBench();
    // Each port's group in the stored bench, its list and its settings.
    struct PortPart {
        QString group;
        QComboBox* list;
        CommSettings* settings;
    };
    std::array<PortPart, 2> PortParts();
    void OnPortChosen(QComboBox* list, CommSettings& settings);
    void Advanced(bool instrumentPort);
    bool CurrentHasLightSensor();
    // Runs one test button: header, the operation, then "Success!" or the error line.
    bool RunTest(const QString& header, const QString& errorLine, const std::function<bool()>& op);
    // Logs why an operation failed, under its error line.
    void LogFailureReason(const platform::Failure& failure, const QString& errorLine);
    // Opens at the size the contents ask for, fitted to the screen.
    void FitToScreen();
    void WatchReset(const std::shared_ptr<std::atomic<bool>>& done, CInstrumentBase* instrument);
    // Joins the watchers that have finished: each holds a thread stack until it is joined, and a
    // technician may press Reset hundreds of times in a day.
    void ReapWatchers();
    // Logs the echo records waiting here, in order, for the rest of the current slice.
    void TakeEchoes();
    void LogEcho(const SerialEcho& echo);
    void LogTraffic(const std::vector<TrafficText>& pieces);
    // Logs every record the ports have posted so far and the bytes still waiting for their
    // carriage return: a connection is ending or starting, and none of its traffic may be seen
    // after that, nor carried into the next one.
    void LogWaitingTraffic();
    // Logs the partial lines of the ports that have been quiet long enough, and times the next.
    void OnQuietPorts();
    void StartQuietTimer();
    // Lists the ports again, keeping each list's choice where its port is still listed.
    void RefreshPorts();
    // The connected instrument's device on port went: the status says so at once, and the log
    // names the port and its device.
    void OnPortGone(int port);
    // With "Reconnect by itself" on, connects again once every lost port is back.
    void ReconnectIfBack();
    // The ports of the connection being made, for its trace.
    std::vector<TracedPort> TracedPorts() const;

    // The caller's events of a background reset live here; declared before the instruments so
    // that they outlive the instruments' reset workers.
    platform::ManualResetEvent resetDone_;
    platform::ManualResetEvent resetFailed_;
    platform::ManualResetEvent closing_;
    struct Watcher {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::vector<Watcher> watchers_;
    std::atomic<int> runningWatchers_{0};

    // Before the instruments, whose ports tap it until they are closed.
    CSessionTrace trace_;
    CFilterWheel wheel_;
    CShutterBox box_;
    CInstrumentBase* current_ = nullptr;
    InstrumentConfig config_;
    int connected_ = 0;
    // Connected, but a device of the instrument has gone since; Connect starts over.
    bool lost_ = false;
    // What each port of the connected instrument was, for the log when it goes.
    std::map<int, QString> connectedPorts_;
    int shownState_ = 1;
    CTrafficEcho traffic_;
    // Echo records not logged yet. Each holds its share of its port's echo backlog until it is
    // logged, so the ports stop echoing, rather than this growing, when the log falls behind.
    std::deque<std::unique_ptr<SerialEcho>> echoes_;
    QElapsedTimer echoSlice_;
    bool echoesResumePosted_ = false;

    QRadioButton* multiRadio_;
    QRadioButton* singleRadio_;
    QLabel* multiPicture_;
    QLabel* singlePicture_;
    QComboBox* instrumentPorts_;
    QPushButton* instrumentAdvanced_;
    QPushButton* instrumentTest_;
    QComboBox* controllerPorts_;
    QPushButton* controllerAdvanced_;
    QPushButton* controllerTest_;
    QCheckBox* legacy_;
    QCheckBox* reconnect_;
    QLabel* filtersLabel_;
    QLineEdit* filters_;
    CSpinButtonCtrl* filtersSpin_;
    QPushButton* connect_;
    QPushButton* disconnect_;
    QGroupBox* statusGroup_;
    QLabel* status_;
    // What the instrument said about itself when it connected; empty otherwise.
    QLabel* identity_;
    std::vector<QWidget*> shutterControls_;
    std::vector<QWidget*> filterControls_;
    std::vector<QWidget*> lightControls_;
    std::vector<QWidget*> temperatureControls_;
    QLineEdit* shutterState_;
    QLineEdit* filterPosition_;
    QComboBox* desiredFilter_;
    QLineEdit* lightState_;
    QLineEdit* temperature_;
    QCheckBox* autoRefresh_;
    CNumberEdit* desiredTemperature_;
    CSpinButtonCtrl* temperatureSpin_;
    console::TemperatureTrend* trend_;
    // The set point the trend draws: what Set Temp last wrote in this connection; NaN before
    // that, as the console reads no set point from the controller.
    double setpoint_ = std::numeric_limits<double>::quiet_NaN();
    CTerminalLogCtrl* terminal_;
    CLogFindBar* findBar_;
    QTimer* refreshTimer_;
    QTimer* quietTimer_;
    std::array<QAction*, 3> lineTimes_{};
};
