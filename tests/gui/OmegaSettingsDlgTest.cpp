// The Omega save and reset tools driven through their widgets, offscreen, against a simulated
// controller on a private port directory. Runs go on the dialogs' own worker threads; the tests
// only ever wait by handling events, as the user-interface thread must.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <functional>
#include <memory>
#include <vector>

#include "console/MessageBox.h"
#include "tools/omega/OmegaSettingsResetDlg.h"
#include "tools/omega/OmegaSettingsSaveDlg.h"
#include "console/PravikDlg.h"
#include "devices/OmegaTempController.h"
#include "serial/SerialPort.h"
#include "sim/OmegaControllerSim.h"
#include "support/TestPortDirectory.h"
#include "tools/omega/RegisterTable.h"
#include "tools/omega/TempCtrlSettingsFile.h"

namespace {

using testing_support::kFirstTestPort;

const QString kSelectOne = "-- Select One --";
const QString kTitle = "Omega Temperature Controller Configuration";
constexpr int kControllerPort = kFirstTestPort;

// Replies within milliseconds: a read that never comes back costs little.
void Quick(COmegaTempController& controller) {
    controller.ReplyTimeout = 150;
    controller.ReadBackDelayMs = 1;
    controller.DecimalPointRetryDelayMs = 1;
    controller.EchoFixDelayMs = 1;
}

QString Com(int port) {
    return QString("COM%1").arg(port);
}

QStringList Entries(const QComboBox* list) {
    QStringList entries;
    for (int i = 0; i < list->count(); ++i) {
        entries << list->itemText(i);
    }
    return entries;
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class OmegaToolDlg : public testing_support::PortDirectoryTest {
protected:
    void SetUp() override {
        PortDirectoryTest::SetUp();
        ASSERT_TRUE(files.isValid());
        console::SetMessageBoxHandler([this](const console::MessageRequest& request) {
            messages.push_back(request);
            return QMessageBox::Ok;
        });
    }
    void TearDown() override {
        save.reset();
        reset.reset();
        console::SetMessageBoxHandler({});
        controller.reset();
        PortDirectoryTest::TearDown();
    }

    void StartController(int port = kControllerPort) {
        controller = std::make_unique<sim::COmegaControllerSim>(port, PortDir());
        ASSERT_TRUE(controller->Start());
    }
    void OpenSave() {
        save = std::make_unique<COmegaSettingsSaveDlg>();
        save->SetControllerTuning(Quick);
        save->show();
    }
    void OpenReset() {
        reset = std::make_unique<COmegaSettingsResetDlg>();
        reset->SetControllerTuning(Quick);
        reset->show();
    }
    template <typename T>
    static T* Find(QWidget* dialog, const char* name) {
        T* widget = dialog->findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    static void Choose(QWidget* dialog, const char* list, const QString& text) {
        auto* combo = Find<QComboBox>(dialog, list);
        const int index = combo->findText(text);
        ASSERT_GE(index, 0) << text.toStdString();
        combo->setCurrentIndex(index);
    }
    static void Click(QWidget* dialog, const char* button) {
        QTest::mouseClick(Find<QPushButton>(dialog, button), Qt::LeftButton);
    }
    static QString Text(QWidget* dialog, const char* label) {
        return Find<QLabel>(dialog, label)->text();
    }
    static bool Enabled(QWidget* dialog, const char* name) {
        return Find<QWidget>(dialog, name)->isEnabled();
    }
    // Calls step on the window's thread, inside the run's progress report, each time the bar
    // moves: what a user does while the run waits for the window.
    static void WhenProgressMoves(QWidget* dialog, std::function<void(int)> step) {
        QObject::connect(Find<QProgressBar>(dialog, "progressBar"), &QProgressBar::valueChanged,
                         dialog, std::move(step));
    }
    template <typename Dialog>
    static bool RunEnds(const Dialog& dialog) {
        return QTest::qWaitFor([&] { return !dialog.IsRunning(); }, 30000);
    }
    QStringList MessageTexts() const {
        QStringList texts;
        for (const auto& request : messages) {
            texts << request.text;
        }
        return texts;
    }
    void ExpectRegisters(const RegisterTable& table) {
        for (const RegisterEntry& entry : table) {
            EXPECT_EQ(controller->Register(entry.Register), entry.Value)
                << "register " << std::hex << entry.Register;
        }
    }

    QTemporaryDir files;
    std::vector<console::MessageRequest> messages;
    std::unique_ptr<sim::COmegaControllerSim> controller;
    std::unique_ptr<COmegaSettingsSaveDlg> save;
    std::unique_ptr<COmegaSettingsResetDlg> reset;
};

TEST_F(OmegaToolDlg, BothToolsOpenIdleOnTheirOwnPortLists) {
    StartController();
    // Someone else has this one: the save tool lists every port there is, the reset tool only
    // those it can open.
    sim::COmegaControllerSim other(kControllerPort + 1, PortDir());
    ASSERT_TRUE(other.Start());
    CSerialPort holder;
    ASSERT_TRUE(holder.Open(kControllerPort + 1, 9600, 0, 8, 0));

    OpenSave();
    OpenReset();
    for (QDialog* dialog : std::initializer_list<QDialog*>{save.get(), reset.get()}) {
        SCOPED_TRACE(dialog == save.get() ? "save" : "reset");
        EXPECT_EQ(dialog->windowTitle(), kTitle);
        EXPECT_EQ(Find<QGroupBox>(dialog, "settingsGroup")->title(), "Reset Settings");
        const QStringList ports = Entries(Find<QComboBox>(dialog, "portList"));
        ASSERT_FALSE(ports.isEmpty());
        EXPECT_EQ(ports.front(), kSelectOne);
        EXPECT_EQ(Find<QComboBox>(dialog, "portList")->currentIndex(), 0);
        EXPECT_TRUE(ports.contains(Com(kControllerPort)));
        EXPECT_FALSE(ports.contains(Com(kControllerPort + 2))) << "nothing there";
        QStringList sorted = ports;
        sorted.sort();
        EXPECT_EQ(ports, sorted);

        EXPECT_TRUE(Find<QLabel>(dialog, "statusText")->isHidden());
        EXPECT_EQ(Text(dialog, "statusText"), "Status");
        EXPECT_TRUE(Find<QLabel>(dialog, "percentText")->isHidden());
        EXPECT_EQ(Text(dialog, "percentText"), "0%");
        auto* progress = Find<QProgressBar>(dialog, "progressBar");
        EXPECT_TRUE(progress->isVisible());
        EXPECT_EQ(progress->minimum(), 0);
        EXPECT_EQ(progress->maximum(), 100);
        EXPECT_EQ(progress->value(), 0);
        EXPECT_FALSE(Enabled(dialog, "cancelButton"));
        EXPECT_TRUE(Enabled(dialog, "doneButton"));
    }
    EXPECT_TRUE(
        Entries(Find<QComboBox>(save.get(), "portList")).contains(Com(kControllerPort + 1)));
    EXPECT_FALSE(
        Entries(Find<QComboBox>(reset.get(), "portList")).contains(Com(kControllerPort + 1)));

    EXPECT_TRUE(Enabled(save.get(), "saveButton"));
    EXPECT_TRUE(Find<QLineEdit>(save.get(), "outputFileEdit")->text().isEmpty());

    EXPECT_TRUE(Enabled(reset.get(), "resetButton"));
    auto* factory = Find<QCheckBox>(reset.get(), "factoryDefaultsCheck");
    EXPECT_EQ(factory->text(), "Use Factory Default COM Settings");
    EXPECT_TRUE(factory->isEnabled());
    EXPECT_FALSE(factory->isChecked());
    auto* configurations = Find<QComboBox>(reset.get(), "configurationList");
    EXPECT_EQ(Entries(configurations),
              (QStringList{"RTD (Heat) Filterwheel", "RTD (Heat+Cool) Filterwheel",
                           "Thermocouple (Heat)", "Custom Settings File"}));
    EXPECT_EQ(configurations->currentIndex(), 0);
    EXPECT_FALSE(Enabled(reset.get(), "inputFileEdit"));
    EXPECT_TRUE(holder.IsOpen());
}

TEST_F(OmegaToolDlg, SaveWritesEveryRegisterToTheFileAndEndsIdle) {
    StartController();
    controller->SetRegister(0x0D, 0x63);
    OpenSave();
    const QString path = files.filePath("settings.txt");
    Choose(save.get(), "portList", Com(kControllerPort));
    Find<QLineEdit>(save.get(), "outputFileEdit")->setText(path);

    bool runningLooked = false;
    WhenProgressMoves(save.get(), [&](int) {
        runningLooked = !Enabled(save.get(), "saveButton") && Enabled(save.get(), "cancelButton") &&
                        Find<QLabel>(save.get(), "statusText")->isVisible() &&
                        Find<QLabel>(save.get(), "percentText")->isVisible();
    });
    Click(save.get(), "saveButton");
    ASSERT_TRUE(RunEnds(*save));

    EXPECT_TRUE(messages.empty()) << MessageTexts().join(" | ").toStdString();
    EXPECT_TRUE(runningLooked);
    const QList<QByteArray> lines = ReadAll(path).split('\n');
    ASSERT_EQ(lines.size(), 39);
    EXPECT_EQ(lines.front(), "Reg\tValue\t\tDescription\r");
    EXPECT_TRUE(lines.contains("0x0D\t0x63\t\tOutput 2 Configuration\r")) << "read, not assumed";
    EXPECT_EQ(lines.back(), "End of file");

    EXPECT_EQ(Text(save.get(), "statusText"), "Done.");
    EXPECT_EQ(Text(save.get(), "percentText"), "100%");
    EXPECT_EQ(Find<QProgressBar>(save.get(), "progressBar")->value(), 100);
    EXPECT_TRUE(Enabled(save.get(), "saveButton"));
    EXPECT_FALSE(Enabled(save.get(), "cancelButton"));
    EXPECT_TRUE(save->isVisible()) << "a finished run leaves the window open";
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the wait cursor is gone";
}

TEST_F(OmegaToolDlg, ResetWritesTheChosenConfigurationThenRestartsTheController) {
    StartController();
    OpenReset();
    Choose(reset.get(), "portList", Com(kControllerPort));
    Choose(reset.get(), "configurationList", "RTD (Heat+Cool) Filterwheel");

    // While it runs, nothing but "Cancel" can be used.
    std::vector<QString> usableWhileRunning;
    WhenProgressMoves(reset.get(), [&](int) {
        if (!usableWhileRunning.empty()) {
            return;
        }
        usableWhileRunning.push_back("checked");
        for (const char* name : {"resetButton", "doneButton", "portList", "factoryDefaultsCheck",
                                 "configurationList", "inputFileEdit"}) {
            if (Enabled(reset.get(), name)) {
                usableWhileRunning.push_back(name);
            }
        }
        if (!Enabled(reset.get(), "cancelButton")) {
            usableWhileRunning.push_back("cancel disabled");
        }
    });
    Click(reset.get(), "resetButton");
    ASSERT_TRUE(RunEnds(*reset));

    EXPECT_EQ(usableWhileRunning, std::vector<QString>{"checked"});
    EXPECT_TRUE(messages.empty()) << MessageTexts().join(" | ").toStdString();
    ExpectRegisters(omega::RtdHeatCoolFilterwheelTable());
    EXPECT_EQ(controller->Restarts(), 1u);
    EXPECT_EQ(Text(reset.get(), "statusText"), "Done.");
    EXPECT_EQ(Text(reset.get(), "percentText"), "100%");
    for (const char* name :
         {"resetButton", "doneButton", "portList", "factoryDefaultsCheck", "configurationList"}) {
        EXPECT_TRUE(Enabled(reset.get(), name)) << name;
    }
    EXPECT_FALSE(Enabled(reset.get(), "cancelButton"));
    EXPECT_FALSE(Enabled(reset.get(), "inputFileEdit"));
}

TEST_F(OmegaToolDlg, TheSettingsFileChoiceAloneTakesAPathAndResetsFromThatFile) {
    StartController();
    OpenReset();
    const QString path = files.filePath("thermocouple.txt");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(
            QByteArray::fromStdString(omega::FormatSettingsFile(omega::ThermocoupleHeatTable())));
    }
    auto* input = Find<QLineEdit>(reset.get(), "inputFileEdit");
    Choose(reset.get(), "configurationList", "Custom Settings File");
    EXPECT_TRUE(input->isEnabled());
    EXPECT_TRUE(Find<QToolButton>(input, "browseButton")->isEnabled());
    Choose(reset.get(), "configurationList", "Thermocouple (Heat)");
    EXPECT_FALSE(input->isEnabled());
    EXPECT_FALSE(Find<QToolButton>(input, "browseButton")->isEnabled());

    Choose(reset.get(), "configurationList", "Custom Settings File");
    input->setText(files.filePath("missing.txt"));
    Choose(reset.get(), "portList", Com(kControllerPort));
    Click(reset.get(), "resetButton");
    ASSERT_TRUE(RunEnds(*reset));
    EXPECT_EQ(MessageTexts(), QStringList{"Error opening input file."});
    EXPECT_TRUE(input->isEnabled()) << "idle again, still on the settings file choice";

    input->setText(path);  // typed: the browse button is not needed
    Click(reset.get(), "resetButton");
    ASSERT_TRUE(RunEnds(*reset));
    EXPECT_EQ(messages.size(), 1u) << MessageTexts().join(" | ").toStdString();
    ExpectRegisters(omega::ThermocoupleHeatTable());
    EXPECT_EQ(controller->Register(0x07), 0x04u);
    EXPECT_EQ(Text(reset.get(), "statusText"), "Done.");
}

TEST_F(OmegaToolDlg, ResetCancelLooksIdleAtOnceAndTheRunEndsWithErrors) {
    StartController();
    OpenReset();
    Choose(reset.get(), "portList", Com(kControllerPort));

    struct Seen {
        bool reset = false, cancel = true, done = true;
    } afterClick;
    bool clicked = false;
    WhenProgressMoves(reset.get(), [&](int value) {
        if (clicked || value < 10) {
            return;
        }
        clicked = true;
        Click(reset.get(), "cancelButton");
        afterClick = {Enabled(reset.get(), "resetButton"), Enabled(reset.get(), "cancelButton"),
                      Enabled(reset.get(), "doneButton")};
    });
    Click(reset.get(), "resetButton");
    ASSERT_TRUE(RunEnds(*reset));

    ASSERT_TRUE(clicked);
    EXPECT_TRUE(afterClick.reset);
    EXPECT_FALSE(afterClick.cancel);
    EXPECT_FALSE(afterClick.done) << "only the two buttons change before the run has stopped";
    ASSERT_EQ(MessageTexts(), QStringList{"Errors encountered!"});
    EXPECT_EQ(messages[0].caption, "Error");
    EXPECT_EQ(messages[0].icon, console::MessageIcon::Warning);
    EXPECT_EQ(messages[0].parent, nullptr);
    EXPECT_EQ(Text(reset.get(), "statusText"), "Done with Errors.");
    EXPECT_EQ(Find<QProgressBar>(reset.get(), "progressBar")->value(), 100);
    EXPECT_EQ(controller->Restarts(), 0u) << "a cancelled run does not restart the controller";
    EXPECT_TRUE(Enabled(reset.get(), "doneButton"));
    EXPECT_TRUE(Enabled(reset.get(), "resetButton"));
}

TEST_F(OmegaToolDlg, ClosingWhileARunIsGoingStopsTheRunBeforeTheWindowCloses) {
    StartController();
    OpenSave();
    const QString path = files.filePath("closed.txt");
    Choose(save.get(), "portList", Com(kControllerPort));
    Find<QLineEdit>(save.get(), "outputFileEdit")->setText(path);
    bool stillOpen = false;
    WhenProgressMoves(save.get(), [&](int value) {
        if (value >= 10 && !stillOpen) {
            save->close();  // the window's close box
            stillOpen = save->isVisible();
        }
    });
    Click(save.get(), "saveButton");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !save->isVisible(); }, 30000));
    EXPECT_TRUE(stillOpen) << "the window waits for the run";
    EXPECT_FALSE(save->IsRunning());
    EXPECT_EQ(save->result(), QDialog::Rejected);
    EXPECT_EQ(Text(save.get(), "statusText"), "Cancelled.");
    EXPECT_TRUE(QFile::exists(path));
    EXPECT_TRUE(ReadAll(path).isEmpty());

    // Esc in the reset tool, where "Done" is out of reach during a run.
    OpenReset();
    Choose(reset.get(), "portList", Com(kControllerPort));
    bool escaped = false;
    WhenProgressMoves(reset.get(), [&](int value) {
        if (value >= 10 && !escaped) {
            escaped = true;
            QTest::keyClick(reset.get(), Qt::Key_Escape);
        }
    });
    Click(reset.get(), "resetButton");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !reset->isVisible(); }, 30000));
    EXPECT_FALSE(reset->IsRunning());
    EXPECT_EQ(MessageTexts(), QStringList{"Errors encountered!"}) << "the user learns it stopped";
    EXPECT_EQ(controller->Restarts(), 0u);
}

TEST_F(OmegaToolDlg, DestroyingAWindowMidRunWaitsForTheRun) {
    StartController();
    OpenReset();
    Choose(reset.get(), "portList", Com(kControllerPort));
    // From the third register on the controller is silent: the run is stuck in its read-backs
    // when the window goes.
    bool silenced = false;
    WhenProgressMoves(reset.get(), [&](int value) {
        if (value >= 5 && !silenced) {
            silenced = true;
            controller->DropReplies(1000);
        }
    });
    Click(reset.get(), "resetButton");
    ASSERT_TRUE(QTest::qWaitFor([&] { return silenced; }, 30000));
    ASSERT_TRUE(reset->IsRunning());
    reset.reset();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back().text, "Errors encountered!");
    EXPECT_EQ(controller->Restarts(), 0u);
}

TEST_F(OmegaToolDlg, OutputFileBrowseOffersATextFileAndCancelKeepsThePath) {
    OpenSave();
    auto* field = Find<QLineEdit>(save.get(), "outputFileEdit");
    // Answers the chooser once it is up; it is modal, so this runs inside its own loop.
    const auto answer = [](const std::function<void(QFileDialog*)>& act) {
        auto* poll = new QTimer;
        QObject::connect(poll, &QTimer::timeout, poll, [poll, act] {
            if (auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                poll->deleteLater();
                act(chooser);
            }
        });
        poll->start(10);
    };

    QStringList filters;
    answer([&](QFileDialog* chooser) {
        filters = chooser->nameFilters();
        EXPECT_EQ(chooser->acceptMode(), QFileDialog::AcceptSave);
        EXPECT_FALSE(chooser->testOption(QFileDialog::DontConfirmOverwrite));
        chooser->selectFile(files.filePath("bench7"));
        static_cast<QDialog*>(chooser)->accept();  // as its Save button does
    });
    QTest::mouseClick(Find<QToolButton>(field, "browseButton"), Qt::LeftButton);
    EXPECT_EQ(filters, (QStringList{"Output File (*.txt)", "All Files (*)"}));
    EXPECT_EQ(field->text(), files.filePath("bench7.txt"));

    answer([](QFileDialog* chooser) { chooser->reject(); });
    QTest::mouseClick(Find<QToolButton>(field, "browseButton"), Qt::LeftButton);
    EXPECT_EQ(field->text(), files.filePath("bench7.txt"));
}

}  // namespace
