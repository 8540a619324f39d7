// What the firmware updater's window adds to the update run (tested headless on its own): its
// controls and their enabling, progress texts, message boxes, closing during a run. Offscreen,
// against a simulated motor; the tests wait only by handling events, as the window's thread must.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <vector>

#include "console/firmware/SmartMotorUtilitiesDlg.h"
#include "gui/AnswerModal.h"
#include "gui/Controls.h"
#include "serial/SerialPort.h"
#include "sim/SmartMotorSim.h"
#include "support/TestPortDirectory.h"
#include "tools/firmware/SerialSmiHost.h"

namespace {

using sim::CSmartMotorSim;
using testing_support::kFirstTestPort;

const QString kMotorPort = QString("Com%1").arg(kFirstTestPort);
const QString kSmiCaption = QString::fromWCharArray(kSmiErrorCaption);
const QStringList kIdle = {"portList", "firmwarePathEdit", "downloadButton", "closeButton"};
const QStringList kRunning = {"progress"};
const std::string kProgram(300, 'p');

// The simulated motor answers within milliseconds or not at all.
constexpr SmiTimeouts kShort{250, 1000, 1000, 600};

class FirmwareDlg : public testing_support::PortDirectoryTest, protected AnswersMessageBoxes {
protected:
    void SetUp() override {
        PortDirectoryTest::SetUp();
        motor = std::make_unique<CSmartMotorSim>(kFirstTestPort, PortDir());
        ASSERT_TRUE(motor->Start());
        std::ofstream(files.filePath("new.smx").toStdString()) << kProgram;
    }
    void TearDown() override {
        dialog.reset();
        motor.reset();
        PortDirectoryTest::TearDown();
    }

    // Opens the window; with choose, the motor's port and the firmware file are chosen.
    void Open(bool choose = true) {
        dialog = std::make_unique<CSmartMotorUtilitiesDlg>();
        dialog->SetHostFactory([] { return std::make_unique<CSerialSmiHost>(kShort); });
        dialog->show();
        if (choose) {
            Choose(dialog.get(), "portList", kMotorPort);
            Find<QLineEdit>("firmwarePathEdit")->setText(files.filePath("new.smx"));
        }
    }
    template <typename T = QWidget>
    T* Find(const char* name) {
        return ::Find<T>(dialog.get(), name);
    }
    // Presses "Download to SmartMotor" and handles events until the run is through.
    void Download() {
        QTest::mouseClick(Find<QPushButton>("downloadButton"), Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([this] { return !dialog->IsRunning(); }, 30000));
    }
    // Calls step on the window's thread, inside the host's progress report, each time the bar
    // moves, with the step being shown.
    void WhenProgressMoves(const std::function<void(const QString& step)>& step) {
        QObject::connect(Find<QProgressBar>("progressBar"), &QProgressBar::valueChanged,
                         dialog.get(),
                         [this, step](int) { step(Find<QLabel>("statusText")->text()); });
    }
    // What a user can see and reach: the controls enabled, then "progress" when the status
    // text, percentage and bar are shown (they go together: "part of the progress" is a fault).
    QStringList Controls() {
        QStringList seen;
        for (const char* name :
             {"portList", "firmwarePathEdit", "downloadButton", "closeButton", "restoreButton"}) {
            if (Find(name)->isEnabled()) {
                seen << name;
            }
        }
        int shown = 0;
        for (const char* name : {"statusText", "percentText", "progressBar"}) {
            shown += Find(name)->isHidden() ? 0 : 1;
        }
        if (shown > 0) {
            seen << (shown == 3 ? "progress" : "part of the progress");
        }
        return seen;
    }
    QTemporaryDir files;
    std::unique_ptr<CSmartMotorSim> motor;
    std::unique_ptr<CSmartMotorUtilitiesDlg> dialog;
};

TEST_F(FirmwareDlg, OpensIdleWithEveryPortAndAsksForWhatIsMissing) {
    // Someone else holds this motor's port: listed, marked, as the updater could not use it.
    CSmartMotorSim other(kFirstTestPort + 1, PortDir());
    ASSERT_TRUE(other.Start());
    CSerialPort holder;
    ASSERT_TRUE(holder.Open(kFirstTestPort + 1, 9600, 0, 8, 0));
    Open(false);
    auto* list = Find<QComboBox>("portList");
    EXPECT_EQ(list->currentText(), "-- Select One --");
    EXPECT_EQ(EntryOf(list, kMotorPort), 1) << "spelt \"Com\", as the host is given it";
    EXPECT_TRUE(list->itemText(2).contains("- in use by ")) << "held elsewhere";
    EXPECT_EQ(Controls(), kIdle) << "\"Restore from Backup\" is never offered";

    Find<QLineEdit>("firmwarePathEdit")->setText(files.filePath("new.smx"));
    Download();
    ASSERT_EQ(messages, QStringList{"Please select a Com port."});
    EXPECT_TRUE(boxes[0].caption.isEmpty()) << "a plain box, under the program's name";
    EXPECT_EQ(boxes[0].icon, console::MessageIcon::None);
    EXPECT_EQ(boxes[0].parent, dialog.get());
    // A motor that does not answer: the host's own words in the SMI error box.
    list->setCurrentIndex(EntryOf(list, kMotorPort));
    motor->DropReplies(100);
    Download();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].caption, kSmiCaption);
    EXPECT_EQ(boxes[1].icon, console::MessageIcon::Warning);
    EXPECT_EQ(boxes[1].parent, dialog.get());
    EXPECT_TRUE(boxes[1].text.contains("Detecting motors on " + kMotorPort));
    EXPECT_EQ(Controls(), kIdle + kRunning) << "ready again, the progress as it stood";
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(FirmwareDlg, ADownloadShowsEachStepOutOfReachAndClosingWaitsForItsEnd) {
    Open();
    std::set<QString> steps;
    std::set<QStringList> whileRunning;
    bool cursorWhileRunning = true;
    bool stillOpen = false;
    WhenProgressMoves([&](const QString& step) {
        steps.insert(step);
        whileRunning.insert(Controls());
        cursorWhileRunning = cursorWhileRunning && QApplication::overrideCursor() != nullptr;
        // A download cannot be called off half way: closing lets it finish first.
        if (!stillOpen && step == "Downloading new program...") {
            dialog->close();  // the close box
            QTest::keyClick(dialog.get(), Qt::Key_Escape);
            stillOpen = dialog->isVisible();
        }
    });
    QTest::mouseClick(Find<QPushButton>("downloadButton"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([this] { return !dialog->isVisible(); }, 30000));
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_EQ(messages, QStringList{"Download complete!"}) << "told before it closes";
    EXPECT_EQ(motor->StoredProgram(), kProgram) << "the chosen port and file";
    EXPECT_EQ(steps, (std::set<QString>{"Detecting motors...", "Backing up current program...",
                                        "Downloading new program..."}));
    EXPECT_EQ(whileRunning, std::set<QStringList>{kRunning});
    EXPECT_TRUE(cursorWhileRunning);
    // The end of the last step hid the progress again; the window was ready for another run.
    EXPECT_EQ(Find<QLabel>("percentText")->text(), "100%");
    EXPECT_EQ(Controls(), kIdle);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    // The next window offers the port and the file again.
    Open(false);
    EXPECT_EQ(Find<QComboBox>("portList")->currentIndex(),
              EntryOf(Find<QComboBox>("portList"), kMotorPort));
    EXPECT_EQ(Find<QLineEdit>("firmwarePathEdit")->text(), files.filePath("new.smx"));
}

}  // namespace
