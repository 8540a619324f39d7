#include "console/PravikDlg.h"

#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFont>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <system_error>
#include <tuple>

#include "console/AboutDlg.h"
#include "console/AdvComDlg.h"
#include "console/GuiThreadCall.h"
#include "console/InstrumentPictures.h"
#include "console/LogFindBar.h"
#include "console/MessageBox.h"
#include "console/NumberEdit.h"
#include "console/PortListFill.h"
#include "console/PortWatch.h"
#include "console/PortsDlg.h"
#include "console/Remembered.h"
#include "console/SpinButtonCtrl.h"
#include "console/TemperatureTrend.h"
#include "console/TerminalLogCtrl.h"
#include "console/WaitCursor.h"
#include "console/firmware/SmartMotorUtilitiesDlg.h"
#include "console/omega/OmegaSettingsResetDlg.h"
#include "console/omega/OmegaSettingsSaveDlg.h"
#include "console/threshold/ShutterControllerLightSensorThresholdDlg.h"
#include "devices/OmegaTempController.h"
#include "devices/ReplyMeaning.h"
#include "devices/ShutterBoxDevice.h"
#include "devices/SmartMotor.h"
#include "devices/Vocabulary.h"
#include "platform/PortNames.h"
#include "platform/PortTable.h"
#include "serial/SerialPortList.h"

namespace {

constexpr int kHighestPort = 256;
// How long the window logs port traffic at a stretch before it lets clicks, key presses and
// painting through.
constexpr qint64 kEchoSliceMs = 20;
const QString kSelectOne = "-- Select One --";

// Port traffic crossing from a monitoring thread to the window's thread.
class SerialEchoEvent : public QEvent {
public:
    static QEvent::Type Kind() {
        static const auto kind = static_cast<QEvent::Type>(QEvent::registerEventType());
        return kind;
    }
    explicit SerialEchoEvent(std::unique_ptr<SerialEcho> echo)
        : QEvent(Kind()), Echo(std::move(echo)) {}
    std::unique_ptr<SerialEcho> Echo;
};

// "COM33 (/dev/ttyUSB0, FTDI FT232R USB UART (A50285BI))", as the port is now.
QString PortDescription(int port) {
    QString text = QString("COM%1").arg(port);
    if (const std::optional<platform::PortEntry> entry = platform::FindPortEntry(port)) {
        QString device = QString::fromStdString(entry->Present() ? entry->device : entry->path);
        if (!entry->adapter.empty()) {
            device += ", " + QString::fromStdString(entry->adapter);
        }
        text += " (" + device + ")";
    }
    return text;
}

QLabel* Heading(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setPixelSize(18);
    label->setFont(font);
    return label;
}

// Where the console keeps the bench it remembers.
const QString kBenchGroup = "Console";

template <typename T>
T* Named(T* widget, const char* name) {
    widget->setObjectName(name);
    return widget;
}

}  // namespace

CPravikDlg::CPravikDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Pravik");
    setWindowIcon(ProgramIcon());
    setWindowFlags(windowFlags() | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint);
    traffic_.SetMeaning(DescribeReply);

    auto* menu = new QMenuBar(this);
    QMenu* file = menu->addMenu("&File");
    const auto logAction = [&](const QString& text, const char* name, const QKeySequence& keys,
                               auto slot) {
        QAction* action = file->addAction(text);
        action->setObjectName(name);
        action->setShortcut(keys);
        connect(action, &QAction::triggered, this, slot);
    };
    logAction("&Save Log As...", "saveLogAction", QKeySequence::Save, &CPravikDlg::OnSaveLog);
    logAction("&Clear Log", "clearLogAction", {}, [this] { terminal_->ClearLog(); });
    logAction("&Find in Log...", "findAction", QKeySequence::Find, [this] { findBar_->Open(); });
    logAction("Find &Next", "findNextAction", Qt::Key_F3, [this] { findBar_->FindNext(); });
    logAction("Find &Previous", "findPreviousAction", Qt::SHIFT | Qt::Key_F3,
              [this] { findBar_->FindPrevious(); });
    QAction* sessions = file->addAction("Open &Sessions Folder");
    sessions->setObjectName("openSessionsFolderAction");
    connect(sessions, &QAction::triggered, this, &CPravikDlg::OnOpenSessionsFolder);
    file->addSeparator();
    QAction* exit = file->addAction("&Exit");
    exit->setObjectName("exitAction");
    connect(exit, &QAction::triggered, this, [this] { done(0); });
    QMenu* timesMenu = menu->addMenu("&View")->addMenu("&Times on TX/RX Lines");
    auto* timeChoices = new QActionGroup(this);
    for (const auto& [shown, text, name] :
         {std::tuple{LineTimes::None, "&None", "noTimesAction"},
          std::tuple{LineTimes::TimeOfDay, "Time of &Day", "timeOfDayAction"},
          std::tuple{LineTimes::SincePrevious, "Time Since the &Previous Line",
                     "timeSincePreviousAction"}}) {
        QAction* choice = timeChoices->addAction(text);
        choice->setObjectName(name);
        choice->setCheckable(true);
        connect(choice, &QAction::triggered, this, [this, shown = shown] {
            SetLineTimes(shown);
            if (const std::unique_ptr<QSettings> store = console::OpenRemembered()) {
                store->setValue(kBenchGroup + "/LineTimes", static_cast<int>(shown));
            }
        });
        lineTimes_[static_cast<std::size_t>(shown)] = choice;
    }
    timesMenu->addActions(timeChoices->actions());
    SetLineTimes(LineTimes::None);
    QMenu* utilities = menu->addMenu("&Utilities");
    QMenu* motor = utilities->addMenu("&SmartMotor");
    QAction* firmware = motor->addAction("&Firmware Updater");
    firmware->setObjectName("firmwareUpdaterAction");
    connect(firmware, &QAction::triggered, this, &CPravikDlg::OnFirmwareUpdater);
    QMenu* omega = utilities->addMenu("&Omega Temp Controller");
    QAction* saveOmega = omega->addAction("&Save Current Settings to File");
    saveOmega->setObjectName("saveOmegaSettingsAction");
    connect(saveOmega, &QAction::triggered, this, &CPravikDlg::OnSaveOmegaSettings);
    QAction* resetOmega = omega->addAction("&Reset to Default Settings");
    resetOmega->setObjectName("resetOmegaSettingsAction");
    connect(resetOmega, &QAction::triggered, this, &CPravikDlg::OnResetOmegaSettings);
    QMenu* shutter = utilities->addMenu("Shutter Controller");
    QAction* threshold = shutter->addAction("Adjust Light Sensor Threshold");
    threshold->setObjectName("adjustLightSensorThresholdAction");
    connect(threshold, &QAction::triggered, this, &CPravikDlg::OnAdjustLightSensorThreshold);
    QAction* ports = utilities->addAction("&Ports ...");
    ports->setObjectName("portsAction");
    connect(ports, &QAction::triggered, this, [this] {
        CPortsDlg dialog(this);
        dialog.exec();
        RefreshPorts();
    });
    QMenu* help = utilities->addMenu("&Help");
    QAction* about = help->addAction("About");
    about->setObjectName("aboutAction");
    connect(about, &QAction::triggered, this, &CPravikDlg::OnAbout);
    // Window managers here offer no way to add to a window's own menu; the window's context
    // menu carries the entry instead.
    auto* separator = new QAction(this);
    separator->setSeparator(true);
    auto* aboutPravik = new QAction("&About Pravik...", this);
    aboutPravik->setObjectName("systemAboutAction");
    connect(aboutPravik, &QAction::triggered, this, &CPravikDlg::OnAbout);
    addAction(separator);
    addAction(aboutPravik);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    // A window taller than the screen scrolls rather than running off it.
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName("scrollArea");
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(BuildContents());
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setMenuBar(menu);
    layout->addWidget(scroll);

    refreshTimer_ = new QTimer(this);
    refreshTimer_->setInterval(1000);
    connect(refreshTimer_, &QTimer::timeout, this, &CPravikDlg::OnGetTemp);
    quietTimer_ = new QTimer(this);
    quietTimer_->setSingleShot(true);
    connect(quietTimer_, &QTimer::timeout, this, &CPravikDlg::OnQuietPorts);

    config_ = wheel_.Config;
    // Every driver of both instruments reports its traffic here.
    for (CSerialPort* port : std::initializer_list<CSerialPort*>{
             &wheel_.Motor, &wheel_.LegacyMotor, &wheel_.Omega, &wheel_.Athena, &box_.LegacyDriver,
             &box_.Driver26, &box_.Driver30}) {
        port->OwnerWindow = this;
    }
    // The trace's writer says from its own thread, once a connection, that it stopped.
    trace_.SetStoppedHandler([this](const std::string& reason) {
        console::PostToThreadOf(this, [this, text = QString::fromStdString(reason)] {
            AppendLog("Session trace stopped: " + text + ". The log in this window goes on.\n",
                      kLogError);
        });
    });
    filtersSpin_->SetRange(1, 8);
    NormaliseNumberOfFilters();
    temperatureSpin_->SetRange(0, 400);
    temperatureSpin_->SetPos(270);
    terminal_->WriteLegend();
    if (const std::string unsafe = platform::PortDirectoryWarning(); !unsafe.empty()) {
        AppendLog(QString::fromStdString(unsafe + "\n"), kLogError);
    }
    console::RefillOnPortChanges(this, [this] {
        RefreshPorts();
        ReconnectIfBack();
    });

    FitToScreen();
    RestoreBench();
    UpdateControls();
}

CPravikDlg::~CPravikDlg() {
    for (CSerialPort* port : std::initializer_list<CSerialPort*>{
             &wheel_.Motor, &wheel_.LegacyMotor, &wheel_.Omega, &wheel_.Athena, &box_.LegacyDriver,
             &box_.Driver26, &box_.Driver30}) {
        port->OwnerWindow = nullptr;
    }
    trace_.SetStoppedHandler(nullptr);
    trace_.End("window closed");
    // A reset watcher may be on its way into this window with a log line: keep taking those
    // calls (blocking in the event loop, not spinning) until every watcher has seen that the
    // window is closing and gone. Each one wakes this loop as it leaves.
    closing_.Set();
    while (runningWatchers_.load() > 0) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    for (Watcher& watcher : watchers_) {
        watcher.thread.join();
    }
}

void CPravikDlg::FitToScreen() {
    // The scroll area's own size hint is capped at a few dozen lines of text, far less than the
    // console needs: the window is sized from its contents instead, and scrolls only where the
    // screen is smaller than that.
    auto* scroll = findChild<QScrollArea*>("scrollArea");
    const QMargins margins = layout()->contentsMargins();
    QSize natural = scroll->widget()->sizeHint() +
                    QSize(margins.left() + margins.right(), margins.top() + margins.bottom());
    if (QWidget* menu = layout()->menuBar()) {
        natural.rheight() += menu->sizeHint().height();
    }
    QSize size = natural;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        // Room for the window manager's title bar and borders, which the window cannot measure
        // before it is shown.
        constexpr int kFrameAllowance = 48;
        const QRect available = screen->availableGeometry();
        const int maxWidth = available.width() - kFrameAllowance / 4;
        const int maxHeight = available.height() - kFrameAllowance;
        if (natural.height() > maxHeight) {
            size.rwidth() += scroll->verticalScrollBar()->sizeHint().width();
        }
        size = size.boundedTo(QSize(maxWidth, maxHeight));
    }
    resize(size);
}

void CPravikDlg::ReapWatchers() {
    std::erase_if(watchers_, [](Watcher& watcher) {
        if (!watcher.done->load()) {
            return false;
        }
        watcher.thread.join();  // it has nothing left to do but return
        return true;
    });
}

QWidget* CPravikDlg::BuildContents() {
    auto* page = new QWidget;
    auto* column = new QVBoxLayout(page);

    // 1. Instrument type.
    column->addWidget(Named(Heading("1. Choose an Instrument Type", page), "heading1"));
    auto* types = new QGridLayout;
    multiPicture_ = Named(new QLabel(page), "multiFilterPicture");
    multiPicture_->setPixmap(MultiFilterPicture(96));
    singlePicture_ = Named(new QLabel(page), "singleFilterPicture");
    singlePicture_->setPixmap(SingleFilterPicture(96));
    for (QLabel* picture : {multiPicture_, singlePicture_}) {
        picture->setCursor(Qt::PointingHandCursor);
        picture->installEventFilter(this);
    }
    multiRadio_ = Named(new QRadioButton("Multi-Filter", page), "multiFilterRadio");
    singleRadio_ = Named(new QRadioButton("Single-Filter", page), "singleFilterRadio");
    types->addWidget(multiPicture_, 0, 0, Qt::AlignCenter);
    types->addWidget(singlePicture_, 0, 1, Qt::AlignCenter);
    types->addWidget(multiRadio_, 1, 0, Qt::AlignCenter);
    types->addWidget(singleRadio_, 1, 1, Qt::AlignCenter);
    column->addLayout(types);
    connect(multiRadio_, &QRadioButton::clicked, this, &CPravikDlg::ChooseMultiFilter);
    connect(singleRadio_, &QRadioButton::clicked, this, &CPravikDlg::ChooseSingleFilter);

    // 2. Ports and settings.
    column->addWidget(Named(Heading("2. Configure the Instrument", page), "heading2"));
    auto* settingsRow = new QHBoxLayout;
    auto portGroup = [&](const QString& title, QComboBox*& list, QPushButton*& advanced,
                         QPushButton*& test, const char* prefix) {
        auto* group = new QGroupBox(title, page);
        auto* grid = new QGridLayout(group);
        list = new QComboBox(group);
        list->setObjectName(QString(prefix) + "PortList");
        list->setMinimumWidth(140);
        advanced = new QPushButton("Advanced ...", group);
        advanced->setObjectName(QString(prefix) + "AdvancedButton");
        test = new QPushButton("Test Connection", group);
        test->setObjectName(QString(prefix) + "TestButton");
        grid->addWidget(list, 0, 0, 1, 2);
        grid->addWidget(advanced, 1, 0);
        grid->addWidget(test, 1, 1);
        list->addItem(kSelectOne);
        return group;
    };
    settingsRow->addWidget(portGroup("Instrument COM Settings", instrumentPorts_,
                                     instrumentAdvanced_, instrumentTest_, "instrument"));
    settingsRow->addWidget(portGroup("Temperature Controller COM Settings", controllerPorts_,
                                     controllerAdvanced_, controllerTest_, "controller"));
    auto* misc = new QGroupBox("Misc. Settings", page);
    auto* miscGrid = new QGridLayout(misc);
    legacy_ = Named(new QCheckBox("Enable Legacy Support", misc), "legacyCheck");
    filtersLabel_ = Named(new QLabel("Number of Filters:", misc), "numberOfFiltersLabel");
    filters_ = Named(new QLineEdit("6", misc), "numberOfFiltersEdit");
    filters_->setValidator(
        new QRegularExpressionValidator(QRegularExpression("\\d{0,9}"), filters_));
    filters_->setMaximumWidth(50);
    filtersSpin_ = Named(new CSpinButtonCtrl(misc), "numberOfFiltersSpin");
    miscGrid->addWidget(legacy_, 0, 0, 1, 3);
    miscGrid->addWidget(filtersLabel_, 1, 0);
    miscGrid->addWidget(filters_, 1, 1);
    miscGrid->addWidget(filtersSpin_, 1, 2);
    settingsRow->addWidget(misc);
    column->addLayout(settingsRow);
    connect(instrumentPorts_, &QComboBox::activated, this,
            [this] { OnPortChosen(instrumentPorts_, config_.InstrumentPort); });
    connect(controllerPorts_, &QComboBox::activated, this,
            [this] { OnPortChosen(controllerPorts_, config_.TempControllerPort); });
    connect(instrumentAdvanced_, &QPushButton::clicked, this, &CPravikDlg::OnInstrumentAdvanced);
    connect(controllerAdvanced_, &QPushButton::clicked, this, &CPravikDlg::OnControllerAdvanced);
    connect(instrumentTest_, &QPushButton::clicked, this, &CPravikDlg::OnInstrumentTest);
    connect(controllerTest_, &QPushButton::clicked, this, &CPravikDlg::OnControllerTest);
    connect(filters_, &QLineEdit::editingFinished, this, &CPravikDlg::NormaliseNumberOfFilters);
    connect(filtersSpin_, &CSpinButtonCtrl::Stepped, this, [this] {
        filters_->setText(QString::number(filtersSpin_->GetPos()));
        NormaliseNumberOfFilters();
    });

    // 3. Connection.
    column->addWidget(Named(Heading("3. Connect to the Instrument", page), "heading3"));
    auto* connectRow = new QHBoxLayout;
    connect_ = Named(new QPushButton("Connect", page), "connectButton");
    disconnect_ = Named(new QPushButton("Disconnect", page), "disconnectButton");
    statusGroup_ = Named(new QGroupBox("Connection Status", page), "statusGroup");
    auto* statusLayout = new QVBoxLayout(statusGroup_);
    status_ = Named(new QLabel("<Status>", statusGroup_), "statusText");
    status_->setAlignment(Qt::AlignCenter);
    QFont statusFont = status_->font();
    statusFont.setPixelSize(16);
    statusFont.setBold(true);
    status_->setFont(statusFont);
    statusLayout->addWidget(status_);
    identity_ = Named(new QLabel(statusGroup_), "identityText");
    identity_->setAlignment(Qt::AlignCenter);
    identity_->setTextFormat(Qt::PlainText);
    // Room for both lines from the start: the window does not grow, nor start to scroll, when
    // they appear.
    identity_->setMinimumHeight(2 * identity_->fontMetrics().lineSpacing());
    statusLayout->addWidget(identity_);
    reconnect_ = Named(new QCheckBox("Reconnect by itself", page), "reconnectCheck");
    reconnect_->setToolTip(
        "When a device of the connected instrument is lost, connect again as soon as its "
        "adapter is back.");
    auto* connectButtons = new QVBoxLayout;
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addWidget(connect_);
    buttonRow->addWidget(disconnect_);
    connectButtons->addLayout(buttonRow);
    connectButtons->addWidget(reconnect_);
    connectRow->addLayout(connectButtons);
    connectRow->addWidget(statusGroup_, 1);
    column->addLayout(connectRow);
    connect(connect_, &QPushButton::clicked, this, &CPravikDlg::OnConnect);
    connect(disconnect_, &QPushButton::clicked, this, &CPravikDlg::OnDisconnect);

    // 4. Tests.
    column->addWidget(Named(Heading("4. Test the Instrument", page), "heading4"));
    auto* tests = new QGridLayout;
    tests->addWidget(BuildShutterGroup(), 0, 0);
    tests->addWidget(BuildFilterGroup(), 0, 1);
    tests->addWidget(BuildLightGroup(), 1, 0);
    tests->addWidget(BuildTemperatureGroup(), 1, 1);
    // Beside the test groups, as tall as both rows of them: the temperature over time.
    trend_ = new console::TemperatureTrend(page);
    tests->addWidget(trend_, 0, 2, 2, 1);
    tests->setColumnStretch(2, 1);
    column->addLayout(tests);

    auto* terminalRow = new QHBoxLayout;
    terminalRow->addWidget(Named(Heading("Terminal", page), "headingTerminal"));
    column->addLayout(terminalRow);
    terminal_ = new CTerminalLogCtrl(page);
    terminal_->setObjectName("terminal");
    terminal_->setMinimumHeight(220);
    column->addWidget(terminal_, 1);
    // Beside the heading, in room kept for it: showing it moves nothing and grows nothing.
    findBar_ = new CLogFindBar(terminal_, page);
    QSizePolicy keepRoom = findBar_->sizePolicy();
    keepRoom.setRetainSizeWhenHidden(true);
    findBar_->setSizePolicy(keepRoom);
    terminalRow->addWidget(findBar_, 1);
    return page;
}

QGroupBox* CPravikDlg::BuildShutterGroup() {
    auto* group = new QGroupBox("Shutter Control");
    auto* grid = new QGridLayout(group);
    auto* label = Named(new QLabel("Current State:", group), "shutterStateLabel");
    shutterState_ = Named(new QLineEdit(group), "shutterStateEdit");
    shutterState_->setReadOnly(true);
    auto* get = Named(new QPushButton("Get", group), "shutterGetButton");
    auto* open = Named(new QPushButton("Open Shutter", group), "openShutterButton");
    auto* close = Named(new QPushButton("Close Shutter", group), "closeShutterButton");
    grid->addWidget(label, 0, 0);
    grid->addWidget(shutterState_, 0, 1);
    grid->addWidget(get, 0, 2);
    grid->addWidget(open, 1, 1);
    grid->addWidget(close, 1, 2);
    shutterControls_ = {label, shutterState_, get, open, close};
    connect(get, &QPushButton::clicked, this, &CPravikDlg::OnGetShutter);
    connect(open, &QPushButton::clicked, this, &CPravikDlg::OnOpenShutter);
    connect(close, &QPushButton::clicked, this, &CPravikDlg::OnCloseShutter);
    return group;
}

QGroupBox* CPravikDlg::BuildFilterGroup() {
    auto* group = new QGroupBox("Filter Position Control");
    auto* grid = new QGridLayout(group);
    auto* current = Named(new QLabel("Current:", group), "filterCurrentLabel");
    filterPosition_ = Named(new QLineEdit(group), "filterEdit");
    filterPosition_->setReadOnly(true);
    auto* get = Named(new QPushButton("Get", group), "filterGetButton");
    auto* desired = Named(new QLabel("Desired:", group), "filterDesiredLabel");
    desiredFilter_ = Named(new QComboBox(group), "desiredFilterList");
    auto* change = Named(new QPushButton("Change Filter", group), "changeFilterButton");
    auto* reset = Named(new QPushButton("Reset", group), "resetButton");
    grid->addWidget(current, 0, 0);
    grid->addWidget(filterPosition_, 0, 1);
    grid->addWidget(get, 0, 2);
    grid->addWidget(desired, 1, 0);
    grid->addWidget(desiredFilter_, 1, 1);
    grid->addWidget(change, 1, 2);
    grid->addWidget(reset, 2, 2);
    filterControls_ = {current, filterPosition_, get, desired, desiredFilter_, change, reset};
    connect(get, &QPushButton::clicked, this, &CPravikDlg::OnGetFilter);
    connect(change, &QPushButton::clicked, this, &CPravikDlg::OnChangeFilter);
    connect(reset, &QPushButton::clicked, this, &CPravikDlg::OnReset);
    return group;
}

QGroupBox* CPravikDlg::BuildLightGroup() {
    auto* group = new QGroupBox("Light Sensor");
    auto* grid = new QGridLayout(group);
    auto* label = Named(new QLabel("Current State:", group), "lightStateLabel");
    lightState_ = Named(new QLineEdit(group), "lightEdit");
    lightState_->setReadOnly(true);
    auto* get = Named(new QPushButton("Get", group), "lightGetButton");
    grid->addWidget(label, 0, 0);
    grid->addWidget(lightState_, 0, 1);
    grid->addWidget(get, 0, 2);
    lightControls_ = {label, lightState_, get};
    connect(get, &QPushButton::clicked, this, &CPravikDlg::OnGetLightSensor);
    return group;
}

QGroupBox* CPravikDlg::BuildTemperatureGroup() {
    auto* group = new QGroupBox("Temperature Control");
    auto* grid = new QGridLayout(group);
    auto* current = Named(new QLabel("Current:", group), "tempCurrentLabel");
    temperature_ = Named(new QLineEdit(group), "tempEdit");
    temperature_->setReadOnly(true);
    auto* get = Named(new QPushButton("Get Temp", group), "getTempButton");
    autoRefresh_ = Named(new QCheckBox("Auto Refresh", group), "autoRefreshCheck");
    auto* desired = Named(new QLabel("Desired:", group), "tempDesiredLabel");
    desiredTemperature_ = Named(new CNumberEdit(group), "desiredTempEdit");
    desiredTemperature_->setText("25.0");
    temperatureSpin_ = Named(new CSpinButtonCtrl(group), "desiredTempSpin");
    auto* set = Named(new QPushButton("Set Temp", group), "setTempButton");
    auto* desiredRow = new QHBoxLayout;
    desiredRow->setSpacing(0);
    desiredRow->addWidget(desiredTemperature_);
    desiredRow->addWidget(temperatureSpin_);
    grid->addWidget(current, 0, 0);
    grid->addWidget(temperature_, 0, 1);
    grid->addWidget(get, 0, 2);
    grid->addWidget(autoRefresh_, 0, 3);
    grid->addWidget(desired, 1, 0);
    grid->addLayout(desiredRow, 1, 1);
    grid->addWidget(set, 1, 2);
    // The spin is not one of the group: it stays usable in every state, and steps the edit's
    // text even while the edit is greyed.
    temperatureControls_ = {current, temperature_,        get, autoRefresh_,
                            desired, desiredTemperature_, set};
    connect(get, &QPushButton::clicked, this, &CPravikDlg::OnGetTemp);
    connect(set, &QPushButton::clicked, this, &CPravikDlg::OnSetTemp);
    connect(autoRefresh_, &QCheckBox::toggled, this, &CPravikDlg::OnAutoRefresh);
    connect(desiredTemperature_, &QLineEdit::editingFinished, this,
            &CPravikDlg::NormaliseDesiredTemperature);
    // A step shows the position the spin had before it, in tenths of a degree.
    connect(temperatureSpin_, &CSpinButtonCtrl::Stepped, this, [this](int before, int) {
        desiredTemperature_->setText(QString::asprintf("%.1f", before / 10.0));
    });
    return group;
}

bool CPravikDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->isEnabled()) {
        if (watched == multiPicture_) {
            ChooseMultiFilter();
            return true;
        }
        if (watched == singlePicture_) {
            ChooseSingleFilter();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CPravikDlg::PostSerialEcho(std::unique_ptr<SerialEcho> echo) {
    // Tapped here, on the port's thread, rather than once logged: the record's time is when the
    // bytes came, not when the window got round to them (a command holds the window's thread
    // while its reply comes in), and what the trace keeps does not wait for the log.
    trace_.Tap(*echo);
    const std::lock_guard posting(console::HandOffLock());
    QCoreApplication::postEvent(this, new SerialEchoEvent(std::move(echo)));
}

void CPravikDlg::PostPortGone(int portNumber) {
    console::PostToThreadOf(this, [this, portNumber] { OnPortGone(portNumber); });
}

void CPravikDlg::OnPortGone(int port) {
    if (!connected_ || lost_ || !connectedPorts_.contains(port)) {
        return;
    }
    lost_ = true;
    trace_.End("device lost", port);
    AppendLog("\n" + connectedPorts_[port] +
                  " is gone: its adapter was unplugged or the device was switched off. Every "
                  "command to it fails until it is back and connected again.\n",
              kLogError);
    UpdateControls();
}

void CPravikDlg::ReconnectIfBack() {
    if (!lost_ || !reconnect_->isChecked()) {
        return;
    }
    for (const auto& [port, described] : connectedPorts_) {
        const std::optional<platform::PortEntry> entry = platform::FindPortEntry(port);
        if (!entry || !entry->Present()) {
            return;
        }
    }
    AppendLog("\nThe instrument's ports are back.\n", kLogPlain);
    OnConnect();
}

void CPravikDlg::customEvent(QEvent* event) {
    // Port threads post these: nothing of the event is read before the hand-off is seen.
    console::HandOffReceived();
    if (event->type() != SerialEchoEvent::Kind()) {
        QDialog::customEvent(event);
        return;
    }
    echoes_.push_back(std::move(static_cast<SerialEchoEvent*>(event)->Echo));
    // Behind records already waiting for the next slice, this one waits too, so that the log
    // keeps the order of the traffic.
    if (!echoesResumePosted_) {
        TakeEchoes();
    }
}

void CPravikDlg::TakeEchoes() {
    // A slice long over means the event loop has been round since: a new one starts. Within a
    // slice, records are logged as they come, so that a quiet port's lines are in the log before
    // whatever the window does next.
    if (!echoSlice_.isValid() || echoSlice_.elapsed() >= 2 * kEchoSliceMs) {
        echoSlice_.start();
    }
    while (!echoes_.empty()) {
        if (echoSlice_.elapsed() >= kEchoSliceMs) {
            // A device that floods the port must not freeze the window: the rest waits until
            // the events queued meanwhile (a click, a repaint) have been handled.
            echoesResumePosted_ = true;
            QMetaObject::invokeMethod(
                this,
                [this] {
                    echoesResumePosted_ = false;
                    echoSlice_.start();
                    TakeEchoes();
                },
                Qt::QueuedConnection);
            return;
        }
        // Destroyed once logged: that gives its share of the backlog back to its port.
        const std::unique_ptr<SerialEcho> echo = std::move(echoes_.front());
        echoes_.pop_front();
        LogEcho(*echo);
    }
    StartQuietTimer();
}

void CPravikDlg::LogEcho(const SerialEcho& echo) {
    const CInstrumentBase* instrument = current_;
    LogTraffic(traffic_.Take(echo, instrument != nullptr,
                             instrument ? instrument->Config.InstrumentPort.PortNumber : 0,
                             instrument ? instrument->Config.TempControllerPort.PortNumber : 0));
}

void CPravikDlg::LogTraffic(const std::vector<TrafficText>& pieces) {
    for (const TrafficText& piece : pieces) {
        AppendLog(QString::fromLatin1(piece.Text), piece.Code);
    }
}

void CPravikDlg::LogWaitingTraffic() {
    // What the ports have posted and this window has not taken yet, every record of it: the
    // slices that keep a flood from freezing the window do not apply to one last look.
    QCoreApplication::sendPostedEvents(this, SerialEchoEvent::Kind());
    while (!echoes_.empty()) {
        const std::unique_ptr<SerialEcho> echo = std::move(echoes_.front());
        echoes_.pop_front();
        LogEcho(*echo);
    }
    LogTraffic(traffic_.FlushAll());
    quietTimer_->stop();
}

void CPravikDlg::StartQuietTimer() {
    const std::optional<std::chrono::steady_clock::time_point> due =
        traffic_.QuietDeadline(std::chrono::milliseconds(PartialLineQuietMs));
    if (!due) {
        quietTimer_->stop();
        return;
    }
    const auto wait =
        std::chrono::ceil<std::chrono::milliseconds>(*due - std::chrono::steady_clock::now());
    quietTimer_->start(static_cast<int>(std::max<int64_t>(wait.count(), 0)));
}

void CPravikDlg::OnQuietPorts() {
    // Records already posted may carry more of a waiting line: they are taken first, and while
    // any wait for their slice, the port has not been quiet.
    QCoreApplication::sendPostedEvents(this, SerialEchoEvent::Kind());
    if (!echoes_.empty()) {
        return;  // the slice that takes them starts the timer again
    }
    LogTraffic(traffic_.FlushQuiet(std::chrono::steady_clock::now(),
                                   std::chrono::milliseconds(PartialLineQuietMs)));
    StartQuietTimer();
}

void CPravikDlg::SetLineTimes(LineTimes times) {
    traffic_.SetTimes(times);
    lineTimes_[static_cast<std::size_t>(times)]->setChecked(true);
}

void CPravikDlg::AppendLog(const QString& text, int code) {
    terminal_->AppendLog(text, code);
}

void CPravikDlg::ChooseMultiFilter() {
    multiRadio_->setChecked(true);
    ChooseKind(vocabulary::kFilterModeMulti);
}

void CPravikDlg::ChooseSingleFilter() {
    singleRadio_->setChecked(true);
    ChooseKind(vocabulary::kFilterModeSingle);
}

void CPravikDlg::ChooseKind(int kind) {
    config_.InstrumentKind = kind;
    RescanPorts();
    UpdateControls();
}

void CPravikDlg::RescanPorts() {
    CWaitCursor wait;
    RefreshPorts();
    instrumentPorts_->setCurrentIndex(0);
    controllerPorts_->setCurrentIndex(0);
}

void CPravikDlg::RefreshPorts() {
    const std::vector<PortListing> ports = SurveyPorts(1, kHighestPort);
    if (const std::string warning = platform::TakePortMapWarning(); !warning.empty()) {
        AppendLog(QString::fromStdString(warning + "\n"), kLogError);
    }
    for (QComboBox* list : {instrumentPorts_, controllerPorts_}) {
        if (list->count() == 0) {
            list->addItem(kSelectOne);
        }
        console::FillPortList(list, ports, "COM", 1);
    }
    // The ports of a connection that was lost are chosen again as they come back: an unplugged
    // adapter drops out of its list, and Connect (or reconnecting by itself) must find it chosen.
    if (lost_) {
        for (const auto& [group, list, settings] : PortParts()) {
            if (const int index = console::IndexOfPort(list, settings->PortNumber);
                index >= 0 && console::ChosenPort(list) < 0) {
                list->setCurrentIndex(index);
            }
        }
    }
}

std::array<CPravikDlg::PortPart, 2> CPravikDlg::PortParts() {
    return {{{"InstrumentPort", instrumentPorts_, &config_.InstrumentPort},
             {"ControllerPort", controllerPorts_, &config_.TempControllerPort}}};
}

void CPravikDlg::RestoreBench() {
    const std::unique_ptr<QSettings> store = console::OpenRemembered();
    if (!store) {
        return;
    }
    store->beginGroup(kBenchGroup);
    if (const auto times = console::RememberedInt(*store, "LineTimes", 0, 2)) {
        SetLineTimes(static_cast<LineTimes>(*times));
    }
    const int kind = console::RememberedInt(*store, "InstrumentKind", vocabulary::kFilterModeSingle,
                                            vocabulary::kFilterModeMulti)
                         .value_or(0);
    if (kind == vocabulary::kFilterModeMulti) {
        ChooseMultiFilter();
    } else if (kind == vocabulary::kFilterModeSingle) {
        ChooseSingleFilter();
    }
    // The lists are filled once a type is chosen; a port stored without one is kept all the same.
    for (const auto& [group, list, settings] : PortParts()) {
        *settings = console::RememberedLineSettings(*store, group, *settings);
        if (const int port = console::RestorePortChoice(*store, group + "/Port", list); port > 0) {
            settings->PortNumber = port;
        }
    }
    if (const auto filters = console::RememberedInt(*store, "NumberOfFilters", 1, 8)) {
        filters_->setText(QString::number(*filters));
        NormaliseNumberOfFilters();
    }
    for (const auto& [key, check] :
         {std::pair{"LegacySupport", legacy_}, std::pair{"ReconnectByItself", reconnect_}}) {
        if (const QString on = store->value(key).toString(); on == "true" || on == "false") {
            check->setChecked(on == "true");
        }
    }
    restoreGeometry(store->value("Geometry").toByteArray());
}

void CPravikDlg::RememberBench() {
    const std::unique_ptr<QSettings> store = console::OpenRemembered();
    if (!store) {
        return;
    }
    store->beginGroup(kBenchGroup);
    store->setValue("InstrumentKind", config_.InstrumentKind);
    for (const auto& [group, list, settings] : PortParts()) {
        console::RememberLineSettings(*store, group, *settings);
        console::RememberPortChoice(*store, group + "/Port", list);
    }
    store->setValue("NumberOfFilters", filtersSpin_->GetPos());
    store->setValue("LegacySupport", legacy_->isChecked());
    store->setValue("ReconnectByItself", reconnect_->isChecked());
    store->setValue("Geometry", saveGeometry());
}

void CPravikDlg::done(int result) {
    RememberBench();
    QDialog::done(result);
}

void CPravikDlg::OnPortChosen(QComboBox* list, CommSettings& settings) {
    settings.PortNumber = console::ChosenPort(list);
    // A port that cannot be used now stays listed so that the person learns why.
    if (const QString problem = console::ChosenPortProblem(list); !problem.isEmpty()) {
        AppendLog(problem + "\n", kLogError);
    }
    UpdateControls();
}

void CPravikDlg::Advanced(bool instrumentPort) {
    CommSettings& settings = instrumentPort ? config_.InstrumentPort : config_.TempControllerPort;
    // The dialog tries settings on a scratch device of its own: a motor for the instrument port,
    // an Omega controller for the controller port, whichever instrument is chosen.
    std::unique_ptr<CSerialPort> device;
    if (instrumentPort) {
        device = std::make_unique<CSmartMotor>();
    } else {
        device = std::make_unique<COmegaTempController>();
    }
    CAdvComDlg dialog(this);
    dialog.Settings = settings;
    dialog.TestDevice = device.get();
    if (dialog.exec() == QDialog::Accepted) {
        settings = dialog.Settings;
        // By number: "COM3" is the beginning of "COM33" too.
        QComboBox* list = instrumentPort ? instrumentPorts_ : controllerPorts_;
        if (const int index = console::IndexOfPort(list, settings.PortNumber); index >= 0) {
            list->setCurrentIndex(index);
        }
    }
    UpdateControls();
}

void CPravikDlg::OnInstrumentAdvanced() {
    Advanced(true);
}

void CPravikDlg::OnControllerAdvanced() {
    Advanced(false);
}

void CPravikDlg::OnInstrumentTest() {
    CWaitCursor wait;
    if (instrumentPorts_->currentIndex() == 0) {
        console::Tell(this, "Please select a COM port.");
        return;
    }
    bool ok = false;
    std::string why;
    if (config_.InstrumentKind == vocabulary::kFilterModeSingle) {
        CShutterBoxDevice device;
        device.Settings = config_.InstrumentPort;
        if (device.OpenPort()) {
            int32_t state = 0;
            ok = device.GetShutterState(state);
            device.ClosePort();
        }
        why = device.LastFailure().Text;
    } else if (config_.InstrumentKind == vocabulary::kFilterModeMulti) {
        CSmartMotor motor;
        motor.Settings = config_.InstrumentPort;
        ok = motor.Probe();
        why = motor.LastFailure().Text;
    } else {
        return;
    }
    console::Tell(this,
                  ok ? "Success! Instrument COM settings are correct."
                     : "Error! Connection to instrument failed.",
                  ok ? QString() : QString::fromStdString(why));
}

void CPravikDlg::OnControllerTest() {
    CWaitCursor wait;
    if (controllerPorts_->currentIndex() == 0) {
        console::Tell(this, "Please select a COM port.");
        return;
    }
    COmegaTempController controller;
    controller.Settings = config_.TempControllerPort;
    const bool ok = controller.OpenPort();
    controller.ClosePort();
    console::Tell(this,
                  ok ? "Success! Temperature controller COM settings are correct."
                     : "Error! Connection to temperature controller failed.",
                  ok ? QString() : QString::fromStdString(controller.LastFailure().Text));
}

void CPravikDlg::NormaliseNumberOfFilters() {
    bool ok = false;
    long long value = filters_->text().toLongLong(&ok);
    if (!ok) {
        value = 0;
    }
    const int count = static_cast<int>(std::clamp<long long>(value, 1, 8));
    filters_->setText(QString::number(count));
    filtersSpin_->SetPos(count);
    desiredFilter_->clear();
    for (int i = 1; i <= count; ++i) {
        desiredFilter_->addItem(QString::number(i));
    }
    desiredFilter_->setCurrentIndex(0);
}

void CPravikDlg::OnConnect() {
    CWaitCursor wait;
    if (instrumentPorts_->currentIndex() == 0) {
        console::Tell(this, "Please select an instrument COM port.");
        AppendLog("No Instrument COM Port Selected.\n", kLogError);
        return;
    }
    if (config_.InstrumentKind == vocabulary::kFilterModeMulti &&
        controllerPorts_->currentIndex() == 0) {
        console::Tell(this, "Please select a temperature controller COM port.");
        AppendLog("No Temperature Controller COM Port Selected.\n", kLogError);
        return;
    }
    if (lost_) {
        // What is left of the lost connection goes quietly: its ports are half gone.
        current_->Disconnect();
        connected_ = 0;
        lost_ = false;
    }
    LogWaitingTraffic();
    AppendLog("\nConnecting to instrument ...\n", kLogPlain);
    if (config_.InstrumentKind == vocabulary::kFilterModeMulti) {
        config_.MotorGeneration = 2;
        current_ = &wheel_;
    } else if (config_.InstrumentKind == vocabulary::kFilterModeSingle) {
        config_.ShutterControllerGeneration = vocabulary::kShutterController30;
        current_ = &box_;
    } else {
        console::Tell(this, "Error! No instrument type selected!");
        AppendLog("No instrument type selected!", kLogError);
        return;
    }
    const bool legacy = legacy_->isChecked();
    config_.MotorModel = legacy ? 3 : 2;
    config_.StandardFlag = legacy ? 0 : 1;
    config_.ShutterType = 1;
    config_.TempController = vocabulary::kTempControllerOmega;
    current_->Config = config_;
    // The demo and the benchmarks keep no trace, as they remember nothing.
    if (console::OpenRemembered()) {
        trace_.Begin(CSessionTrace::SessionsFolder(),
                     config_.InstrumentKind == vocabulary::kFilterModeMulti ? "multi" : "single",
                     TracedPorts());
    }
    connected_ = current_->Connect() ? 1 : 0;
    // Another controller, or one another program has set since: its set point is not known.
    setpoint_ = std::numeric_limits<double>::quiet_NaN();
    connectedPorts_.clear();
    if (connected_) {
        connectedPorts_[config_.InstrumentPort.PortNumber] =
            PortDescription(config_.InstrumentPort.PortNumber);
        if (config_.InstrumentKind == vocabulary::kFilterModeMulti) {
            connectedPorts_[config_.TempControllerPort.PortNumber] =
                PortDescription(config_.TempControllerPort.PortNumber);
        }
        AppendLog("Success.\n", kLogSuccess);
        // Connected, but on the settings the port had: the device's answers may be garbled.
        if (const platform::Failure note = current_->LastFailure();
            note.Kind == platform::FailureKind::LineSettingRefused) {
            LogFailureReason(note, "\n");
            trace_.SettingsRefused(TracedPorts(), note.Text);
        }
        InstrumentInfo info;
        if (current_->GetDeviceInfo(info)) {
            config_ = current_->Config;
            config_.FirmwareVersion = info.FirmwareVersion;
            config_.FilterSize = info.FilterSize;
            config_.ShutterType = info.ShutterType;
            config_.MotorGeneration = info.MotorGeneration;
            config_.ShutterControllerGeneration = info.ShutterControllerGeneration;
            config_.StandardFlag = info.StandardFlag;
            identity_->setText(QString::fromStdWString(IdentityText(info)));
        }
        // A bench that connected is worth keeping at once: a crash later loses none of it.
        RememberBench();
    } else {
        const platform::Failure failure = current_->LastFailure();
        current_->Disconnect();
        trace_.End("connect failed");
        AppendLog("Error connecting to instrument.\n", kLogError);
        LogFailureReason(failure, "\n");
    }
    UpdateControls();
}

void CPravikDlg::OnDisconnect() {
    CWaitCursor wait;
    LogWaitingTraffic();
    AppendLog("\nDisconnecting from instrument ...\n", kLogPlain);
    if (current_ != nullptr) {
        const bool closed = current_->Disconnect();
        // Whatever the ports read before they closed.
        LogWaitingTraffic();
        if (closed) {
            connected_ = 0;
            lost_ = false;
            trace_.End("asked");
            AppendLog("Success!\n", kLogSuccess);
        } else {
            connected_ = 1;
            AppendLog("Error disconnecting from instrument.\n", kLogError);
            LogFailureReason(current_->LastFailure(), "\n");
        }
    }
    UpdateControls();
}

bool CPravikDlg::RunTest(const QString& header, const QString& errorLine,
                         const std::function<bool()>& op) {
    CWaitCursor wait;
    AppendLog(header, kLogPlain);
    const bool ok = op();
    if (ok) {
        AppendLog("Success!\n", kLogSuccess);
    } else {
        AppendLog(errorLine, kLogError);
        LogFailureReason(current_->LastFailure(), errorLine);
    }
    return ok;
}

void CPravikDlg::LogFailureReason(const platform::Failure& failure, const QString& errorLine) {
    if (!failure) {
        return;
    }
    // On a line of its own under the error line, which does not always end its line: then the
    // reason starts one and leaves it open in the same way.
    const QString text = QString::fromStdString(failure.Text);
    AppendLog(errorLine.endsWith('\n') ? text + '\n' : '\n' + text, kLogError);
}

void CPravikDlg::OnGetShutter() {
    if (current_ == nullptr) {
        return;
    }
    int32_t state = -1;
    if (RunTest("\nGetting shutter state ...\n", "Error getting shutter state.\n",
                [&] { return current_->GetShutterState(state); })) {
        if (state == 0) {
            shutterState_->setText("CLOSED");
        }
        if (state == 1) {
            shutterState_->setText("OPEN");
        }
    } else {
        shutterState_->setText("ERROR");
    }
    UpdateControls();
}

void CPravikDlg::OnOpenShutter() {
    if (current_ == nullptr) {
        return;
    }
    RunTest("\nOpening shutter ...\n", "Error opening the shutter.\n",
            [&] { return current_->SetShutterState(1); });
    UpdateControls();
}

void CPravikDlg::OnCloseShutter() {
    if (current_ == nullptr) {
        return;
    }
    RunTest("\nClosing shutter ...\n", "Error closing the shutter.\n",
            [&] { return current_->SetShutterState(0); });
    UpdateControls();
}

void CPravikDlg::OnGetFilter() {
    if (current_ == nullptr) {
        return;
    }
    int32_t position = 0;
    if (RunTest("\nGetting current filter ...\n", "Error getting the current filter!\n",
                [&] { return current_->GetFilter(position); })) {
        filterPosition_->setText(QString::number(position));
    } else {
        filterPosition_->setText("ERROR");
    }
    UpdateControls();
}

void CPravikDlg::OnChangeFilter() {
    if (current_ == nullptr) {
        return;
    }
    const int position = desiredFilter_->currentIndex() + 1;
    RunTest("\nChanging filters ...\n",
            QString::asprintf("Error changing to filter #%d.\n", position),
            [&] { return current_->ChangeFilter(position); });
    UpdateControls();
}

void CPravikDlg::OnReset() {
    if (current_ == nullptr) {
        return;
    }
    CWaitCursor wait;
    if (current_->ResetFilter(false, true, &resetDone_, &resetFailed_)) {
        AppendLog("Reset initiated. Please wait for complete.\n", kLogPlain);
        ReapWatchers();
        auto done = std::make_shared<std::atomic<bool>>(false);
        runningWatchers_.fetch_add(1);
        try {
            watchers_.push_back({std::thread(&CPravikDlg::WatchReset, this, done, current_), done});
        } catch (const std::system_error&) {
            // No thread to be had: the reset runs on, its end just goes unreported.
            runningWatchers_.fetch_sub(1);
        }
    } else {
        AppendLog("Reset failed.\n", kLogError);
        LogFailureReason(current_->LastFailure(), "\n");
    }
    UpdateControls();
}

void CPravikDlg::WatchReset(const std::shared_ptr<std::atomic<bool>>& done,
                            CInstrumentBase* instrument) {
    // Sends, not posts: the line is in the log before the watcher goes on, as the reset's own
    // lines are. A window that is closing takes no more lines.
    const auto send = [this](const QString& text, int code) {
        if (!closing_.IsSet()) {
            console::CallOnThreadOf(this, [&] { AppendLog(text, code); });
        }
    };
    const int which =
        platform::WaitForAny({&resetFailed_, &resetDone_, &closing_}, platform::kInfinite);
    if (which == 0) {
        resetFailed_.Reset();
        send("Error resetting.\n", kLogError);
        if (const platform::Failure failure = instrument->LastFailure()) {
            send(QString::fromStdString(failure.Text + "\n"), kLogError);
        }
        resetDone_.Reset();
        send("Reset complete.\n", kLogSuccess);
    } else if (which == 1) {
        resetDone_.Reset();
        send("Reset complete.\n", kLogSuccess);
    }
    done->store(true);
    runningWatchers_.fetch_sub(1);
    // Joins this watcher on the window's thread, and wakes a closing window that waits for the
    // watchers in its event loop. A window already gone drops the call with its other events.
    console::PostToThreadOf(this, [this] { ReapWatchers(); });
}

void CPravikDlg::OnGetLightSensor() {
    if (current_ == nullptr) {
        return;
    }
    int32_t state = -1;
    if (RunTest("\nGetting light sensor state ...\n", "Error getting light sensor state.\n",
                [&] { return current_->GetLightSensorState(state); })) {
        if (state == 0) {
            lightState_->setText("LIGHT");
        }
        if (state == 1) {
            lightState_->setText("DARK");
        }
    } else {
        lightState_->setText("ERROR");
    }
    UpdateControls();
}

void CPravikDlg::OnGetTemp() {
    if (current_ == nullptr) {
        return;
    }
    double value = 0;
    if (RunTest("\nGetting current temperature ...\n", "Error getting temperature.",
                [&] { return current_->ReadTemperature(value); })) {
        temperature_->setText(QString::asprintf("%.1f", value));
        trend_->AddReading(value, setpoint_);
    } else {
        temperature_->setText("ERROR");
    }
    UpdateControls();
}

void CPravikDlg::OnSetTemp() {
    if (current_ == nullptr) {
        return;
    }
    QString text = desiredTemperature_->text();
    text.replace(desiredTemperature_->DecimalSeparator(), '.');
    const double value = text.toDouble();
    if (RunTest("\nSetting temperature setpoint ...\n", "Error setting temperature setpoint.\n",
                [&] { return current_->SetTemperatureSetpoint(value); })) {
        setpoint_ = value;
    }
    UpdateControls();
}

void CPravikDlg::OnAutoRefresh(bool checked) {
    if (checked) {
        refreshTimer_->start();
    } else {
        refreshTimer_->stop();
    }
}

void CPravikDlg::NormaliseDesiredTemperature() {
    QString text = desiredTemperature_->text();
    text.replace(desiredTemperature_->DecimalSeparator(), '.');
    double value = text.toDouble();
    if (!std::isfinite(value)) {
        value = 0.0;
    }
    value = std::max(std::min(value, 40.0), 0.0);
    desiredTemperature_->setText(QString::asprintf("%.1f", value));
    temperatureSpin_->SetPos(static_cast<int>(std::lround(value * 10)));
}

void CPravikDlg::OnAbout() {
    CAboutDlg about;
    about.exec();
}

// The tools open their own ports and share nothing with the console: no parent, no arguments.
void CPravikDlg::OnFirmwareUpdater() {
    CSmartMotorUtilitiesDlg dialog;
    dialog.exec();
}

void CPravikDlg::OnSaveOmegaSettings() {
    COmegaSettingsSaveDlg dialog;
    dialog.exec();
}

void CPravikDlg::OnResetOmegaSettings() {
    COmegaSettingsResetDlg dialog;
    dialog.exec();
}

void CPravikDlg::OnSaveLog() {
    QFileDialog chooser(this, "Save Log As");
    chooser.setAcceptMode(QFileDialog::AcceptSave);
    chooser.setFileMode(QFileDialog::AnyFile);
    const QString text = "Plain text (*.txt)";
    const QString html = "HTML, in the log's colours (*.html)";
    chooser.setNameFilters({text, html});
    // A name typed without an extension gets the chosen kind's; the overwrite question stays on.
    chooser.setDefaultSuffix("txt");
    connect(&chooser, &QFileDialog::filterSelected, &chooser, [&](const QString& filter) {
        const QString suffix = filter == html ? "html" : "txt";
        chooser.setDefaultSuffix(suffix);
        // The offered name follows the kind chosen.
        const QFileInfo named(chooser.selectedFiles().value(0));
        if (named.suffix() == "txt" || named.suffix() == "html") {
            chooser.selectFile(named.completeBaseName() + "." + suffix);
        }
    });
    chooser.setDirectory(QDir::home());
    chooser.selectFile(QDateTime::currentDateTime().toString("'pravik-log-'yyyy-MM-dd-HHmm'.txt'"));
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) {
        return;
    }
    const QString path = chooser.selectedFiles().front();
    const bool asHtml =
        path.endsWith(".html", Qt::CaseInsensitive) || path.endsWith(".htm", Qt::CaseInsensitive);
    const QString failed = terminal_->SaveTo(
        path, asHtml ? CTerminalLogCtrl::FileFormat::Html : CTerminalLogCtrl::FileFormat::Text);
    if (!failed.isEmpty()) {
        console::Tell(this, "The log could not be saved to " + QDir::toNativeSeparators(path) +
                                ": " + failed + ".");
    }
}

// Unlike the Omega tools, this one sits over the console; it still opens its own port.
void CPravikDlg::OnAdjustLightSensorThreshold() {
    CShutterControllerLightSensorThresholdDlg dialog(this);
    dialog.exec();
}

void CPravikDlg::OnOpenSessionsFolder() {
    const std::string folder = CSessionTrace::SessionsFolder();
    std::string why = "there is no home folder to keep them in";
    if (folder.empty() || !CSessionTrace::MakeFolder(folder, why)) {
        AppendLog(QString::fromStdString("Cannot open the sessions folder: " + why + "\n"),
                  kLogError);
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(folder)));
}

std::vector<TracedPort> CPravikDlg::TracedPorts() const {
    if (config_.InstrumentKind == vocabulary::kFilterModeMulti) {
        return {{"motor", config_.InstrumentPort}, {"controller", config_.TempControllerPort}};
    }
    return {{"shutter", config_.InstrumentPort}};
}

bool CPravikDlg::CurrentHasLightSensor() {
    if (current_ == nullptr) {
        return false;
    }
    const InstrumentConfig& c = current_->Config;
    if (c.InstrumentKind == vocabulary::kFilterModeMulti) {
        return c.MotorGeneration != 0 && c.MotorGeneration != 3;
    }
    return c.InstrumentKind == vocabulary::kFilterModeSingle && c.ShutterControllerGeneration != 0;
}

void CPravikDlg::UpdateControls() {
    const int kind = config_.InstrumentKind;
    const bool connected = connected_ != 0;
    for (QWidget* w : std::initializer_list<QWidget*>{multiPicture_, singlePicture_, multiRadio_,
                                                      singleRadio_}) {
        w->setEnabled(!connected);
    }
    for (QWidget* w : std::initializer_list<QWidget*>{instrumentPorts_, instrumentAdvanced_,
                                                      instrumentTest_, legacy_}) {
        w->setEnabled(kind != 0 && !connected);
    }
    // One click starts over on a lost connection.
    connect_->setEnabled(kind != 0 && (!connected || lost_));
    for (QWidget* w :
         std::initializer_list<QWidget*>{controllerPorts_, controllerAdvanced_, controllerTest_,
                                         filtersLabel_, filters_, filtersSpin_}) {
        w->setEnabled(kind == vocabulary::kFilterModeMulti && !connected);
    }
    disconnect_->setEnabled(kind != 0 && connected);
    for (QWidget* w : std::initializer_list<QWidget*>{statusGroup_, status_, terminal_}) {
        w->setEnabled(kind != 0);
    }
    for (QWidget* w : shutterControls_) {
        w->setEnabled(connected);
    }
    for (QWidget* w : filterControls_) {
        w->setEnabled(connected && kind == vocabulary::kFilterModeMulti);
    }
    for (QWidget* w : temperatureControls_) {
        w->setEnabled(connected && kind == vocabulary::kFilterModeMulti);
    }
    const bool light = connected && CurrentHasLightSensor();
    for (QWidget* w : lightControls_) {
        w->setEnabled(light);
    }
    const int state = lost_ ? 2 : connected_;
    if (state != shownState_) {
        status_->setText(lost_ ? "Device lost" : (connected ? "Connected" : "Disconnected"));
        status_->setStyleSheet(lost_ ? "color: #c00000;" : "");
        if (!connected) {
            identity_->clear();
        }
        shownState_ = state;
    }
}
