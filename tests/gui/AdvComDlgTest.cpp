// The COM settings dialog and the port drop-downs, driven through their widgets against a
// simulated motor on a private port directory. Which ports a scan finds, and how the dialog's
// texts read as settings, is tested with the port list and the settings themselves.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QPushButton>
#include <QStringList>
#include <QTableWidget>
#include <memory>
#include <utility>
#include <vector>

#include "console/AdvComDlg.h"
#include "console/PortsDlg.h"
#include "devices/SmartMotor.h"
#include "gui/AnswerModal.h"
#include "gui/Controls.h"
#include "sim/SmartMotorSim.h"
#include "support/TestPortDirectory.h"

namespace {

using testing_support::kFirstTestPort;

const QString kSelectOne = "-- Select One --";
const QString kSuccess = "Success! Settings are correct.";
const QString kFailure = "Error! Connection to device failed.";
const QString kIncomplete = "Input error! Please make a selection for each setting.";
const QString kPort = QString("COM%1").arg(kFirstTestPort);

QStringList Entries(const QComboBox* list) {
    QStringList entries;
    for (int i = 0; i < list->count(); ++i) {
        entries << list->itemText(i);
    }
    return entries;
}

class AdvComDlg : public testing_support::PortDirectoryTest, protected AnswersMessageBoxes {
protected:
    void SetUp() override {
        PortDirectoryTest::SetUp();
        sim = std::make_unique<sim::CSmartMotorSim>(kFirstTestPort, PortDir());
        ASSERT_TRUE(sim->Start());
    }
    void TearDown() override {
        motor.ClosePort();
        sim.reset();
        PortDirectoryTest::TearDown();
    }
    // Shows the dialog on a record, as the console does before its modal run.
    void Show(const CommSettings& record) {
        dialog.hide();
        dialog.Settings = record;
        dialog.TestDevice = &motor;
        dialog.show();
    }
    QComboBox* List(const char* name) { return dialog.findChild<QComboBox*>(name); }
    void Press(const char* button) { dialog.findChild<QPushButton*>(button)->click(); }
    QStringList Shown() {
        QStringList texts;
        for (const char* name : {"portList", "baudList", "dataBitsList", "parityList",
                                 "stopBitsList", "flowControlList"}) {
            // A port's entry says more than its name: "COM201  pts/3  pseudo-terminal".
            const QString text = List(name)->currentText();
            texts << (text.startsWith("COM") ? text.section(' ', 0, 0) : text);
        }
        return texts;
    }
    void Choose(const char* list, const QString& text) { ::Choose(&dialog, list, text); }

    std::unique_ptr<sim::CSmartMotorSim> sim;
    // Declared before the dialog, which points at it.
    CSmartMotor motor;
    CAdvComDlg dialog;
};

TEST_F(AdvComDlg, ListsOfferTheirEntriesInTheirOwnOrder) {
    // Another owner has a port: it stays listed, marked, so that the person learns why.
    sim::CSmartMotorSim held(kFirstTestPort + 2, PortDir());
    CSerialPort holder;
    ASSERT_TRUE(held.Start() && holder.Open(kFirstTestPort + 2, 9600, 0, 8, 0));
    Show(CommSettings{});
    const QStringList ports = Entries(List("portList"));
    ASSERT_FALSE(ports.isEmpty());
    EXPECT_EQ(ports.front(), kSelectOne);
    EXPECT_EQ(EntryOf(List("portList"), kPort), 1);
    EXPECT_TRUE(ports.at(2).startsWith(QString("COM%1  ").arg(kFirstTestPort + 2)));
    EXPECT_TRUE(ports.at(2).contains("- in use"));
    EXPECT_EQ(Entries(List("baudList")), (QStringList{kSelectOne, "300", "2400", "9600", "14400",
                                                      "28800", "38400", "57600", "152000"}));
    EXPECT_EQ(Entries(List("dataBitsList")), (QStringList{kSelectOne, "5", "6", "7", "8"}));
    EXPECT_EQ(Entries(List("parityList")), (QStringList{kSelectOne, "None", "Even", "Odd"}));
    EXPECT_EQ(Entries(List("stopBitsList")), (QStringList{kSelectOne, "1", "1.5", "2"}));
    EXPECT_EQ(Entries(List("flowControlList")),
              (QStringList{kSelectOne, "None", "Xon/Xoff", "RTS/CTS"}));
}

// The Ports window: every port with its device, adapter and state; a port of the port folder is
// nobody's adapter, so it cannot be renumbered or forgotten.
TEST_F(AdvComDlg, ThePortsWindowShowsEachPortsStateAndRenumbersOnlyAdapters) {
    sim::CSmartMotorSim held(kFirstTestPort + 2, PortDir());
    CSerialPort holder;
    ASSERT_TRUE(held.Start() && holder.Open(kFirstTestPort + 2, 9600, 0, 8, 0));
    CPortsDlg ports;
    auto* table = ports.findChild<QTableWidget*>("portTable");
    ASSERT_EQ(table->rowCount(), 2);
    QStringList rows;
    for (int row = 0; row < 2; ++row) {
        rows << table->item(row, 0)->text() + " " + table->item(row, 2)->text() + " " +
                    table->item(row, 3)->text();
    }
    // Held by a port of this very program, which says so.
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0], kPort + " pseudo-terminal free");
    EXPECT_TRUE(
        rows[1].startsWith(QString("COM%1 pseudo-terminal in use by ").arg(kFirstTestPort + 2)));
    EXPECT_TRUE(rows[1].endsWith(QString(" (%1)").arg(QCoreApplication::applicationPid())));
    EXPECT_TRUE(table->item(1, 3)->toolTip().contains("in use"));
    table->selectRow(0);
    EXPECT_FALSE(ports.findChild<QPushButton*>("renumberButton")->isEnabled());
    EXPECT_FALSE(ports.findChild<QPushButton*>("forgetButton")->isEnabled());
}

// Each run starts from the record as it is then. Names are found by name, not by position
// (parity 1 is "Odd", 2 "Even", the other way round from the list); the record's text need only
// begin an entry (baud 1 finds 14400), and a name index past the end stands for the first name.
TEST_F(AdvComDlg, TheRecordSelectsEntriesByTheirText) {
    const std::pair<CommSettings, QStringList> rows[] = {
        {{kFirstTestPort, 57600, 7, 1, 1, 2}, {kPort, "57600", "7", "Odd", "1.5", "RTS/CTS"}},
        {{kFirstTestPort, 38400, 5, 2, 2, 1}, {kPort, "38400", "5", "Even", "2", "Xon/Xoff"}},
        {{0, 19200, 9, -1, -1, -1},
         {kSelectOne, kSelectOne, kSelectOne, kSelectOne, kSelectOne, kSelectOne}},
        {{kFirstTestPort + 50, 1, 8, 3, 7, 100}, {kSelectOne, "14400", "8", "None", "1", "None"}},
        {{kFirstTestPort, 115200, 8, 0, 0, 0}, {kPort, kSelectOne, "8", "None", "1", "None"}},
    };
    for (const auto& [record, shown] : rows) {
        Show(record);
        EXPECT_EQ(Shown(), shown);
    }
}

TEST_F(AdvComDlg, OkIsRefusedUntilEveryListHasAChoice) {
    const CommSettings record{0, 19200, 8, 2, 0, 0};
    Show(record);
    Press("okButton");
    Choose("portList", kPort);
    Press("okButton");
    EXPECT_EQ(messages, (QStringList{kIncomplete, kIncomplete})) << "the baud rate is still open";
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.Settings, record) << "a refused OK converts nothing";

    Choose("baudList", "152000");
    Press("okButton");
    EXPECT_EQ(messages.size(), 2);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.Settings, (CommSettings{kFirstTestPort, 152000, 8, 2, 0, 0}));
}

// The test tries the lists' settings, whatever they are (an unchosen port or baud rate reads as
// 0), and writes them into the record; the dialog stays open.
TEST_F(AdvComDlg, TestSettingsTriesTheChosenSettingsOnTheDevice) {
    Show(CommSettings{kFirstTestPort, 9600, 8, 0, 0, 0});
    Choose("flowControlList", "Xon/Xoff");
    Press("testButton");
    EXPECT_EQ(messages, QStringList{kSuccess});
    EXPECT_EQ(dialog.Settings, (CommSettings{kFirstTestPort, 9600, 8, 0, 0, 1}));
    EXPECT_GE(sim->LinesSeen(), 1u) << "the motor was asked";
    EXPECT_FALSE(motor.IsOpen()) << "the test lets the port go again";
    EXPECT_EQ(motor.Settings, CommSettings{}) << "the device's own settings are not the record";

    const uint64_t seen = sim->LinesSeen();
    Show(CommSettings{0, 19200, 8, 1, 0, 0});
    Press("testButton");
    EXPECT_EQ(dialog.Settings, (CommSettings{0, 0, 8, 1, 0, 0}));
    EXPECT_EQ(sim->LinesSeen(), seen);
    dialog.TestDevice = nullptr;
    Choose("portList", kPort);
    Press("testButton");
    EXPECT_EQ(messages, (QStringList{kSuccess, kFailure, kFailure})) << "no device: a failure";
    EXPECT_TRUE(dialog.isVisible());
}

}  // namespace
