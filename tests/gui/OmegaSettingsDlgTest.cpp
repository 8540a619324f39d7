// The Omega save and reset windows, offscreen, against a simulated controller on a private port
// directory: what the windows add to their runs (the runs themselves are tested headless). Runs
// go on the windows' worker threads; the tests only ever wait by handling events, as the
// user-interface thread must.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <functional>
#include <memory>
#include <vector>

#include "console/MessageBox.h"
#include "devices/OmegaTempController.h"
#include "gui/AnswerModal.h"
#include "serial/SerialPort.h"
#include "sim/OmegaControllerSim.h"
#include "support/TestPortDirectory.h"
#include "console/omega/OmegaSettingsResetDlg.h"
#include "console/omega/OmegaSettingsSaveDlg.h"

namespace {

using testing_support::kFirstTestPort;

constexpr int kControllerPort = kFirstTestPort;
// Input Type: the register that tells the thermocouple configuration from the RTD ones.
constexpr uint32_t kInputType = 0x07;

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

class OmegaToolDlg : public testing_support::PortDirectoryTest {
protected:
    void SetUp() override {
        PortDirectoryTest::SetUp();
        ASSERT_TRUE(files.isValid());
        console::SetMessageBoxHandler([this](const console::MessageRequest& request) {
            messages.push_back(request);
            return QMessageBox::Ok;
        });
        controller = std::make_unique<sim::COmegaControllerSim>(kControllerPort, PortDir());
        ASSERT_TRUE(controller->Start());
    }
    void TearDown() override {
        save.reset();
        reset.reset();
        console::SetMessageBoxHandler({});
        controller.reset();
        PortDirectoryTest::TearDown();
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
    template <typename T = QWidget>
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
        return Find(dialog, name)->isEnabled();
    }
    // The named controls that are enabled.
    static QStringList Usable(QWidget* dialog, const QStringList& names) {
        QStringList usable;
        for (const QString& name : names) {
            if (Enabled(dialog, qPrintable(name))) {
                usable << name;
            }
        }
        return usable;
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

    QTemporaryDir files;
    std::vector<console::MessageRequest> messages;
    std::unique_ptr<sim::COmegaControllerSim> controller;
    std::unique_ptr<COmegaSettingsSaveDlg> save;
    std::unique_ptr<COmegaSettingsResetDlg> reset;
};

const QStringList kResetControls = {"resetButton",  "cancelButton",         "doneButton",
                                    "portList",     "factoryDefaultsCheck", "configurationList",
                                    "inputFileEdit"};
const QStringList kResetIdle = {"resetButton", "doneButton", "portList", "factoryDefaultsCheck",
                                "configurationList"};

TEST_F(OmegaToolDlg, TheSaveToolListsEveryPortAndTheResetToolOnlyThoseItCanOpen) {
    // Someone else has this one: a save may still mean it, a reset could not use it.
    sim::COmegaControllerSim other(kControllerPort + 1, PortDir());
    ASSERT_TRUE(other.Start());
    CSerialPort holder;
    ASSERT_TRUE(holder.Open(kControllerPort + 1, 9600, 0, 8, 0));

    OpenSave();
    OpenReset();
    auto* savePorts = Find<QComboBox>(save.get(), "portList");
    auto* resetPorts = Find<QComboBox>(reset.get(), "portList");
    EXPECT_EQ(savePorts->currentText(), "-- Select One --");
    EXPECT_EQ(resetPorts->currentText(), "-- Select One --");
    EXPECT_GE(savePorts->findText(Com(kControllerPort)), 0);
    EXPECT_GE(resetPorts->findText(Com(kControllerPort)), 0);
    EXPECT_GE(savePorts->findText(Com(kControllerPort + 1)), 0);
    EXPECT_LT(resetPorts->findText(Com(kControllerPort + 1)), 0);
    EXPECT_LT(savePorts->findText(Com(kControllerPort + 2)), 0) << "nothing there";

    EXPECT_FALSE(Enabled(save.get(), "cancelButton"));
    EXPECT_EQ(Usable(reset.get(), kResetControls), kResetIdle);
    EXPECT_TRUE(holder.IsOpen());
}

TEST_F(OmegaToolDlg, ASaveRunsOnTheWorkerWithOnlyCancelInReachAndEndsIdle) {
    OpenSave();
    const QString path = files.filePath("settings.txt");
    Choose(save.get(), "portList", Com(kControllerPort));
    Find<QLineEdit>(save.get(), "outputFileEdit")->setText(path);

    bool runningLooked = false;
    bool cursorWhileRunning = false;
    WhenProgressMoves(save.get(), [&](int) {
        runningLooked = !Enabled(save.get(), "saveButton") && Enabled(save.get(), "cancelButton") &&
                        Find(save.get(), "statusText")->isVisible() &&
                        Find(save.get(), "percentText")->isVisible();
        cursorWhileRunning = QApplication::overrideCursor() != nullptr;
    });
    Click(save.get(), "saveButton");
    EXPECT_TRUE(save->IsRunning()) << "the click returns while the run goes on";
    ASSERT_TRUE(RunEnds(*save));

    EXPECT_TRUE(messages.empty()) << MessageTexts().join(" | ").toStdString();
    EXPECT_TRUE(runningLooked);
    EXPECT_TRUE(cursorWhileRunning);
    EXPECT_TRUE(QFile::exists(path)) << "the typed path reached the run";
    EXPECT_EQ(Text(save.get(), "statusText"), "Done.");
    EXPECT_EQ(Text(save.get(), "percentText"), "100%");
    EXPECT_EQ(Find<QProgressBar>(save.get(), "progressBar")->value(), 100);
    EXPECT_TRUE(Enabled(save.get(), "saveButton"));
    EXPECT_FALSE(Enabled(save.get(), "cancelButton"));
    EXPECT_TRUE(save->isVisible()) << "a finished run leaves the window open";
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(OmegaToolDlg, AResetTakesItsChoicesFromTheControlsAndLocksThemWhileItRuns) {
    OpenReset();
    auto* input = Find<QLineEdit>(reset.get(), "inputFileEdit");
    // The path field is for the settings file choice alone.
    Choose(reset.get(), "configurationList", "Custom Settings File");
    EXPECT_TRUE(input->isEnabled());
    Choose(reset.get(), "configurationList", "Thermocouple (Heat)");
    EXPECT_FALSE(input->isEnabled());
    Choose(reset.get(), "portList", Com(kControllerPort));

    QStringList usableWhileRunning = {"not seen"};
    WhenProgressMoves(reset.get(), [&](int) {
        if (usableWhileRunning == QStringList{"not seen"}) {
            usableWhileRunning = Usable(reset.get(), kResetControls);
        }
    });
    Click(reset.get(), "resetButton");
    ASSERT_TRUE(RunEnds(*reset));
    EXPECT_EQ(usableWhileRunning, QStringList{"cancelButton"});
    EXPECT_TRUE(messages.empty()) << MessageTexts().join(" | ").toStdString();
    EXPECT_EQ(controller->Register(kInputType), 0x04u) << "the chosen configuration";
    EXPECT_EQ(controller->Restarts(), 1u);
    EXPECT_EQ(Usable(reset.get(), kResetControls), kResetIdle);

    // A settings file, its path typed: the field is back in reach once the run is over.
    const QString path = files.filePath("rtd.txt");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("Reg\tValue\t\tDescription\r\n0x07\t0x11\t\tInput Type\r\nEnd of file");
    }
    Choose(reset.get(), "configurationList", "Custom Settings File");
    input->setText(path);
    Click(reset.get(), "resetButton");
    ASSERT_TRUE(RunEnds(*reset));
    EXPECT_TRUE(messages.empty()) << MessageTexts().join(" | ").toStdString();
    EXPECT_EQ(controller->Register(kInputType), 0x11u);
    EXPECT_TRUE(input->isEnabled());

    // A file with a register the controller lacks: one message, and the window says where.
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("Reg\tValue\t\tDescription\r\n0x99\t0x12\tMystery\r\nEnd of file");
    }
    const uint64_t heard = controller->ReceivedCount();
    Click(reset.get(), "resetButton");
    ASSERT_TRUE(RunEnds(*reset));
    EXPECT_EQ(MessageTexts(), QStringList{"Error opening input file."});
    EXPECT_TRUE(Text(reset.get(), "statusText").startsWith("line 2: "));
    EXPECT_EQ(controller->ReceivedCount(), heard);
}

TEST_F(OmegaToolDlg, ResetCancelLooksIdleAtOnceAndTheRunEndsWithErrors) {
    OpenReset();
    Choose(reset.get(), "portList", Com(kControllerPort));

    QStringList usableAfterCancel;
    bool clicked = false;
    WhenProgressMoves(reset.get(), [&](int value) {
        if (clicked || value < 10) {
            return;
        }
        clicked = true;
        Click(reset.get(), "cancelButton");
        usableAfterCancel = Usable(reset.get(), kResetControls);
    });
    Click(reset.get(), "resetButton");
    ASSERT_TRUE(RunEnds(*reset));

    ASSERT_TRUE(clicked);
    EXPECT_EQ(usableAfterCancel, QStringList{"resetButton"})
        << "only the two buttons change before the run has stopped";
    ASSERT_EQ(MessageTexts(), QStringList{"Errors encountered!"});
    EXPECT_EQ(messages[0].caption, "Error");
    EXPECT_EQ(messages[0].icon, console::MessageIcon::Warning);
    EXPECT_EQ(messages[0].parent, nullptr);
    EXPECT_EQ(Text(reset.get(), "statusText"), "Done with Errors.");
    EXPECT_EQ(Usable(reset.get(), kResetControls), kResetIdle);
}

TEST_F(OmegaToolDlg, ClosingWhileARunIsGoingStopsTheRunBeforeTheWindowCloses) {
    OpenSave();
    Choose(save.get(), "portList", Com(kControllerPort));
    Find<QLineEdit>(save.get(), "outputFileEdit")->setText(files.filePath("closed.txt"));
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

TEST_F(OmegaToolDlg, OutputFileBrowseAsksForATextFileToWriteAndCancelKeepsThePath) {
    OpenSave();
    auto* field = Find<QLineEdit>(save.get(), "outputFileEdit");
    QStringList filters;
    bool confirmsOverwrite = false;
    {
        const auto answer = AnswerModal<QFileDialog>([&](QFileDialog& chooser) {
            filters = chooser.nameFilters();
            confirmsOverwrite = chooser.acceptMode() == QFileDialog::AcceptSave &&
                                !chooser.testOption(QFileDialog::DontConfirmOverwrite);
            auto* name = chooser.findChild<QLineEdit*>("fileNameEdit");
            ASSERT_NE(name, nullptr);
            name->setText(files.filePath("bench7"));  // typed without an extension
            static_cast<QDialog&>(chooser).accept();  // as its Save button does
        });
        QTest::mouseClick(Find<QToolButton>(field, "browseButton"), Qt::LeftButton);
    }
    EXPECT_EQ(filters, (QStringList{"Output File (*.txt)", "All Files (*)"}));
    EXPECT_TRUE(confirmsOverwrite);
    EXPECT_EQ(field->text(), files.filePath("bench7.txt"));

    const auto answer = AnswerModal<QFileDialog>([](QFileDialog& chooser) { chooser.reject(); });
    QTest::mouseClick(Find<QToolButton>(field, "browseButton"), Qt::LeftButton);
    EXPECT_EQ(field->text(), files.filePath("bench7.txt"));
}

}  // namespace
