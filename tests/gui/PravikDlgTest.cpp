// The console window driven through its widgets, offscreen, against simulated benches. What the
// drivers and instruments do is the pty tests' to check; here, what the window adds: controls,
// texts, colours, enabling and message boxes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTime>
#include <QTimer>
#include <cmath>
#include <fstream>
#include <functional>
#include <iterator>
#include <tuple>
#include <utility>

#include "console/AdvComDlg.h"
#include "console/PortListFill.h"
#include "console/PravikDlg.h"
#include "console/TemperatureTrend.h"
#include "gui/AnswerModal.h"
#include "gui/Controls.h"
#include "platform/Version.h"
#include "serial/TraceFormat.h"
#include "sim/OmegaControllerSim.h"
#include "sim/ReplaySim.h"
#include "sim/ShutterControllerSim.h"
#include "sim/SmartMotorSim.h"
#include "support/TestPortDirectory.h"

// Takes the addresses the window would have the desktop open.
class DesktopCatcher : public QObject {
    Q_OBJECT
public slots:
    void Open(const QUrl& url) { opened.push_back(url); }

public:
    QList<QUrl> opened;
};

namespace {

using testing_support::kFirstTestPort;

constexpr int kMotorPort = kFirstTestPort;
constexpr int kControllerPort = kFirstTestPort + 1;
constexpr int kShutterPort = kFirstTestPort + 2;

QString Com(int port) {
    return QString("COM%1").arg(port);
}

class ConsoleTest : public testing_support::PortDirectoryTest, protected AnswersMessageBoxes {
protected:
    // The sessions the window traces go into the test's own folder.
    void SetUp() override {
        PortDirectoryTest::SetUp();
        ::setenv("XDG_STATE_HOME", (PortDir() + "/state").c_str(), 1);
    }
    void TearDown() override {
        window.reset();
        motor.reset();
        omega.reset();
        shutter.reset();
        PortDirectoryTest::TearDown();
    }
    // Starts the bench (unless told not to) and opens the window.
    void Open(bool bench = true) {
        if (bench) {
            StartBench();
        }
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
    void StartBench() {
        motor = std::make_unique<sim::CSmartMotorSim>(kMotorPort, PortDir());
        omega = std::make_unique<sim::COmegaControllerSim>(kControllerPort, PortDir());
        shutter = std::make_unique<sim::CShutterControllerSim>(
            kShutterPort, PortDir(), sim::CShutterControllerSim::Generation::V30);
        ASSERT_TRUE(motor->Start() && omega->Start() && shutter->Start());
        motor->SetMoveTime(std::chrono::milliseconds(1));
        motor->SetHomeTime(std::chrono::milliseconds(1));
    }
    template <typename T = QWidget>
    T* Find(const std::string& name) {
        return ::Find<T>(window.get(), QString::fromStdString(name));
    }
    void Click(const std::string& name) { ::Click(window.get(), QString::fromStdString(name)); }
    QString Log() { return Find<QTextEdit>("terminal")->toPlainText(); }
    QString Text(const char* edit) { return Find<QLineEdit>(edit)->text(); }
    void ChoosePort(const char* list, int port) { Choose(window.get(), list, Com(port)); }
    // The usual start: the bench running, the window open, an instrument connected.
    void Connect(bool multiFilter = true) {
        Open();
        Click(multiFilter ? "multiFilterRadio" : "singleFilterRadio");
        ChoosePort("instrumentPortList", multiFilter ? kMotorPort : kShutterPort);
        if (multiFilter) {
            ChoosePort("controllerPortList", kControllerPort);
        }
        Click("connectButton");
        ASSERT_TRUE(window->IsConnected()) << Log().toStdString();
    }
    QStringList Enabled(const QStringList& names) { return ::Enabled(window.get(), names); }
    // The last session's trace file, once written.
    std::string Trace() {
        EXPECT_TRUE(window->SessionTrace().Flush(std::chrono::seconds(5)));
        std::ifstream file(window->SessionTrace().Path());
        return {std::istreambuf_iterator<char>(file), {}};
    }
    // Waits, handling events, until the log holds text.
    bool LogShows(const QString& text) {
        return QTest::qWaitFor([&] { return Log().contains(text); }, 5000);
    }
    // The colour of the first character of text in the log.
    QColor ColourOf(const QString& text) {
        QTextDocument* document = Find<QTextEdit>("terminal")->document();
        QTextCursor at = document->find(text);
        EXPECT_FALSE(at.isNull()) << text.toStdString();
        at.setPosition(at.selectionStart() + 1);
        return at.charFormat().foreground().color();
    }
    // Clicks a button that runs the COM settings dialog and, once it is up, hands it to act.
    void RunAdvanced(const std::string& button, const std::function<void(CAdvComDlg&)>& act) {
        bool shown = false;
        const auto answer = AnswerModal<CAdvComDlg>([&](CAdvComDlg& dialog) {
            shown = true;
            act(dialog);
        });
        Click(button);
        EXPECT_TRUE(shown) << button;
    }
    static void Press(CAdvComDlg& dialog, const char* button) {
        dialog.findChild<QPushButton*>(button)->click();
    }

    std::unique_ptr<sim::CSmartMotorSim> motor;
    std::unique_ptr<sim::COmegaControllerSim> omega;
    std::unique_ptr<sim::CShutterControllerSim> shutter;
    std::unique_ptr<CPravikDlg> window;
};

const QStringList kSessionControls = {"connectButton",      "disconnectButton", "openShutterButton",
                                      "changeFilterButton", "getTempButton",    "lightGetButton"};

TEST_F(ConsoleTest, OnlyTheTypeChoiceIsOpenUntilATypeIsChosen) {
    // An unsafe port folder is named in red under the legend.
    ASSERT_EQ(::chmod(PortDir().c_str(), 0777), 0);
    Open(false);
    EXPECT_TRUE(Log().startsWith("Green Text - Indicates no error"));
    const QString unsafe = QString::fromStdString("Ignoring the port folder " + PortDir());
    EXPECT_EQ(ColourOf(unsafe), ColourOf("Red Text"));
    EXPECT_EQ(Find<QLabel>("statusText")->text(), "Disconnected");
    // The pictures come from the program's compiled-in resources.
    EXPECT_FALSE(Find<QLabel>("multiFilterPicture")->pixmap().isNull());
    EXPECT_FALSE(Find<QLabel>("singleFilterPicture")->pixmap().isNull());
    EXPECT_FALSE(window->windowIcon().isNull());
    EXPECT_EQ(Enabled(kSessionControls + QStringList{"multiFilterRadio", "singleFilterRadio",
                                                     "multiFilterPicture", "instrumentPortList",
                                                     "controllerPortList", "terminal"}),
              (QStringList{"multiFilterRadio", "singleFilterRadio", "multiFilterPicture"}));
}

TEST_F(ConsoleTest, ChoosingATypeRescansThePortsAndOpensItsSettings) {
    Open();
    Click("singleFilterRadio");
    const QStringList settings = {"instrumentPortList", "connectButton", "controllerPortList",
                                  "numberOfFiltersEdit"};
    EXPECT_EQ(Enabled(settings), (QStringList{"instrumentPortList", "connectButton"}));
    ChoosePort("instrumentPortList", kShutterPort);
    EXPECT_EQ(window->Configuration().InstrumentPort.PortNumber, kShutterPort);

    Click("multiFilterRadio");
    EXPECT_EQ(Enabled(settings), settings);
    EXPECT_EQ(Find<QComboBox>("instrumentPortList")->currentIndex(), 0)
        << "a rescan starts both lists at \"-- Select One --\"";
    EXPECT_EQ(window->Configuration().InstrumentPort.PortNumber, kShutterPort)
        << "the stored port survives the rescan";
    Click("connectButton");
    EXPECT_EQ(messages, QStringList{"Please select an instrument COM port."});
    EXPECT_TRUE(Log().endsWith("No Instrument COM Port Selected.\n"));
    ChoosePort("instrumentPortList", kMotorPort);
    Click("connectButton");
    EXPECT_EQ(messages.back(), "Please select a temperature controller COM port.");
    EXPECT_FALSE(window->IsConnected());
}

TEST_F(ConsoleTest, AMultiFilterSessionRunsEveryTestButtonAndEchoesTheTraffic) {
    Connect();
    EXPECT_TRUE(Log().contains("Connecting to instrument ...\nSuccess.\n"));
    EXPECT_EQ(Find<QLabel>("statusText")->text(), "Connected");
    EXPECT_TRUE(Find<QLabel>("identityText")->text().contains("Talvor Imager \u00B7 firmware 5.2"));
    EXPECT_EQ(Enabled(kSessionControls), kSessionControls.mid(1));

    Click("openShutterButton");
    Click("shutterGetButton");
    EXPECT_EQ(Text("shutterStateEdit"), "OPEN");
    Find<QComboBox>("desiredFilterList")->setCurrentIndex(2);
    Click("changeFilterButton");
    Click("filterGetButton");
    EXPECT_EQ(Text("filterEdit"), "3");
    Click("lightGetButton");
    EXPECT_EQ(Text("lightEdit"), "DARK");
    Click("getTempButton");
    EXPECT_NE(Text("tempEdit"), "ERROR");
    EXPECT_FALSE(Text("tempEdit").isEmpty());
    Find<QLineEdit>("desiredTempEdit")->setText("31.5");
    Click("setTempButton");
    EXPECT_EQ(omega->Register(0x01), 0x20013Bu);  // 31.5 in tenths

    // The motor's lines, sent in the legend's blue and received in its orange.
    const QString sent = Com(kMotorPort) + " >> GOSUB4[0x0D]";
    const QString received = Com(kMotorPort) + " << FILT:3[0x0D]";
    ASSERT_TRUE(LogShows(sent) && LogShows(received));
    EXPECT_EQ(ColourOf(sent), ColourOf("Blue Text"));
    EXPECT_EQ(ColourOf(received), ColourOf("Orange Text"));
    EXPECT_EQ(Log().count("Success!"), 7) << Log().toStdString();
    EXPECT_EQ(ColourOf("Success!"), ColourOf("Green Text"));
    EXPECT_FALSE(Log().contains("Error"));

    // A reply that stops short shows once the port is quiet, marked, and its rest on a line of
    // its own.
    motor->Inject("FILT:");
    ASSERT_TRUE(LogShows(Com(kMotorPort) + " << FILT: [partial]\n"));
    EXPECT_EQ(ColourOf(" [partial]"), ColourOf("Orange Text"));
    motor->Inject("3\r");
    EXPECT_TRUE(LogShows(" << FILT: [partial]\n" + Com(kMotorPort) + " << 3[0x0D]\n"));

    // Each TX/RX line with its time of day, never going back, or with the time since the line
    // before it; the program's own lines without.
    for (const auto& [choice, time] : {std::pair{"timeOfDayAction", R"(\d\d:\d\d:\d\d\.\d{3})"},
                                       std::pair{"timeSincePreviousAction", R"(\+\d+\.\d{3})"}}) {
        Find<QAction>(choice)->trigger();
        const qsizetype from = Log().size();
        Click("filterGetButton");
        ASSERT_TRUE(QTest::qWaitFor([&] { return Log().mid(from).contains("FILT:3"); }, 5000));
        // The reply after its command: how long it took, and what it means.
        EXPECT_TRUE(QRegularExpression(R"(<< FILT:3\[0x0D\]  \+\d+\.\d ms  filter 3\n)")
                        .match(Log().mid(from))
                        .hasMatch())
            << Log().mid(from).toStdString();
        const QRegularExpression traffic(QString("^(%1 )?COM\\d+ (>>|<<) ").arg(time));
        QTime last;
        for (const QString& line : Log().mid(from).split('\n', Qt::SkipEmptyParts)) {
            const QRegularExpressionMatch match = traffic.match(line);
            EXPECT_EQ(match.hasMatch() && !match.captured(1).isEmpty(), line.contains("COM"))
                << line.toStdString();
            if (const QTime at = QTime::fromString(line.left(12), "HH:mm:ss.zzz"); at.isValid()) {
                EXPECT_TRUE(!last.isValid() || last <= at || last.hour() > at.hour())
                    << line.toStdString();
                last = at;
            }
        }
    }

    // Auto refresh asks every second, and goes on asking over a disconnect.
    Click("autoRefreshCheck");
    auto* timer = window->findChild<QTimer*>();
    ASSERT_TRUE(timer != nullptr && timer->isActive());
    EXPECT_EQ(timer->interval(), 1000);
    Click("disconnectButton");
    EXPECT_FALSE(window->IsConnected());
    EXPECT_TRUE(Log().contains("Disconnecting from instrument ...\nSuccess!\n"));
    EXPECT_EQ(Find<QLabel>("statusText")->text(), "Disconnected");
    EXPECT_EQ(Find<QLabel>("identityText")->text(), "");
    EXPECT_FALSE(Find("shutterGetButton")->isEnabled());
    // The connection's trace holds what the log shows of the traffic, port by port.
    const std::string traced = Trace();
    std::string error;
    const auto traffic = trace::ReadTrace(traced, error);
    ASSERT_TRUE(traffic) << error;
    EXPECT_TRUE(traced.ends_with(R"("type":"disconnect","reason":"asked"})"
                                 "\n"));
    CTrafficEcho echo;
    QString logged;
    for (const trace::Traffic& record : *traffic) {
        SerialEcho bytes;
        bytes.PortNumber = record.Port;
        bytes.Text = record.Bytes;
        bytes.Length = static_cast<int32_t>(record.Bytes.size());
        bytes.Received = record.Received;
        for (const TrafficText& piece : echo.Take(bytes, true, kMotorPort, kControllerPort)) {
            logged += QString::fromLatin1(piece.Text);
        }
    }
    // The same bytes each way, however the log split them into lines (a partial line and its
    // rest) and whatever time and pairing it put around them.
    const auto bytes = [](const QString& log, int port, const char* direction) {
        const QRegularExpression line(
            QString(R"(^(?:[\d:.+]+ )?%1 %2 (.*?)(?: \[partial\])?(?:  \+\d+\.\d ms.*)?$)")
                .arg(Com(port), direction));
        QString all;
        for (const QString& text : log.split('\n')) {
            if (const QRegularExpressionMatch match = line.match(text); match.hasMatch()) {
                all += match.captured(1);
            }
        }
        return all;
    };
    for (const int port : {kMotorPort, kControllerPort}) {
        for (const char* direction : {">>", "<<"}) {
            EXPECT_TRUE(QTest::qWaitFor(
                [&] { return bytes(Log(), port, direction) == bytes(logged, port, direction); },
                5000))
                << Com(port).toStdString() << direction;
        }
    }
    EXPECT_TRUE(timer->isActive());
    window->OnGetTemp();  // what a tick does, without waiting a second for it
    EXPECT_TRUE(Log().endsWith("Getting current temperature ...\nError getting temperature.\n" +
                               Com(kControllerPort) + " is not open: connect first."));
    EXPECT_EQ(Text("tempEdit"), "ERROR");

    window.reset();
    Open(false);
    EXPECT_TRUE(Find<QAction>("timeSincePreviousAction")->isChecked()) << "remembered";
    EXPECT_EQ(window->Traffic().Times(), LineTimes::SincePrevious);
}

// A session the window traced, served back from its trace: the same buttons give the same
// results and the same log, line for line.
TEST_F(ConsoleTest, ARecordedSessionGivesTheSameResultsAgainstItsReplay) {
    const auto session = [&] {
        Click("multiFilterRadio");
        ChoosePort("instrumentPortList", kMotorPort);
        ChoosePort("controllerPortList", kControllerPort);
        const qsizetype from = Log().size();
        for (const char* button : {"connectButton", "openShutterButton", "shutterGetButton",
                                   "filterGetButton", "lightGetButton", "getTempButton"}) {
            Click(button);
        }
        QStringList seen;
        for (const char* edit : {"shutterStateEdit", "filterEdit", "lightEdit", "tempEdit"}) {
            seen << Text(edit);
        }
        Click("disconnectButton");
        return seen << Log().mid(from);
    };
    Open();
    const QStringList live = session();
    std::string error;
    const auto traffic = trace::ReadTrace(Trace(), error);
    ASSERT_TRUE(traffic) << error;
    window.reset();
    motor.reset();
    omega.reset();
    std::vector<std::unique_ptr<sim::CReplaySim>> replays;
    for (const int port : {kMotorPort, kControllerPort}) {
        replays.push_back(std::make_unique<sim::CReplaySim>(port, PortDir(), *traffic, true));
        ASSERT_TRUE(replays.back()->Start());
    }
    Open(false);
    EXPECT_EQ(session(), live);
    EXPECT_EQ(live.first(), "OPEN");
}

TEST_F(ConsoleTest, ASingleFilterInstrumentConnectsWithoutAController) {
    Connect(false);
    EXPECT_EQ(Enabled(kSessionControls),
              (QStringList{"disconnectButton", "openShutterButton", "lightGetButton"}));
    Click("openShutterButton");
    Click("shutterGetButton");
    EXPECT_EQ(Text("shutterStateEdit"), "OPEN");
    Click("lightGetButton");
    EXPECT_EQ(Text("lightEdit"), "DARK");
    EXPECT_EQ(window->Configuration().ShutterControllerGeneration, 3);

    // The box's replies never end in a carriage return: each shows once the port is quiet.
    const QString reply =
        Com(kShutterPort) + " >> #0R\n" + Com(kShutterPort) + " << [0x01][0xFE] [partial]\n";
    Click("shutterGetButton");
    EXPECT_TRUE(LogShows(reply));
    // Without that, a write and the end of a connection still flush them, and none is carried
    // into the next connection.
    window->PartialLineQuietMs = 60000;
    for (int round = 0; round < 2; ++round) {
        Click("shutterGetButton");
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return window->Traffic().InstrumentLine().size() == 2; }, 5000));
        Click("disconnectButton");
        EXPECT_TRUE(Log().endsWith(reply + "\nDisconnecting from instrument ...\nSuccess!\n"));
        EXPECT_EQ(window->Traffic().InstrumentLine(), "");
        Click("connectButton");
    }
    EXPECT_FALSE(Log().contains("[0xFE][0x")) << "no reply glued to another";
}

TEST_F(ConsoleTest, FailuresAreLoggedInRedAndShowError) {
    // A trace that cannot be written says so once, and only the trace stops.
    QFile notAFolder(QString::fromStdString(PortDir() + "/state"));
    ASSERT_TRUE(notAFolder.open(QIODevice::WriteOnly));
    Connect();
    const QString stopped = "Session trace stopped: cannot make the folder " +
                            notAFolder.fileName() +
                            "/pravik/sessions: Not a directory. The log in this window goes on.";
    ASSERT_TRUE(LogShows(stopped + "\n"));
    EXPECT_EQ(ColourOf(stopped), ColourOf("Red Text"));
    motor->HangUp();
    omega->HangUp();
    Click("shutterGetButton");
    EXPECT_EQ(Text("shutterStateEdit"), "ERROR");
    Find<QComboBox>("desiredFilterList")->setCurrentIndex(2);
    Click("changeFilterButton");
    Click("getTempButton");
    EXPECT_EQ(Text("tempEdit"), "ERROR");
    EXPECT_TRUE(Log().contains("Error getting shutter state.\n"));
    EXPECT_EQ(ColourOf("Error getting shutter state."), ColourOf("Red Text"));
    EXPECT_TRUE(Log().contains("Error changing to filter #3.\n"));
    // Each error line has the reason under it, on a line of its own.
    const QString gone = " is gone: the device hung up or its adapter was unplugged.";
    EXPECT_TRUE(Log().contains("Error getting shutter state.\n" + Com(kMotorPort) + gone + "\n"));
    EXPECT_EQ(ColourOf(Com(kMotorPort) + gone), ColourOf("Red Text"));
    EXPECT_TRUE(Log().endsWith("Error getting temperature.\n" + Com(kControllerPort) + gone));
    EXPECT_EQ(Log().count(stopped), 1);

    // A reset of a motor that no longer answers reports both lines, in this order; echoed
    // traffic may stand between them.
    Click("resetButton");
    EXPECT_TRUE(LogShows("Reset complete.\n"));
    const QString after = Log().mid(Log().indexOf("Reset initiated. Please wait for complete.\n"));
    const qsizetype failed = after.indexOf("Error resetting.\n");
    EXPECT_GT(failed, 0);
    EXPECT_GT(after.indexOf("Reset complete.\n"), failed);
}

// An instrument whose device goes says so at once, naming the port and its device; one click on
// Connect carries on once it is back, and with "Reconnect by itself" its coming back is enough.
// Each connection's trace ends with the lost device; a new one first removes the oldest sessions
// beyond the last 50 or 200 MB.
TEST_F(ConsoleTest, ALostDeviceIsShownAtOnceAndTheConnectionResumesWhenItIsBack) {
    const QString sessions = QString::fromStdString(PortDir() + "/state/pravik/sessions");
    const auto old = [&](int n) {
        return QString::asprintf("2020-01-01T00-00-%02d_multi.jsonl", n);
    };
    ASSERT_TRUE(QDir().mkpath(sessions));
    for (int n = 0; n <= 50; ++n) {
        QFile(sessions + "/" + old(n)).open(QIODevice::WriteOnly);
    }
    const auto kept = [&] { return QDir(sessions).entryList(QDir::Files, QDir::Name); };
    Connect();
    EXPECT_EQ(kept().size(), 50);
    EXPECT_EQ(kept().front(), old(2));
    const auto status = [this](const QString& text) {
        return QTest::qWaitFor([&] { return Find<QLabel>("statusText")->text() == text; }, 5000);
    };
    motor->HangUp();
    ASSERT_TRUE(status("Device lost"));
    const auto listed = [&] {
        return console::IndexOfPort(Find<QComboBox>("instrumentPortList"), kMotorPort) >= 0;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return !listed(); }, 5000));
    EXPECT_TRUE(Trace().ends_with(R"("reason":"device lost","port":)" + std::to_string(kMotorPort) +
                                  "}\n"));
    EXPECT_EQ(ColourOf(Com(kMotorPort) + " (/dev/pts/"), ColourOf("Red Text"));
    EXPECT_TRUE(
        Log().contains(" is gone: its adapter was unplugged or the device was switched off."));
    EXPECT_EQ(Enabled(kSessionControls), kSessionControls) << "Connect starts over";
    Click("filterGetButton");
    EXPECT_TRUE(Log().endsWith(Com(kMotorPort) + " is gone: the device hung up or its adapter was "
                                                 "unplugged.\n"));
    ASSERT_TRUE(motor->PlugIn());
    // Gone from the list while unplugged, the port is chosen again once it is back.
    ASSERT_TRUE(QTest::qWaitFor(listed, 5000));
    EXPECT_EQ(console::ChosenPort(Find<QComboBox>("instrumentPortList")), kMotorPort);
    for (const int n : {49, 50}) {
        ASSERT_TRUE(QFile::resize(sessions + "/" + old(n), 150'000'000));  // sparse: no disk used
    }
    Click("connectButton");
    EXPECT_EQ(Find<QLabel>("statusText")->text(), "Connected");
    EXPECT_EQ(kept().size(), 3);
    EXPECT_EQ(kept().front(), old(50));
    DesktopCatcher desktop;
    QDesktopServices::setUrlHandler("file", &desktop, "Open");
    window->findChild<QAction*>("openSessionsFolderAction")->trigger();
    QDesktopServices::unsetUrlHandler("file");
    EXPECT_EQ(desktop.opened, QList{QUrl::fromLocalFile(sessions)});

    Click("reconnectCheck");
    motor->HangUp();
    ASSERT_TRUE(status("Device lost"));
    ASSERT_TRUE(motor->PlugIn());
    EXPECT_TRUE(status("Connected")) << Log().toStdString();
    Click("filterGetButton");
    EXPECT_TRUE(Log().endsWith("Success!\n"));
}

// Virtual memory of this process: a thread that has ended but was never joined keeps its whole
// stack reserved, which no thread count shows.
long VirtualMemoryKiB() {
    QFile status("/proc/self/status");
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmSize:")) {
            return line.mid(7).trimmed().split(' ').first().toLong();
        }
    }
    return -1;
}

TEST_F(ConsoleTest, ResetsOneAfterAnotherLeaveNoThreadStacksBehind) {
    Connect();
    // The first reset's threads set up what every later one reuses (allocator arenas).
    constexpr int kResets = 41;
    long before = 0;
    for (int i = 1; i <= kResets; ++i) {
        before = i == 2 ? VirtualMemoryKiB() : before;
        Click("resetButton");
        ASSERT_TRUE(QTest::qWaitFor([&] { return Log().count("Reset complete.\n") == i; }, 5000));
    }
    QCoreApplication::processEvents();
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

// Each port's dialog starts from that port's settings and tries them on its kind of device (a
// motor, an Omega controller); only an accepted run is copied back, and selects its port. The
// next window starts on the bench as it was stored when it connected, and when the window closed.
TEST_F(ConsoleTest, AdvancedEditsEachPortsSettingsCancelKeepsThemAndTheNextWindowToo) {
    Open();
    Click("multiFilterRadio");
    for (const auto& [which, port] :
         {std::pair{"instrument", kMotorPort}, std::pair{"controller", kControllerPort}}) {
        SCOPED_TRACE(which);
        const InstrumentConfig& config = window->Configuration();
        const CommSettings& settings =
            port == kMotorPort ? config.InstrumentPort : config.TempControllerPort;
        const InstrumentConfig before = config;
        RunAdvanced(std::string(which) + "AdvancedButton", [&, port = port](CAdvComDlg& dialog) {
            Choose(&dialog, "portList", Com(port));
            Choose(&dialog, "baudList", "152000");  // the list's, though no line runs at it
            Choose(&dialog, "dataBitsList", "7");
            Choose(&dialog, "parityList", "Even");
            Choose(&dialog, "stopBitsList", "2");
            Choose(&dialog, "flowControlList", "RTS/CTS");
            Press(dialog, "okButton");
        });
        EXPECT_EQ(settings, (CommSettings{port, 152000, 7, 2, 2, 2}));
        EXPECT_EQ(Find<QComboBox>(std::string(which) + "PortList")->currentIndex(),
                  EntryOf(Find<QComboBox>(std::string(which) + "PortList"), Com(port)));
        const InstrumentConfig accepted = config;
        EXPECT_EQ(port == kMotorPort ? accepted.TempControllerPort : accepted.InstrumentPort,
                  port == kMotorPort ? before.TempControllerPort : before.InstrumentPort);

        // A cancelled run keeps nothing, not even what a test wrote into the dialog's record.
        RunAdvanced(std::string(which) + "AdvancedButton", [&](CAdvComDlg& dialog) {
            EXPECT_EQ(dialog.findChild<QComboBox*>("baudList")->currentText(), "152000");
            Choose(&dialog, "baudList", "9600");
            Press(dialog, "testButton");
            Press(dialog, "cancelButton");
        });
        EXPECT_EQ(config, accepted);
    }
    EXPECT_EQ(messages, QStringList(2, "Success! Settings are correct."));
    Click("legacyCheck");
    Find<QLineEdit>("numberOfFiltersEdit")->setText("7");
    emit Find<QLineEdit>("numberOfFiltersEdit")->editingFinished();
    const InstrumentConfig chosen = window->Configuration();
    // The simulated devices answer at any rate: connected, with the refusal said.
    Click("connectButton");
    EXPECT_TRUE(
        Log().contains(") refused the line settings \"baud=152000 parity=e data=7 stop=2\""))
        << Log().toStdString();
    EXPECT_NE(Trace().find(R"("type":"settings","role":)"), std::string::npos) << "and its trace";

    window.reset();  // never closed: what the connection stored
    Open(false);
    EXPECT_EQ(window->Configuration(), chosen);
    EXPECT_EQ(console::ChosenPort(Find<QComboBox>("controllerPortList")), kControllerPort);
    EXPECT_TRUE(Find<QAbstractButton>("legacyCheck")->isChecked());
    EXPECT_EQ(Text("numberOfFiltersEdit"), "7");
    const QSize size = window->size() - QSize(40, 30);
    window->resize(size);
    window->close();
    // What no window could have stored (edited by hand, a damaged file) counts as not stored,
    // field by field; a port missing from today's list is not chosen, but kept.
    const std::pair<const char*, const char*> damaged[] = {
        {"InstrumentPort/Port", "257"}, {"InstrumentPort/BaudRate", "115200"},
        {"InstrumentPort/Parity", "3"}, {"InstrumentPort/FlowControl", "1x"},
        {"ControllerPort/Port", "210"}, {"ControllerPort/DataBits", "9"},
        {"NumberOfFilters", "9"},       {"LegacySupport", "yes"}};
    for (const auto& [key, value] : damaged) {
        QSettings().setValue(QString("Console/") + key, value);
    }
    Open(false);
    EXPECT_EQ(window->size(), size) << "as the window closed";
    EXPECT_EQ(window->Configuration().InstrumentPort, (CommSettings{1, 9600, 7, 0, 2, 0}));
    EXPECT_EQ(window->Configuration().TempControllerPort, (CommSettings{210, 152000, 8, 2, 2, 2}));
    EXPECT_EQ(Find<QComboBox>("controllerPortList")->currentIndex(), 0);
    EXPECT_EQ(Text("numberOfFiltersEdit"), "6");
    EXPECT_FALSE(Find<QAbstractButton>("legacyCheck")->isChecked());
}

TEST_F(ConsoleTest, TestConnectionButtonsSayWhetherTheDeviceAnswered) {
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
    // The motor is no controller, nor the controller a motor: neither answers the other.
    ChoosePort("controllerPortList", kMotorPort);
    Click("controllerTestButton");
    EXPECT_EQ(messages.back(), "Error! Connection to temperature controller failed.");
    EXPECT_TRUE(boxes.back().detail.startsWith("No reply to \"*R1F<0D>\" from " + Com(kMotorPort)));
    ChoosePort("instrumentPortList", kControllerPort);
    Click("instrumentTestButton");
    EXPECT_EQ(messages.back(), "Error! Connection to instrument failed.");
    EXPECT_FALSE(window->IsConnected()) << "testing connects nothing";
}

// The temperature spin shows the position it had before its step; typed numbers are clamped
// when the edit is left; the temperature edit takes one separator and a leading sign only.
TEST_F(ConsoleTest, TheNumberEntriesKeepTheirTextInRange) {
    Open();
    Click("multiFilterRadio");
    auto* up = Find("desiredTempSpin")->findChild<QAbstractButton*>("up");
    ASSERT_NE(up, nullptr);
    EXPECT_FALSE(Find("desiredTempEdit")->isEnabled()) << "not connected: the group is greyed";
    EXPECT_TRUE(Find("desiredTempSpin")->isEnabled() && up->isEnabled()) << "but not its spin";
    up->click();
    EXPECT_EQ(Text("desiredTempEdit"), "27.0");
    up->click();
    EXPECT_EQ(Text("desiredTempEdit"), "27.1");

    const std::tuple<const char*, const char*, const char*> typed[] = {
        {"numberOfFiltersEdit", "12", "8"},
        {"numberOfFiltersEdit", "0", "1"},
        {"desiredTempEdit", "55", "40.0"},
        {"desiredTempEdit", "-3", "0.0"}};
    for (const auto& [name, text, shown] : typed) {
        auto* edit = Find<QLineEdit>(name);
        edit->setText(text);
        emit edit->editingFinished();
        EXPECT_EQ(edit->text(), shown) << name << " " << text;
    }
    EXPECT_EQ(Find<QComboBox>("desiredFilterList")->count(), 1);
    // A step of the filters spin refills the desired-filter list at once, not when the edit is
    // left.
    Find("numberOfFiltersSpin")->findChild<QAbstractButton*>("up")->click();
    EXPECT_EQ(Text("numberOfFiltersEdit"), "2");
    EXPECT_EQ(Find<QComboBox>("desiredFilterList")->count(), 2);

    auto* edit = Find<QLineEdit>("desiredTempEdit");
    edit->setEnabled(true);
    edit->clear();
    QTest::keyClicks(edit, "2x5..5");
    EXPECT_EQ(edit->text(), "25.5") << "letters and a second separator are refused";
    edit->setCursorPosition(0);
    QTest::keyClicks(edit, "--");
    edit->setCursorPosition(3);
    QTest::keyClicks(edit, "-");
    EXPECT_EQ(edit->text(), "-25.5") << "one sign, at the start only";
}

// Each reading joins the trend, with the set point Set Temp wrote, unless it is paused; pointing
// at the plot reads out the nearest one; every reading is saved as CSV, and the plot as PNG; a
// save that fails says so and keeps them all; Clear empties it.
TEST_F(ConsoleTest, TheTrendRecordsEachReadingUnlessPausedAndSavesThemAll) {
    Connect();
    const trend::Store& readings = Find<console::TemperatureTrend>("trendGroup")->Readings();
    Click("getTempButton");
    Find<QLineEdit>("desiredTempEdit")->setText("31.5");
    Click("setTempButton");
    Click("getTempButton");
    Click("trendPauseButton");
    Click("getTempButton");
    Click("trendPauseButton");
    ASSERT_EQ(readings.Size(), 2u);
    EXPECT_TRUE(std::isnan(readings.Front().setpoint)) << "not known before Set Temp";
    EXPECT_EQ(readings.Back().setpoint, 31.5);
    EXPECT_EQ(readings.Back().process, Text("tempEdit").toDouble());
    QWidget* plot = Find<QAbstractScrollArea>("trendChart")->viewport();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return Find<QLabel>("trendReadout")->text().startsWith("Newest"); }));
    QTest::mouseMove(plot, plot->rect().center());
    const QString readout = Find<QLabel>("trendReadout")->text();
    EXPECT_TRUE(QRegularExpression(R"(^\d\d:\d\d:\d\d\.\d{3} +31\.5 °C, set point 31\.5 °C$)")
                    .match(readout)
                    .hasMatch())
        << readout.toStdString();

    QTemporaryDir folder;
    for (const auto& [typed, button] : {std::pair{folder.filePath("day"), "trendCsvButton"},
                                        {folder.filePath("day"), "trendPngButton"},
                                        {QString("/sys/day.csv"), "trendCsvButton"}}) {
        const auto answer = AnswerModal<QFileDialog>([&, typed = typed](QFileDialog& chooser) {
            chooser.findChild<QLineEdit*>("fileNameEdit")->setText(typed);
            static_cast<QDialog&>(chooser).accept();
        });
        Click(button);
    }
    QFile csv(folder.filePath("day.csv"));
    QFile png(folder.filePath("day.png"));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly) && png.open(QIODevice::ReadOnly));
    const QString rows = QString::fromUtf8(csv.readAll());
    EXPECT_TRUE(QRegularExpression(R"(^time,process_c,setpoint_c\n[-\d]+T[\d:.]+Z,[\d.]+,\n)"
                                   R"([-\d]+T[\d:.]+Z,31\.5,31\.5\n$)")
                    .match(rows)
                    .hasMatch())
        << rows.toStdString();
    EXPECT_TRUE(png.readAll().startsWith("\x89PNG"));
    EXPECT_EQ(messages, QStringList{"The trend could not be saved to /sys/day.csv: Permission "
                                    "denied. Its readings are kept; choose another place."});
    EXPECT_EQ(readings.Size(), 2u);
    Click("trendClearButton");
    EXPECT_TRUE(readings.Empty());
}

// The log is saved in the kind its name says, and a save that fails says why and changes nothing;
// it is cleared, and searched from the keyboard.
TEST_F(ConsoleTest, TheFileMenuSavesClearsAndSearchesTheLog) {
    Open(false);
    Click("singleFilterRadio");  // the log takes the keyboard once a type is chosen
    QTemporaryDir folder;
    const std::pair<QString, const char*> saves[] = {
        {folder.filePath("bench"), "Plain text (*.txt)"},
        {folder.filePath("bench"), "HTML, in the log's colours (*.html)"},
        {"/sys/bench.txt", "Plain text (*.txt)"}};
    const QString before = Log();
    for (const auto& [typed, kind] : saves) {
        // Named again: clang before 16 cannot capture a structured binding in a lambda.
        const auto answer =
            AnswerModal<QFileDialog>([&, typed = typed, kind = kind](QFileDialog& chooser) {
                Choose(&chooser, "fileTypeCombo", kind);
                chooser.findChild<QLineEdit*>("fileNameEdit")->setText(typed);
                static_cast<QDialog&>(chooser).accept();
            });
        Find<QAction>("saveLogAction")->trigger();
    }
    QFile text(folder.filePath("bench.txt"));
    QFile html(folder.filePath("bench.html"));
    ASSERT_TRUE(text.open(QIODevice::ReadOnly) && html.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(text.readAll()), before);
    EXPECT_TRUE(html.readAll().contains("<span style=\"color: #ff8c00\">Orange Text</span>"));
    EXPECT_EQ(messages,
              QStringList{"The log could not be saved to /sys/bench.txt: Permission denied."});
    EXPECT_EQ(Log(), before);

    Find<QAction>("clearLogAction")->trigger();
    EXPECT_EQ(Log(), "");
    window->AppendLog("COM3 >> #0R\nCOM3 << OK\nCOM3 >> #0r\n", kLogSent);
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    auto* bar = Find("findBar");
    EXPECT_FALSE(bar->isVisible());
    QTest::keyClick(window.get(), Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(bar->isVisible());
    const std::pair<std::function<void()>, QString> keys[] = {
        {[&] { QTest::keyClicks(Find("findEdit"), "#0"); }, "1 of 2"},
        {[&] { QTest::keyClick(window.get(), Qt::Key_F3); }, "2 of 2"},
        {[&] { QTest::keyClick(window.get(), Qt::Key_F3); }, "1 of 2"},
        {[&] { QTest::keyClick(Find("findEdit"), Qt::Key_Return, Qt::ShiftModifier); }, "2 of 2"},
        {[&] { QTest::keyClick(window.get(), Qt::Key_F3, Qt::ShiftModifier); }, "1 of 2"},
        {[&] { QTest::keyClicks(Find("findEdit"), "x"); }, "Not found"}};
    for (const auto& [press, shows] : keys) {
        press();
        EXPECT_EQ(Find<QLabel>("findResultLabel")->text(), shows);
    }
    EXPECT_EQ(Find<QTextEdit>("terminal")->extraSelections().size(), 0);
    QTest::keyClick(Find("findEdit"), Qt::Key_Backspace);
    EXPECT_EQ(Find<QTextEdit>("terminal")->extraSelections().size(), 2);
    QTest::keyClick(Find("terminal"), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "#0");
    QTest::keyClick(Find("findEdit"), Qt::Key_Escape);
    EXPECT_FALSE(bar->isVisible());
    EXPECT_TRUE(window->isVisible()) << "Escape closes the bar, not the console";
    EXPECT_EQ(Find<QTextEdit>("terminal")->extraSelections().size(), 0);
}

// Every menu command opens its window modally: the tools without a parent, except the threshold
// tool, which sits over the console; the About box from the menu and from the window's own menu.
TEST(ConsoleMenu, EveryCommandOpensItsWindow) {
    CPravikDlg window;
    const std::tuple<const char*, QString, const char*> entries[] = {
        {"firmwareUpdaterAction", "&Utilities/&SmartMotor/&Firmware Updater",
         "CSmartMotorUtilitiesDlg"},
        {"saveOmegaSettingsAction",
         "&Utilities/&Omega Temp Controller/&Save Current Settings to File",
         "COmegaSettingsSaveDlg"},
        {"resetOmegaSettingsAction", "&Utilities/&Omega Temp Controller/&Reset to Default Settings",
         "COmegaSettingsResetDlg"},
        {"adjustLightSensorThresholdAction",
         "&Utilities/Shutter Controller/Adjust Light Sensor Threshold",
         "CShutterControllerLightSensorThresholdDlg"},
        {"aboutAction", "&Utilities/&Help/About", "CAboutDlg"},
        {"systemAboutAction", "&About Pravik...", "CAboutDlg"},
    };
    for (const auto& [name, path, opens] : entries) {
        SCOPED_TRACE(name);
        auto* action = window.findChild<QAction*>(name);
        ASSERT_NE(action, nullptr);
        QStringList titles = {action->text()};
        for (QObject* up = action->parent(); auto* menu = qobject_cast<QMenu*>(up);
             up = up->parent()) {
            titles.prepend(menu->title());
        }
        EXPECT_EQ(titles.join('/'), path);

        QString opened;
        bool modal = false;
        QWidget* parent = &window;
        QStringList texts;
        const auto answer = AnswerModal<QDialog>([&](QDialog& tool) {
            opened = tool.metaObject()->className();
            modal = tool.isModal();
            parent = tool.parentWidget();
            texts = {tool.windowTitle()};
            for (const QLabel* label : tool.findChildren<QLabel*>()) {
                texts << label->text();
            }
            tool.reject();
        });
        action->trigger();
        EXPECT_EQ(opened, opens);
        if (opened == "CAboutDlg") {
            // The version text itself, not "Version ...".
            EXPECT_EQ(texts.filter(QRegularExpression(R"(^\d+\.\d+\.\d+(\.[1-9]\d*)?$)")),
                      QStringList{QString::fromStdString(ProgramVersion())});
            EXPECT_TRUE(texts.contains("About Quelmar") && texts.contains("Pravik,"))
                << texts.join('|').toStdString();
        }
        EXPECT_TRUE(modal);
        EXPECT_EQ(parent, opened.contains("Threshold") ? &window : nullptr);
    }
    EXPECT_EQ(window.contextMenuPolicy(), Qt::ActionsContextMenu);
}

}  // namespace

#include "PravikDlgTest.moc"
