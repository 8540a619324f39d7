// The light-sensor threshold tool driven through its widgets, offscreen, against a simulated v3.0
// shutter controller. Manual operations block the test's thread as they block the window's; the
// search (tested headless on its own) runs on the window's worker, and the tests wait for it
// only by handling events.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <functional>
#include <memory>
#include <ostream>

#include "console/threshold/ShutterControllerLightSensorThresholdDlg.h"
#include "gui/AnswerModal.h"
#include "gui/Controls.h"
#include "serial/SerialPort.h"
#include "sim/ShutterControllerSim.h"
#include "support/TestPortDirectory.h"

// Readable failures: lists of control names rather than bytes.
void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

using sim::CShutterControllerSim;
using testing_support::kFirstTestPort;

// Every control: first those behind "Enable Advanced Controls" (those of a connection, then
// those that change the threshold), then the search's, then three that are enabled only while a
// search runs (Cancel) or never (the threshold displays).
const QStringList kAll =
    QString(
        "connectButton writeProtectButton openShutterButton closeShutterButton "
        "getButton reloadButton saveButton savedThresholdLabel "
        "activeThresholdLabel desiredThresholdLabel desiredThresholdEdit "
        "setButton minus6dBButton minus1Button plus1Button plus6dBButton "
        "portList runButton advancedCheck doneButton cancelButton "
        "savedThresholdEdit activeThresholdEdit")
        .split(' ');
const QStringList kConnected = kAll.mid(0, 5);
const QStringList kAdvanced = kAll.mid(0, 16);
const QStringList kSearch = kAll.mid(16, 4);

class ThresholdDlg : public testing_support::PortDirectoryTest, protected AnswersMessageBoxes {
protected:
    void SetUp() override {
        PortDirectoryTest::SetUp();
        box = std::make_unique<CShutterControllerSim>(kFirstTestPort, PortDir(),
                                                      CShutterControllerSim::Generation::V30);
        ASSERT_TRUE(box->Start());
        dialog = std::make_unique<CShutterControllerLightSensorThresholdDlg>();
        dialog->Device.ReplyTimeout = 150;
        dialog->Device.SettleDelayMs = 0;
        auto* ports = Find<QComboBox>("portList");
        ports->setCurrentIndex(EntryOf(ports, QString("COM%1").arg(kFirstTestPort)));
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    }
    void TearDown() override {
        dialog.reset();
        box.reset();
        PortDirectoryTest::TearDown();
    }

    template <typename T = QWidget>
    T* Find(const QString& name) {
        return ::Find<T>(dialog.get(), name);
    }
    void Click(const QString& name) { ::Click(dialog.get(), name); }
    QString Text(const QString& name) {
        if (auto* edit = dialog->findChild<QLineEdit*>(name)) {
            return edit->text();
        }
        return Find<QLabel>(name)->text();
    }
    QStringList Enabled(const QStringList& names) { return ::Enabled(dialog.get(), names); }
    bool Checked(const QString& name) { return Find<QAbstractButton>(name)->isChecked(); }
    // Calls act once, when the search's progress first reaches percent.
    void AtProgress(int percent, std::function<void()> act) {
        QObject::connect(Find<QProgressBar>("progressBar"), &QProgressBar::valueChanged,
                         dialog.get(),
                         [percent, act = std::move(act), done = false](int value) mutable {
                             if (value == percent && !done) {
                                 done = true;
                                 act();
                             }
                         });
    }

    std::unique_ptr<CShutterControllerSim> box;
    std::unique_ptr<CShutterControllerLightSensorThresholdDlg> dialog;
};

TEST_F(ThresholdDlg, AdvancedControlsFollowCheckBoxConnectionAndProtection) {
    EXPECT_EQ(Enabled(kAll), kSearch);
    EXPECT_EQ(Text("desiredThresholdEdit"), "0x0400");

    // A port someone else holds cannot be connected, and nothing stays open.
    {
        CSerialPort holder;
        ASSERT_TRUE(holder.Open(kFirstTestPort, 9600, 0, 8, 0));
        Click("advancedCheck");
        EXPECT_EQ(Enabled(kAdvanced), QStringList{"connectButton"});
        Click("connectButton");
        ASSERT_EQ(messages, QStringList{"Error connecting to shutter controller."});
        EXPECT_EQ(boxes.back().caption, "Error");
        EXPECT_EQ(boxes.back().icon, console::MessageIcon::Error);
        EXPECT_FALSE(Checked("connectButton"));
        EXPECT_EQ(dialog->Device.PortConnected, 0);
    }

    // Connecting protects the box and reads both thresholds.
    box->SetActiveThreshold(0x0812);
    box->SetSavedThreshold(0x0700);
    Click("connectButton");
    EXPECT_EQ(messages.size(), 1);
    EXPECT_TRUE(Checked("connectButton") && Checked("writeProtectButton"));
    EXPECT_EQ(Enabled(kAdvanced), kConnected);
    EXPECT_EQ(Text("activeThresholdEdit"), "0x0812");
    EXPECT_EQ(Text("savedThresholdEdit"), "0x0700");

    Click("writeProtectButton");
    EXPECT_FALSE(Checked("writeProtectButton"));
    EXPECT_EQ(Enabled(kAdvanced), kAdvanced);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !box->WriteProtected(); }, 5000));

    // Unchecking the box drops the connection and leaves the controller's protection alone.
    Click("advancedCheck");
    EXPECT_EQ(Enabled(kAdvanced), QStringList{});
    EXPECT_FALSE(dialog->Device.IsOpen());
    EXPECT_EQ(dialog->Device.PortConnected, 0);
    EXPECT_FALSE(box->WriteProtected());
    Click("advancedCheck");
    EXPECT_FALSE(Checked("connectButton"));
    EXPECT_EQ(Enabled(kAdvanced), QStringList{"connectButton"});
}

TEST_F(ThresholdDlg, ManualStepsSetSaveReloadAndTheDesiredValueIsReadOnFocusLoss) {
    box->SetActiveThreshold(0x0801);
    box->SetSavedThreshold(0x0600);
    Click("advancedCheck");
    Click("connectButton");
    Click("writeProtectButton");

    Click("plus1Button");
    EXPECT_EQ(Text("activeThresholdEdit"), "0x0802");
    Click("minus6dBButton");
    EXPECT_EQ(Text("activeThresholdEdit"), "0x0401");

    // Leaving the edit rewrites what was typed as the value it reads as; nothing readable keeps
    // the last value.
    auto* desired = Find<QLineEdit>("desiredThresholdEdit");
    for (const auto& [typed, shown] : {std::pair{"abc", "0x0ABC"}, std::pair{"", "0x0ABC"}}) {
        desired->setFocus();
        desired->setText(typed);
        Find("getButton")->setFocus();
        EXPECT_EQ(desired->text(), shown) << typed;
    }
    Click("setButton");
    EXPECT_EQ(box->ActiveThreshold(), 0x0ABC);
    EXPECT_EQ(Text("activeThresholdEdit"), "0x0ABC");
    Click("saveButton");
    EXPECT_EQ(box->SavedThreshold(), 0x0ABC);
    EXPECT_EQ(Text("savedThresholdEdit"), "0x0ABC");
    box->SetActiveThreshold(0x0900);
    Click("reloadButton");
    EXPECT_EQ(Text("activeThresholdEdit"), "0x0ABC");

    Click("closeShutterButton");
    EXPECT_EQ(box->ShutterState(), 0);
    Click("openShutterButton");
    EXPECT_EQ(box->ShutterState(), 1);
    EXPECT_TRUE(messages.empty()) << messages.join(" | ").toStdString();

    // A box that stops answering threshold queries: the failure is named, nothing else moves.
    box->SetThresholdQueryMute(true);
    Click("getButton");
    EXPECT_EQ(messages, QStringList{"Error getting active threshold."});
    EXPECT_EQ(Text("activeThresholdEdit"), "0x0ABC");
    box->SetThresholdQueryMute(false);

    // Disconnecting leaves the box protected; closing the window later sends nothing more.
    Click("connectButton");
    EXPECT_FALSE(dialog->Device.IsOpen());
    ASSERT_TRUE(QTest::qWaitFor([&] { return box->WriteProtected(); }, 5000));
    Click("connectButton");
    Click("writeProtectButton");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !box->WriteProtected(); }, 5000));
    const uint64_t seen = box->CommandsSeen();
    Click("doneButton");
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_FALSE(dialog->Device.IsOpen());
    EXPECT_EQ(box->CommandsSeen(), seen);
    EXPECT_FALSE(box->WriteProtected());
}

TEST_F(ThresholdDlg, ASearchLocksTheControlsThatSendAndReportsInASuccessBox) {
    box->SetLightLevel(0x0830);
    Click("advancedCheck");
    Click("connectButton");
    QStringList usableWhileSearching = {"not seen"};
    AtProgress(5, [&] { usableWhileSearching = Enabled(kAll); });
    Click("runButton");
    EXPECT_TRUE(dialog->IsRunning()) << "the click returns while the search goes on";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog->IsRunning(); }, 60000));

    EXPECT_EQ(usableWhileSearching, (QStringList{"doneButton", "cancelButton"}));
    ASSERT_EQ(messages, QStringList{"Threshold setting was found (0x0830)"});
    EXPECT_EQ(boxes.back().caption, "Success");
    EXPECT_EQ(boxes.back().icon, console::MessageIcon::Information);
    EXPECT_EQ(Text("statusText"), "Configuration complete. Threshold = 0x0830");
    EXPECT_EQ(Text("percentText"), "100%");
    // A search started on the user's connection leaves it open, and protected as it was.
    EXPECT_TRUE(dialog->Device.IsOpen());
    EXPECT_TRUE(Checked("connectButton") && Checked("writeProtectButton"));
    EXPECT_EQ(Enabled(kAll), kConnected + kSearch);
}

TEST_F(ThresholdDlg, ClosingOrDestroyingDuringASearchStopsItFirst) {
    bool stillOpen = false;
    AtProgress(6, [&] {
        Click("doneButton");
        stillOpen = dialog->isVisible();
    });
    Click("runButton");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog->isVisible(); }, 30000));
    EXPECT_TRUE(stillOpen) << "the window waits for the search";
    EXPECT_FALSE(dialog->IsRunning());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_TRUE(messages.empty()) << "cancelled, not finished: a cancel is silent";
    EXPECT_FALSE(dialog->Device.IsOpen());

    // The window goes while the search waits on a box that has fallen silent.
    dialog->show();
    bool silenced = false;
    AtProgress(7, [&] {
        silenced = true;
        box->DropReplies(1000);
    });
    Click("runButton");
    ASSERT_TRUE(QTest::qWaitFor([&] { return silenced; }, 30000));
    ASSERT_TRUE(dialog->IsRunning());
    dialog.reset();
    EXPECT_TRUE(messages.empty());
}

}  // namespace
