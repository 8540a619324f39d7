// The firmware updater driven through its widgets, offscreen, against a simulated SmartMotor on
// a private port directory: what the window adds to the update, which is tested headless on its
// own. The update runs on the dialog's worker thread; the tests wait only by handling events, as
// the user-interface thread must.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <memory>
#include <set>
#include <vector>

#include "console/MessageBox.h"
#include "serial/SerialPort.h"
#include "sim/SmartMotorSim.h"
#include "support/TestPortDirectory.h"
#include "tools/firmware/SerialSmiHost.h"
#include "console/firmware/SmartMotorUtilitiesDlg.h"

namespace {

using sim::CSmartMotorSim;
using testing_support::kFirstTestPort;

const QString kMotorPort = QString("Com%1").arg(kFirstTestPort);
const QString kSmiCaption = QString::fromWCharArray(kSmiErrorCaption);

// The simulated motor answers within milliseconds or not at all.
constexpr SmiTimeouts kShort{250, 1000, 1000, 600};

// A program of every byte value but FF, which a motor's program never holds.
QByteArray MakeProgram(int size, int seed) {
    QByteArray program(size, '\0');
    for (int i = 0; i < size; ++i) {
        program[i] = static_cast<char>((i * 7 + seed) % 255);
    }
    return program;
}

class FirmwareDlg : public testing_support::PortDirectoryTest {
protected:
    void SetUp() override {
        PortDirectoryTest::SetUp();
        ASSERT_TRUE(files.isValid());
        console::SetMessageBoxHandler([this](const console::MessageRequest& request) {
            messages.push_back(request);
            return QMessageBox::Ok;
        });
        motor = std::make_unique<CSmartMotorSim>(kFirstTestPort, PortDir());
        ASSERT_TRUE(motor->Start());
        firmware = files.filePath("new.smx");
    }
    void TearDown() override {
        dialog.reset();
        console::SetMessageBoxHandler({});
        motor.reset();
        PortDirectoryTest::TearDown();
    }

    void Open(SmiTimeouts timeouts = kShort) {
        dialog = std::make_unique<CSmartMotorUtilitiesDlg>();
        dialog->SetHostFactory([timeouts] { return std::make_unique<CSerialSmiHost>(timeouts); });
        dialog->show();
    }
    template <typename T>
    T* Find(const char* name) {
        T* widget = dialog->findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    void Choose(const QString& port) {
        auto* list = Find<QComboBox>("portList");
        const int index = list->findText(port);
        ASSERT_GE(index, 0) << port.toStdString();
        list->setCurrentIndex(index);
    }
    void WriteFirmware(const QByteArray& program) {
        QFile file(firmware);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(program);
    }
    // Presses "Download to SmartMotor" and handles events until the run is through.
    void Download() {
        QTest::mouseClick(Find<QPushButton>("downloadButton"), Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([this] { return !dialog->IsRunning(); }, 30000));
    }
    // Calls step on the window's thread, inside the host's progress report, each time the bar
    // moves, with the step being shown.
    void WhenProgressMoves(std::function<void(const QString& step)> step) {
        QLabel* status = Find<QLabel>("statusText");
        QObject::connect(Find<QProgressBar>("progressBar"), &QProgressBar::valueChanged,
                         dialog.get(), [status, step](int) { step(status->text()); });
    }
    bool ProgressShown() {
        return Find<QLabel>("statusText")->isVisible() &&
               Find<QLabel>("percentText")->isVisible() &&
               Find<QProgressBar>("progressBar")->isVisible();
    }
    bool ProgressHidden() {
        return Find<QLabel>("statusText")->isHidden() && Find<QLabel>("percentText")->isHidden() &&
               Find<QProgressBar>("progressBar")->isHidden();
    }
    // The controls a user could reach during a run.
    QStringList Usable() {
        QStringList usable;
        for (const char* name :
             {"portList", "firmwarePathEdit", "downloadButton", "closeButton", "restoreButton"}) {
            if (Find<QWidget>(name)->isEnabled()) {
                usable << name;
            }
        }
        return usable;
    }
    QStringList MessageTexts() const {
        QStringList texts;
        for (const auto& request : messages) {
            texts << request.text;
        }
        return texts;
    }

    QTemporaryDir files;
    QString firmware;
    std::vector<console::MessageRequest> messages;
    std::unique_ptr<CSmartMotorSim> motor;
    std::unique_ptr<CSmartMotorUtilitiesDlg> dialog;
};

const QStringList kAllButRestore = {"portList", "firmwarePathEdit", "downloadButton",
                                    "closeButton"};

TEST_F(FirmwareDlg, OpensIdleListingOnlyThePortsItCanOpen) {
    // Someone else holds this motor's port: the updater could not use it, so does not offer it.
    CSmartMotorSim other(kFirstTestPort + 1, PortDir());
    ASSERT_TRUE(other.Start());
    CSerialPort holder;
    ASSERT_TRUE(holder.Open(kFirstTestPort + 1, 9600, 0, 8, 0));
    Open();

    // Spelt "Com", as the host is given it.
    auto* list = Find<QComboBox>("portList");
    EXPECT_EQ(list->currentText(), "-- Select One --");
    EXPECT_GE(list->findText(kMotorPort), 0);
    EXPECT_LT(list->findText(QString("Com%1").arg(kFirstTestPort + 1)), 0) << "held elsewhere";
    EXPECT_TRUE(holder.IsOpen());

    EXPECT_TRUE(ProgressHidden());
    EXPECT_EQ(Usable(), kAllButRestore) << "\"Restore from Backup\" is never offered";
}

TEST_F(FirmwareDlg, WithoutAPortOrAFileItAsksAndTheMotorHearsNothing) {
    Open();
    WriteFirmware(MakeProgram(10, 0));
    Find<QLineEdit>("firmwarePathEdit")->setText(firmware);
    Download();
    Choose(kMotorPort);
    Find<QLineEdit>("firmwarePathEdit")->clear();
    Download();

    EXPECT_EQ(MessageTexts(),
              (QStringList{"Please select a Com port.", "Please select a firmware file."}));
    for (const auto& request : messages) {
        EXPECT_TRUE(request.caption.isEmpty()) << "the program's name";
        EXPECT_EQ(request.icon, console::MessageIcon::None);
        EXPECT_EQ(request.parent, dialog.get());
    }
    EXPECT_EQ(motor->LinesSeen(), 0u);
    EXPECT_TRUE(ProgressHidden());
    EXPECT_EQ(Usable(), kAllButRestore);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(FirmwareDlg, ADownloadShowsEachStepWithTheControlsOutOfReachAndEndsReady) {
    const QByteArray fresh = MakeProgram(200, 3);
    WriteFirmware(fresh);
    Open();
    Choose(kMotorPort);
    Find<QLineEdit>("firmwarePathEdit")->setText(firmware);

    std::set<QString> steps;
    QStringList usableWhileRunning;
    bool shownWhileRunning = true;
    bool cursorWhileRunning = true;
    WhenProgressMoves([&](const QString& step) {
        steps.insert(step);
        usableWhileRunning << Usable();
        shownWhileRunning = shownWhileRunning && ProgressShown();
        cursorWhileRunning = cursorWhileRunning && QApplication::overrideCursor() != nullptr;
    });
    Download();

    EXPECT_EQ(MessageTexts(), QStringList{"Download complete!"});
    EXPECT_EQ(motor->StoredProgram(), fresh.toStdString()) << "the chosen port and file";

    for (const QString step :
         {"Detecting motors...", "Backing up current program...", "Downloading new program..."}) {
        EXPECT_EQ(steps.count(step), 1u) << step.toStdString();
    }
    EXPECT_TRUE(usableWhileRunning.isEmpty()) << usableWhileRunning.join(",").toStdString();
    EXPECT_TRUE(shownWhileRunning);
    EXPECT_TRUE(cursorWhileRunning);

    // The end of the last step hid the progress again; the window is ready for another run.
    EXPECT_TRUE(ProgressHidden());
    EXPECT_EQ(Find<QLabel>("percentText")->text(), "100%");
    EXPECT_EQ(Usable(), kAllButRestore);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(dialog->isVisible());
}

TEST_F(FirmwareDlg, ABrokenDownloadShowsTheHostsReasonAndLeavesTheProgressAsItStood) {
    WriteFirmware(MakeProgram(200, 9));
    motor->BreakDownloadAfter(64);  // the second block goes unacknowledged
    Open();
    Choose(kMotorPort);
    Find<QLineEdit>("firmwarePathEdit")->setText(firmware);
    Download();

    ASSERT_EQ(messages.size(), 1u) << MessageTexts().join(" | ").toStdString();
    EXPECT_EQ(messages[0].caption, kSmiCaption);
    EXPECT_EQ(messages[0].icon, console::MessageIcon::Warning);
    EXPECT_EQ(messages[0].parent, dialog.get());
    EXPECT_TRUE(messages[0].text.contains("stopped acknowledging")) << "the host's own words";

    // No end of step came: the download's progress is still on show.
    EXPECT_TRUE(ProgressShown());
    EXPECT_EQ(Find<QLabel>("statusText")->text(), "Downloading new program...");
    EXPECT_EQ(Usable(), kAllButRestore);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(FirmwareDlg, ClosingDuringARunLetsTheMotorFinishFirst) {
    const QByteArray fresh = MakeProgram(300, 4);
    WriteFirmware(fresh);
    Open();
    Choose(kMotorPort);
    Find<QLineEdit>("firmwarePathEdit")->setText(firmware);
    bool asked = false;
    bool stillOpen = false;
    WhenProgressMoves([&](const QString& step) {
        if (!asked && step == "Downloading new program...") {
            asked = true;
            dialog->close();  // the close box
            QTest::keyClick(dialog.get(), Qt::Key_Escape);
            stillOpen = dialog->isVisible();
        }
    });
    QTest::mouseClick(Find<QPushButton>("downloadButton"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([this] { return !dialog->isVisible(); }, 30000));
    EXPECT_TRUE(asked);
    EXPECT_TRUE(stillOpen);
    EXPECT_FALSE(dialog->IsRunning());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_EQ(MessageTexts(), QStringList{"Download complete!"}) << "told before it closes";
    EXPECT_EQ(motor->StoredProgram(), fresh.toStdString());

    // Destroyed outright while the host waits for a silent motor: the run is served to its end
    // before the window goes.
    Open(SmiTimeouts{1500, 1000, 1000, 600});
    Choose(kMotorPort);
    Find<QLineEdit>("firmwarePathEdit")->setText(firmware);
    motor->DropReplies(1000);
    QTest::mouseClick(Find<QPushButton>("downloadButton"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([this] { return ProgressShown(); }, 30000));
    ASSERT_TRUE(dialog->IsRunning());
    dialog.reset();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages.back().caption, kSmiCaption);
}

}  // namespace
