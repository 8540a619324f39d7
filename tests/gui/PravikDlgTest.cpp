// The console window driven through its widgets, offscreen, against simulated benches.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStringList>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <functional>

#include "console/AdvComDlg.h"
#include "console/MessageBox.h"
#include "console/PravikDlg.h"
#include "gui/AnswerModal.h"
#include "sim/OmegaControllerSim.h"
#include "sim/ShutterControllerSim.h"
#include "sim/SmartMotorSim.h"
#include "support/TestPortDirectory.h"

namespace {

using testing_support::kFirstTestPort;

constexpr int kMotorPort = kFirstTestPort;
constexpr int kControllerPort = kFirstTestPort + 1;
constexpr int kShutterPort = kFirstTestPort + 2;

class ConsoleTest : public testing_support::PortDirectoryTest {
protected:
    void SetUp() override {
        PortDirectoryTest::SetUp();
        console::SetMessageBoxHandler([this](const console::MessageRequest& request) {
            messages.push_back(request.text);
            return QMessageBox::Ok;
        });
    }
    void TearDown() override {
        window.reset();
        motor.reset();
        omega.reset();
        shutter.reset();
        console::SetMessageBoxHandler({});
        PortDirectoryTest::TearDown();
    }
    void StartBench() {
        motor = std::make_unique<sim::CSmartMotorSim>(kMotorPort, PortDir());
        omega = std::make_unique<sim::COmegaControllerSim>(kControllerPort, PortDir());
        shutter = std::make_unique<sim::CShutterControllerSim>(
            kShutterPort, PortDir(), sim::CShutterControllerSim::Generation::V30);
        ASSERT_TRUE(motor->Start());
        ASSERT_TRUE(omega->Start());
        ASSERT_TRUE(shutter->Start());
        motor->SetMoveTime(std::chrono::milliseconds(1));
        motor->SetHomeTime(std::chrono::milliseconds(1));
    }
    void Open() {
        window = std::make_unique<CPravikDlg>();
        window->show();
        // Short waits for the drivers the window owns: the simulated devices answer at once.
        for (CSmartMotor* m : {&window->FilterWheel().Motor,
                               static_cast<CSmartMotor*>(&window->FilterWheel().LegacyMotor)}) {
            m->Timeout.Echo = 200;
            m->Timeout.Reply = 300;
            m->Timeout.Reset = 2000;
        }
        window->FilterWheel().Omega.ReadBackDelayMs = 1;
        window->FilterWheel().Omega.EchoFixDelayMs = 1;
        window->ShutterBox().Driver30.SettleDelayMs = 0;
    }
    template <typename T>
    T* Find(const char* name) {
        T* widget = window->findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    void Click(const char* name) { QTest::mouseClick(Find<QAbstractButton>(name), Qt::LeftButton); }
    QString Log() { return Find<QTextEdit>("terminal")->toPlainText(); }
    void ChoosePort(const char* list, int port) {
        QComboBox* combo = Find<QComboBox>(list);
        const int index = combo->findText(QString("COM%1").arg(port));
        ASSERT_GE(index, 0) << list << " has no COM" << port;
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }
    // The usual start: the bench running, the window open, a multi-filter instrument connected.
    void ConnectMultiFilterBench() {
        StartBench();
        Open();
        Click("multiFilterRadio");
        ChoosePort("instrumentPortList", kMotorPort);
        ChoosePort("controllerPortList", kControllerPort);
        Click("connectButton");
    }
    bool Enabled(const char* name) { return Find<QWidget>(name)->isEnabled(); }
    // Lets the window take the echo records queued by the ports' threads.
    void Settle() { QTest::qWait(0), QCoreApplication::processEvents(); }
    // Waits, handling events, until the log holds text.
    bool LogShows(const QString& text) {
        return QTest::qWaitFor([&] { return Log().contains(text); }, 5000);
    }

    // Clicks a button that runs the COM settings dialog and, once the dialog is up, hands it to
    // act. A dialog that act leaves open is rejected, so that a failure cannot hang the suite.
    void RunAdvanced(const char* button, const std::function<void(CAdvComDlg&)>& act) {
        bool shown = false;
        const auto answer = AnswerModal<CAdvComDlg>([&](CAdvComDlg& dialog) {
            shown = true;
            act(dialog);
        });
        Click(button);
        EXPECT_TRUE(shown) << button;
    }
    static QComboBox* List(CAdvComDlg& dialog, const char* name) {
        return dialog.findChild<QComboBox*>(name);
    }
    // Chooses an entry in each of the dialog's lists, in the order port, baud rate, data bits,
    // parity, stop bits, flow control.
    static void ChooseAll(CAdvComDlg& dialog, const QStringList& texts) {
        const char* names[] = {"portList",   "baudList",     "dataBitsList",
                               "parityList", "stopBitsList", "flowControlList"};
        for (int i = 0; i < texts.size(); ++i) {
            QComboBox* list = List(dialog, names[i]);
            ASSERT_NE(list, nullptr) << names[i];
            const int index = list->findText(texts[i]);
            ASSERT_GE(index, 0) << names[i] << " has no " << texts[i].toStdString();
            list->setCurrentIndex(index);
        }
    }
    static void Press(CAdvComDlg& dialog, const char* button) {
        dialog.findChild<QPushButton*>(button)->click();
    }

    std::vector<QString> messages;
    std::unique_ptr<sim::CSmartMotorSim> motor;
    std::unique_ptr<sim::COmegaControllerSim> omega;
    std::unique_ptr<sim::CShutterControllerSim> shutter;
    std::unique_ptr<CPravikDlg> window;
};

TEST_F(ConsoleTest, OnlyTheTypeChoiceIsOpenUntilATypeIsChosen) {
    Open();
    EXPECT_TRUE(Log().startsWith("Green Text - Indicates no error"));
    EXPECT_EQ(Find<QLabel>("statusText")->text(), "Disconnected");
    // The pictures come from the program's compiled-in resources.
    EXPECT_FALSE(Find<QLabel>("multiFilterPicture")->pixmap().isNull());
    EXPECT_FALSE(Find<QLabel>("singleFilterPicture")->pixmap().isNull());
    EXPECT_FALSE(window->windowIcon().isNull());
    for (const char* name : {"multiFilterRadio", "singleFilterRadio", "multiFilterPicture"}) {
        EXPECT_TRUE(Enabled(name)) << name;
    }
    for (const char* name : {"instrumentPortList", "connectButton", "disconnectButton",
                             "controllerPortList", "shutterGetButton", "terminal"}) {
        EXPECT_FALSE(Enabled(name)) << name;
    }
}

TEST_F(ConsoleTest, AnUnsafePortFolderIsReportedInTheLogAtStart) {
    ASSERT_EQ(::chmod(PortDir().c_str(), 0777), 0);
    Open();
    EXPECT_TRUE(Log().contains(QString::fromStdString("Ignoring the port folder " + PortDir())));
}

TEST_F(ConsoleTest, ChoosingATypeRescansThePortsAndOpensItsSettings) {
    StartBench();
    Open();
    Click("singleFilterRadio");
    EXPECT_TRUE(Enabled("instrumentPortList"));
    EXPECT_TRUE(Enabled("connectButton"));
    EXPECT_FALSE(Enabled("controllerPortList")) << "a single-filter instrument has no controller";
    EXPECT_FALSE(Enabled("numberOfFiltersEdit"));
    ChoosePort("instrumentPortList", kShutterPort);
    EXPECT_EQ(window->Configuration().InstrumentPort.PortNumber, kShutterPort);

    Click("multiFilterRadio");
    EXPECT_TRUE(Enabled("controllerPortList"));
    EXPECT_EQ(Find<QComboBox>("instrumentPortList")->currentIndex(), 0)
        << "a rescan starts both lists at \"-- Select One --\"";
    EXPECT_EQ(window->Configuration().InstrumentPort.PortNumber, kShutterPort)
        << "the stored port survives the rescan";
    Click("connectButton");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages.back(), "Please select an instrument COM port.");
    EXPECT_TRUE(Log().endsWith("No Instrument COM Port Selected.\n"));
    ChoosePort("instrumentPortList", kMotorPort);
    Click("connectButton");
    EXPECT_EQ(messages.back(), "Please select a temperature controller COM port.");
    EXPECT_FALSE(window->IsConnected());
}

TEST_F(ConsoleTest, AMultiFilterSessionRunsEveryTestButton) {
    ConnectMultiFilterBench();
    ASSERT_TRUE(window->IsConnected()) << Log().toStdString();
    EXPECT_TRUE(Log().contains("Connecting to instrument ...\nSuccess.\n"));
    EXPECT_EQ(Find<QLabel>("statusText")->text(), "Connected");
    EXPECT_FALSE(Enabled("connectButton"));
    EXPECT_TRUE(Enabled("disconnectButton"));
    EXPECT_TRUE(Enabled("changeFilterButton"));
    EXPECT_TRUE(Enabled("getTempButton"));
    EXPECT_TRUE(Enabled("lightGetButton"));

    Click("openShutterButton");
    Click("shutterGetButton");
    EXPECT_EQ(Find<QLineEdit>("shutterStateEdit")->text(), "OPEN");
    Find<QComboBox>("desiredFilterList")->setCurrentIndex(2);
    Click("changeFilterButton");
    Click("filterGetButton");
    EXPECT_EQ(Find<QLineEdit>("filterEdit")->text(), "3");
    EXPECT_EQ(motor->FilterPosition(), 3);
    Click("lightGetButton");
    EXPECT_EQ(Find<QLineEdit>("lightEdit")->text(), "DARK");
    Click("getTempButton");
    EXPECT_FALSE(Find<QLineEdit>("tempEdit")->text().isEmpty());
    EXPECT_NE(Find<QLineEdit>("tempEdit")->text(), "ERROR");
    Find<QLineEdit>("desiredTempEdit")->setText("31.5");
    Click("setTempButton");
    EXPECT_EQ(omega->Register(0x01), 0x20013Bu);  // 31.5 in tenths

    // The traffic is echoed: the motor's lines, sent and received.
    Settle();
    EXPECT_TRUE(LogShows(QString("COM%1 >> GOSUB4[0x0D]").arg(kMotorPort)));
    EXPECT_TRUE(LogShows(QString("COM%1 << FILT:3[0x0D]").arg(kMotorPort)));
    const QString log = Log();
    EXPECT_EQ(log.count("Success!"), 7) << log.toStdString();
    EXPECT_FALSE(log.contains("Error"));

    Click("disconnectButton");
    EXPECT_FALSE(window->IsConnected());
    EXPECT_TRUE(Log().contains("Disconnecting from instrument ...\nSuccess!\n"));
    EXPECT_EQ(Find<QLabel>("statusText")->text(), "Disconnected");
    EXPECT_FALSE(Enabled("shutterGetButton"));
}

TEST_F(ConsoleTest, FailuresAreLoggedInRedAndShowError) {
    ConnectMultiFilterBench();
    ASSERT_TRUE(window->IsConnected());
    motor->HangUp();
    omega->HangUp();
    Click("shutterGetButton");
    EXPECT_EQ(Find<QLineEdit>("shutterStateEdit")->text(), "ERROR");
    Find<QComboBox>("desiredFilterList")->setCurrentIndex(2);
    Click("changeFilterButton");
    Click("getTempButton");
    EXPECT_EQ(Find<QLineEdit>("tempEdit")->text(), "ERROR");
    const QString log = Log();
    EXPECT_TRUE(log.contains("Error getting shutter state.\n"));
    EXPECT_TRUE(log.contains("Error changing to filter #3.\n"));
    EXPECT_TRUE(log.endsWith("Error getting temperature."));

    // A reset of a motor that no longer answers reports both lines.
    Click("resetButton");
    EXPECT_TRUE(LogShows("Reset complete.\n"));
    // Echoed traffic may stand between them; the order is what counts.
    const QString after = Log().mid(Log().indexOf("Reset initiated. Please wait for complete.\n"));
    const int failed = after.indexOf("Error resetting.\n");
    EXPECT_GT(failed, 0);
    EXPECT_GT(after.indexOf("Reset complete.\n"), failed);
}

// Virtual memory of this process: a thread that has ended but was never joined keeps its whole
// stack reserved, which no thread count shows.
long VirtualMemoryKiB() {
    QFile status("/proc/self/status");
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmSize:"))
            return line.mid(7).trimmed().split(' ').first().toLong();
    }
    return -1;
}

TEST_F(ConsoleTest, ResetsOneAfterAnotherLeaveNoThreadStacksBehind) {
    ConnectMultiFilterBench();
    ASSERT_TRUE(window->IsConnected());
    // The first reset's threads set up what every later one reuses (allocator arenas).
    constexpr int kResets = 41;
    long before = 0;
    for (int i = 1; i <= kResets; ++i) {
        if (i == 2)
            before = VirtualMemoryKiB();
        Click("resetButton");
        ASSERT_TRUE(QTest::qWaitFor([&] { return Log().count("Reset complete.\n") == i; }, 5000));
    }
    Settle();
    // Forty unjoined watchers hold 320 MiB of stacks; joined ones hold none (an allocator arena
    // or two for threads that overlapped may still appear, and never grows with the clicks).
    EXPECT_LT(VirtualMemoryKiB() - before, 160 * 1024);
}

TEST_F(ConsoleTest, OpensAtItsNaturalSizeWithoutScrollBarsWhereTheScreenHasRoom) {
    Open();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    const auto* scroll = Find<QScrollArea>("scrollArea");
    ASSERT_GE(window->screen()->availableGeometry().height(), 1000) << "the suite's screen";
    EXPECT_FALSE(scroll->verticalScrollBar()->isVisible());
    EXPECT_FALSE(scroll->horizontalScrollBar()->isVisible());
    EXPECT_GE(window->height(), scroll->widget()->sizeHint().height());
}

TEST_F(ConsoleTest, ASingleFilterInstrumentConnectsWithoutAController) {
    StartBench();
    Open();
    Click("singleFilterRadio");
    ChoosePort("instrumentPortList", kShutterPort);
    Click("connectButton");
    ASSERT_TRUE(window->IsConnected()) << Log().toStdString();
    EXPECT_TRUE(Enabled("openShutterButton"));
    EXPECT_TRUE(Enabled("lightGetButton"));
    EXPECT_FALSE(Enabled("changeFilterButton"));
    EXPECT_FALSE(Enabled("getTempButton"));
    Click("openShutterButton");
    Click("shutterGetButton");
    EXPECT_EQ(Find<QLineEdit>("shutterStateEdit")->text(), "OPEN");
    Click("lightGetButton");
    EXPECT_EQ(Find<QLineEdit>("lightEdit")->text(), "DARK");
    EXPECT_EQ(window->Configuration().ShutterControllerGeneration, 3);
    Click("disconnectButton");
    EXPECT_FALSE(window->IsConnected());
}

TEST_F(ConsoleTest, AdvancedEditsEachPortsSettingsAndCancelKeepsThem) {
    StartBench();
    Open();
    Click("multiFilterRadio");
    const CommSettings controllerBefore = window->Configuration().TempControllerPort;
    RunAdvanced("instrumentAdvancedButton", [](CAdvComDlg& dialog) {
        ChooseAll(dialog, {QString("COM%1").arg(kMotorPort), "38400", "7", "Even", "2", "RTS/CTS"});
        Press(dialog, "okButton");
    });
    const CommSettings instrument{kMotorPort, 38400, 7, 2, 2, 2};
    EXPECT_EQ(window->Configuration().InstrumentPort, instrument);
    EXPECT_EQ(Find<QComboBox>("instrumentPortList")->currentText(),
              QString("COM%1").arg(kMotorPort));
    EXPECT_EQ(window->Configuration().TempControllerPort, controllerBefore);

    // The next run starts from what was accepted. A cancelled run keeps nothing, not even the
    // settings a test wrote into the dialog's record.
    RunAdvanced("instrumentAdvancedButton", [](CAdvComDlg& dialog) {
        EXPECT_EQ(List(dialog, "baudList")->currentText(), "38400");
        EXPECT_EQ(List(dialog, "parityList")->currentText(), "Even");
        ChooseAll(dialog, {QString("COM%1").arg(kMotorPort), "9600"});
        Press(dialog, "testButton");
        Press(dialog, "cancelButton");
    });
    EXPECT_EQ(window->Configuration().InstrumentPort, instrument);

    // The controller's dialog tries its settings on a temperature controller.
    RunAdvanced("controllerAdvancedButton", [](CAdvComDlg& dialog) {
        ChooseAll(dialog,
                  {QString("COM%1").arg(kControllerPort), "9600", "8", "Odd", "1.5", "None"});
        Press(dialog, "testButton");
        Press(dialog, "cancelButton");
    });
    EXPECT_EQ(window->Configuration().TempControllerPort, controllerBefore);
    EXPECT_EQ(messages, (std::vector<QString>(2, "Success! Settings are correct.")));
    RunAdvanced("controllerAdvancedButton", [](CAdvComDlg& dialog) {
        ChooseAll(dialog,
                  {QString("COM%1").arg(kControllerPort), "2400", "8", "Odd", "1.5", "None"});
        Press(dialog, "okButton");
    });
    EXPECT_EQ(window->Configuration().TempControllerPort,
              (CommSettings{kControllerPort, 2400, 8, 1, 1, 0}));
    EXPECT_EQ(Find<QComboBox>("controllerPortList")->currentText(),
              QString("COM%1").arg(kControllerPort));
    EXPECT_EQ(window->Configuration().InstrumentPort, instrument);
}

TEST_F(ConsoleTest, TestConnectionButtonsSayWhetherTheDeviceAnswered) {
    StartBench();
    Open();
    Click("multiFilterRadio");
    Click("instrumentTestButton");
    EXPECT_EQ(messages.back(), "Please select a COM port.");
    ChoosePort("instrumentPortList", kMotorPort);
    Click("instrumentTestButton");
    EXPECT_EQ(messages.back(), "Success! Instrument COM settings are correct.");
    ChoosePort("controllerPortList", kControllerPort);
    Click("controllerTestButton");
    EXPECT_EQ(messages.back(), "Success! Temperature controller COM settings are correct.");
    // The motor is no controller: the Omega's identification gets no answer from it.
    ChoosePort("controllerPortList", kMotorPort);
    Click("controllerTestButton");
    EXPECT_EQ(messages.back(), "Error! Connection to temperature controller failed.");
    ChoosePort("instrumentPortList", kControllerPort);
    Click("instrumentTestButton");
    EXPECT_EQ(messages.back(), "Error! Connection to instrument failed.");
    EXPECT_FALSE(window->IsConnected()) << "testing connects nothing";
}

TEST_F(ConsoleTest, AutoRefreshKeepsAskingOverADisconnect) {
    ConnectMultiFilterBench();
    ASSERT_TRUE(window->IsConnected());
    Click("autoRefreshCheck");
    auto* timer = window->findChild<QTimer*>();
    ASSERT_NE(timer, nullptr);
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 1000);
    Click("disconnectButton");
    EXPECT_TRUE(timer->isActive()) << "disconnecting does not stop the timer";
    // What a tick does, without waiting a second for it.
    window->OnGetTemp();
    EXPECT_TRUE(Log().endsWith("Getting current temperature ...\nError getting temperature."));
    EXPECT_EQ(Find<QLineEdit>("tempEdit")->text(), "ERROR");
}

TEST_F(ConsoleTest, TheDesiredTemperatureSpinShowsThePositionBeforeItsStep) {
    Open();
    Click("multiFilterRadio");
    auto* spin = Find<QWidget>("desiredTempSpin");
    QAbstractButton* up = spin->findChild<QAbstractButton*>("up");
    ASSERT_NE(up, nullptr);
    spin->setEnabled(true);
    up->setEnabled(true);
    up->click();
    EXPECT_EQ(Find<QLineEdit>("desiredTempEdit")->text(), "27.0");
    up->click();
    EXPECT_EQ(Find<QLineEdit>("desiredTempEdit")->text(), "27.1");
}

TEST_F(ConsoleTest, TheNumberEditTakesOneSeparatorAndALeadingSign) {
    Open();
    auto* edit = Find<QLineEdit>("desiredTempEdit");
    edit->setEnabled(true);
    edit->clear();
    QTest::keyClicks(edit, "2x5..5");
    EXPECT_EQ(edit->text(), "25.5") << "letters and a second separator are refused";
    edit->setCursorPosition(0);
    QTest::keyClicks(edit, "--");
    EXPECT_EQ(edit->text(), "-25.5") << "one sign, at the start only";
    edit->setCursorPosition(3);
    QTest::keyClicks(edit, "-");
    EXPECT_EQ(edit->text(), "-25.5");
}

TEST_F(ConsoleTest, TypedNumbersAreClamped) {
    Open();
    Click("multiFilterRadio");
    QLineEdit* filters = Find<QLineEdit>("numberOfFiltersEdit");
    filters->setText("12");
    emit filters->editingFinished();
    EXPECT_EQ(filters->text(), "8");
    EXPECT_EQ(Find<QComboBox>("desiredFilterList")->count(), 8);
    filters->setText("0");
    emit filters->editingFinished();
    EXPECT_EQ(filters->text(), "1");

    QLineEdit* desired = Find<QLineEdit>("desiredTempEdit");
    desired->setText("55");
    emit desired->editingFinished();
    EXPECT_EQ(desired->text(), "40.0");
    desired->setText("-3");
    emit desired->editingFinished();
    EXPECT_EQ(desired->text(), "0.0");
}

}  // namespace

namespace {

// Every menu command opens its window modally: the tools without a parent, except the threshold
// tool, which sits over the console; the About box from the menu and from the window's own menu.
TEST(ConsoleMenu, EveryCommandOpensItsWindow) {
    CPravikDlg window;
    struct Entry {
        const char* action;
        QStringList path;  // menu titles down to the command
        const char* opens;
        bool overConsole;
    };
    const Entry entries[] = {
        {"firmwareUpdaterAction",
         {"&Utilities", "&SmartMotor", "&Firmware Updater"},
         "CSmartMotorUtilitiesDlg",
         false},
        {"saveOmegaSettingsAction",
         {"&Utilities", "&Omega Temp Controller", "&Save Current Settings to File"},
         "COmegaSettingsSaveDlg",
         false},
        {"resetOmegaSettingsAction",
         {"&Utilities", "&Omega Temp Controller", "&Reset to Default Settings"},
         "COmegaSettingsResetDlg",
         false},
        {"adjustLightSensorThresholdAction",
         {"&Utilities", "Shutter Controller", "Adjust Light Sensor Threshold"},
         "CShutterControllerLightSensorThresholdDlg",
         true},
        {"aboutAction", {"&Utilities", "&Help", "About"}, "CAboutDlg", false},
        {"systemAboutAction", {"&About Pravik..."}, "CAboutDlg", false},
    };
    for (const Entry& entry : entries) {
        SCOPED_TRACE(entry.action);
        auto* action = window.findChild<QAction*>(entry.action);
        ASSERT_NE(action, nullptr);
        QStringList path = {action->text()};
        for (QObject* up = action->parent(); auto* menu = qobject_cast<QMenu*>(up);
             up = up->parent()) {
            path.prepend(menu->title());
        }
        EXPECT_EQ(path, entry.path);

        QString opened;
        bool modal = false;
        QWidget* parent = &window;
        const auto answer = AnswerModal<QDialog>([&](QDialog& tool) {
            opened = tool.metaObject()->className();
            modal = tool.isModal();
            parent = tool.parentWidget();
            tool.reject();
        });
        action->trigger();
        EXPECT_EQ(opened, entry.opens);
        EXPECT_TRUE(modal);
        EXPECT_EQ(parent, entry.overConsole ? &window : nullptr);
    }
    EXPECT_EQ(window.contextMenuPolicy(), Qt::ActionsContextMenu);
}

}  // namespace
