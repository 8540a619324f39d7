// The Omega save and reset windows, offscreen, against a simulated controller: what they add to
// their runs, which are tested headless. The tests wait only by handling events.
#include <gmock/gmock.h>
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
#include <fstream>
#include <memory>

#include "console/omega/OmegaSettingsResetDlg.h"
#include "console/omega/OmegaSettingsSaveDlg.h"
#include "devices/OmegaTempController.h"
#include "gui/AnswerModal.h"
#include "gui/Controls.h"
#include "serial/SerialPort.h"
#include "sim/OmegaControllerSim.h"
#include "support/TestPortDirectory.h"
#include "tools/omega/RegisterTable.h"
#include "tools/omega/TempCtrlSettingsFile.h"

namespace {

using testing::HasSubstr;
using testing::StartsWith;

constexpr int kPort = testing_support::kFirstTestPort;
const QString kCom = QString("COM%1").arg(kPort);
std::string Com(int port) {
    return "COM" + std::to_string(port);
}

// Replies within milliseconds: a read that never comes back costs little. The line settings
// each run opens with are taken as it opens.
CommSettings openedWith;
void Quick(COmegaTempController& controller) {
    controller.ReplyTimeout = 150;
    controller.ReadBackDelayMs = 1;
    openedWith = controller.Settings;
}

const QStringList kSaveControls = {"saveButton", "cancelButton"};
const QStringList kResetControls = {"resetButton",  "cancelButton",         "doneButton",
                                    "portList",     "factoryDefaultsCheck", "configurationList",
                                    "inputFileEdit"};

class OmegaToolDlg : public testing_support::PortDirectoryTest, protected AnswersMessageBoxes {
protected:
    void SetUp() override {
        PortDirectoryTest::SetUp();
        ASSERT_TRUE(files.isValid());
        controller = std::make_unique<sim::COmegaControllerSim>(kPort, PortDir());
        ASSERT_TRUE(controller->Start());
    }
    void TearDown() override {
        save.reset();
        reset.reset();
        controller.reset();
        PortDirectoryTest::TearDown();
    }

    // A window with the controller's port chosen and a path typed: the save tool's file to
    // write, or the thermocouple configuration as a settings file for a controller fresh from
    // the factory.
    CWorkerDialog* Open(bool resetTool) {
        save = std::make_unique<COmegaSettingsSaveDlg>();
        reset = std::make_unique<COmegaSettingsResetDlg>();
        CWorkerDialog* dialog = resetTool ? static_cast<CWorkerDialog*>(reset.get()) : save.get();
        save->SetControllerTuning(Quick);
        reset->SetControllerTuning(Quick);
        dialog->show();
        Choose(dialog, "portList", kCom);
        auto* path = Find<QLineEdit>(dialog, resetTool ? "inputFileEdit" : "outputFileEdit");
        if (resetTool) {
            std::ofstream(settingsPath.toStdString(), std::ios::binary)
                << omega::FormatSettingsFile(omega::ThermocoupleHeatTable());
            EXPECT_FALSE(path->isEnabled()) << "for the settings file choice alone";
            Choose(dialog, "configurationList", "Custom Settings File");
            EXPECT_TRUE(path->isEnabled());
            Find<QCheckBox>(dialog, "factoryDefaultsCheck")->setChecked(true);
        }
        path->setText(resetTool ? settingsPath : savePath);
        return dialog;
    }

    QTemporaryDir files;
    const QString savePath = files.filePath("saved.txt");
    const QString settingsPath = files.filePath("thermocouple.txt");
    std::unique_ptr<sim::COmegaControllerSim> controller;
    std::unique_ptr<COmegaSettingsSaveDlg> save;
    std::unique_ptr<COmegaSettingsResetDlg> reset;
};

TEST_F(OmegaToolDlg, BothToolsListEveryPortInNumberOrderAndMarkOneHeldElsewhere) {
    // Someone else has this one: it stays listed, saying why it cannot be used.
    sim::COmegaControllerSim other(kPort + 1, PortDir());
    ASSERT_TRUE(other.Start());
    CSerialPort holder;
    ASSERT_TRUE(holder.Open(kPort + 1, 9600, 0, 8, 0));
    save = std::make_unique<COmegaSettingsSaveDlg>();
    reset = std::make_unique<COmegaSettingsResetDlg>();
    for (QWidget* dialog : std::initializer_list<QWidget*>{save.get(), reset.get()}) {
        auto* list = Find<QComboBox>(dialog, "portList");
        EXPECT_EQ(list->currentText(), "-- Select One --");
        EXPECT_EQ(EntryOf(list, kCom), 1);
        ASSERT_EQ(list->count(), 3);
        EXPECT_THAT(list->itemText(2).toStdString(),
                    AllOf(StartsWith(Com(kPort + 1) + "  "), HasSubstr("- in use by ")));
        EXPECT_THAT(list->itemData(2, Qt::ToolTipRole).toString().toStdString(),
                    HasSubstr("is in use"));
    }
    EXPECT_EQ(Enabled(save.get(), kSaveControls), QStringList{"saveButton"});
    EXPECT_EQ(Enabled(reset.get(), kResetControls),
              (QStringList{"resetButton", "doneButton", "portList", "factoryDefaultsCheck",
                           "configurationList"}));
    EXPECT_TRUE(holder.IsOpen());
}

// A run started from either window, and what the user does once the bar has reached 10 %.
enum Action { kNothing, kCancel, kDestroy };

struct WindowRun {
    const char* name;
    bool resetTool;
    Action action;
    QStringList usableAfterAction;
    bool done;       // the run went to its end
    QString status;  // at the end, where the window is still there
};

class OmegaWindowRuns : public OmegaToolDlg, public testing::WithParamInterface<WindowRun> {};

TEST_P(OmegaWindowRuns, GoOnTheWorkerWithTheControlsOutOfReachAndEndIdle) {
    const WindowRun& row = GetParam();
    CWorkerDialog* dialog = Open(row.resetTool);
    const QStringList& controls = row.resetTool ? kResetControls : kSaveControls;
    bool acted = false;
    bool lookedRunning = false;
    QStringList usable;
    // On the window's thread, inside the run's progress report: what a user does while the run
    // waits for the window.
    auto act = [&](int value) {
        if (acted || value < 10) {
            return;
        }
        acted = true;
        lookedRunning = QApplication::overrideCursor() != nullptr &&
                        Find(dialog, "statusText")->isVisible() &&
                        Find(dialog, "percentText")->isVisible();
        if (row.action == kCancel) {
            Click(dialog, "cancelButton");
        }
        usable = Enabled(dialog, controls);
    };
    QObject::connect(Find<QProgressBar>(dialog, "progressBar"), &QProgressBar::valueChanged, dialog,
                     act);
    Click(dialog, row.resetTool ? "resetButton" : "saveButton");
    EXPECT_TRUE(dialog->IsRunning()) << "the click returns while the run goes on";
    ASSERT_TRUE(QTest::qWaitFor([&] { return acted; }, 30000));
    if (row.action == kDestroy) {
        save.reset();
        reset.reset();
    } else {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog->IsRunning(); }, 30000));
        EXPECT_TRUE(dialog->isVisible()) << "a run that ends leaves the window open";
        EXPECT_EQ(Find<QLabel>(dialog, "statusText")->text(), row.status);
        EXPECT_EQ(Find<QLabel>(dialog, "percentText")->text(), "100%");
        QStringList idle = controls;
        idle.removeAll("cancelButton");
        EXPECT_EQ(Enabled(dialog, controls), idle);
    }
    EXPECT_TRUE(lookedRunning);
    EXPECT_EQ(usable, row.usableAfterAction);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    const bool resetFailed = row.resetTool && !row.done;
    EXPECT_EQ(messages, resetFailed ? QStringList{"Errors encountered!"} : QStringList{});
    EXPECT_EQ(QFile::exists(savePath), row.done && !row.resetTool) << "the path typed";
    EXPECT_EQ(controller->Restarts(), row.done && row.resetTool ? 1u : 0u);
    if (row.resetTool && row.done) {
        EXPECT_EQ(openedWith.DataBits, 7) << "the factory settings box";
        EXPECT_EQ(controller->Register(0x07), 0x04u) << "the configuration and file chosen";
    }
}

const WindowRun kWindowRuns[] = {
    {"SaveCompletes", false, kNothing, {"cancelButton"}, true, "Done."},
    {"SaveCancelled", false, kCancel, {"cancelButton"}, false, "Cancelled."},
    {"SaveWindowDestroyed", false, kDestroy, {"cancelButton"}, false, ""},
    {"ResetCompletes", true, kNothing, {"cancelButton"}, true, "Done."},
    // Cancel makes the window look idle at once, though the run stops only at its next
    // register.
    {"ResetCancelled", true, kCancel, {"resetButton"}, false, "Done with Errors."},
    {"ResetWindowDestroyed", true, kDestroy, {"cancelButton"}, false, ""},
};

INSTANTIATE_TEST_SUITE_P(Omega, OmegaWindowRuns, testing::ValuesIn(kWindowRuns),
                         [](const testing::TestParamInfo<WindowRun>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(OmegaToolDlg, OutputFileBrowseAsksForATextFileToWriteAndCancelKeepsThePath) {
    auto* field = Find<QLineEdit>(Open(false), "outputFileEdit");
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
