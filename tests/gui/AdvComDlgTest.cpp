// The COM settings dialog and the port drop-downs, driven through their widgets against simulated
// devices on a private port directory. Assertions about port entries name only test ports: the
// machine running the tests may have ports of its own.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QGroupBox>
#include <QPushButton>
#include <QStringList>
#include <memory>
#include <utility>
#include <vector>

#include "console/AdvComDlg.h"
#include "console/MessageBox.h"
#include "console/PortChoiceList.h"
#include "console/SerialComboBox.h"
#include "devices/SmartMotor.h"
#include "sim/SmartMotorSim.h"
#include "support/TestPortDirectory.h"

namespace {

using testing_support::kFirstTestPort;

const QString kSelectOne = "-- Select One --";
const QString kSuccess = "Success! Settings are correct.";
const QString kFailure = "Error! Connection to device failed.";
const QString kIncomplete = "Input error! Please make a selection for each setting.";

QStringList Entries(const QComboBox* list) {
    QStringList entries;
    for (int i = 0; i < list->count(); ++i) {
        entries << list->itemText(i);
    }
    return entries;
}

QString Com(int port) {
    return QString("COM%1").arg(port);
}

class AdvComDlg : public testing_support::PortDirectoryTest {
protected:
    void SetUp() override {
        PortDirectoryTest::SetUp();
        console::SetMessageBoxHandler([this](const console::MessageRequest& request) {
            messages << request.text;
            return QMessageBox::Ok;
        });
    }
    void TearDown() override {
        console::SetMessageBoxHandler({});
        motor.ClosePort();
        sim.reset();
        PortDirectoryTest::TearDown();
    }

    void StartMotor(int port = kFirstTestPort) {
        sim = std::make_unique<sim::CSmartMotorSim>(port, PortDir());
        ASSERT_TRUE(sim->Start());
    }
    // Shows the dialog on a record, as the console does before its modal run.
    void Show(const CommSettings& record) {
        dialog.Settings = record;
        dialog.TestDevice = &motor;
        dialog.show();
    }
    QComboBox* List(const char* name) {
        auto* list = dialog.findChild<QComboBox*>(name);
        EXPECT_NE(list, nullptr) << name;
        return list;
    }
    QPushButton* Button(const char* name) {
        auto* button = dialog.findChild<QPushButton*>(name);
        EXPECT_NE(button, nullptr) << name;
        return button;
    }
    QStringList Shown() {
        QStringList texts;
        for (const char* name : {"portList", "baudList", "dataBitsList", "parityList",
                                 "stopBitsList", "flowControlList"}) {
            texts << List(name)->currentText();
        }
        return texts;
    }
    void Choose(const char* list, const QString& text) {
        const int index = List(list)->findText(text);
        ASSERT_GE(index, 0) << text.toStdString();
        List(list)->setCurrentIndex(index);
    }

    QStringList messages;
    std::unique_ptr<sim::CSmartMotorSim> sim;
    // Declared before the dialog, which points at it.
    CSmartMotor motor;
    CAdvComDlg dialog;
};

TEST_F(AdvComDlg, ListsOfferTheirEntriesInTheirOwnOrder) {
    StartMotor();
    CSerialPort holder;  // another owner has this port: it cannot be tested, so it is not offered
    sim::CSmartMotorSim held(kFirstTestPort + 2, PortDir());
    ASSERT_TRUE(held.Start());
    ASSERT_TRUE(holder.Open(kFirstTestPort + 2, 9600, 0, 8, 0));

    Show(CommSettings{});
    EXPECT_EQ(dialog.windowTitle(), "Advanced COM Settings");
    ASSERT_NE(dialog.findChild<QGroupBox*>(), nullptr);
    EXPECT_EQ(dialog.findChild<QGroupBox*>()->title(), "Settings");

    const QStringList ports = Entries(List("portList"));
    ASSERT_FALSE(ports.isEmpty());
    EXPECT_EQ(ports.front(), kSelectOne);
    EXPECT_TRUE(ports.contains(Com(kFirstTestPort)));
    EXPECT_FALSE(ports.contains(Com(kFirstTestPort + 1))) << "nothing there";
    EXPECT_FALSE(ports.contains(Com(kFirstTestPort + 2))) << "held elsewhere";
    int previous = 0;
    for (qsizetype i = 1; i < ports.size(); ++i) {
        ASSERT_TRUE(ports[i].startsWith("COM")) << ports[i].toStdString();
        const int number = ports[i].mid(3).toInt();
        EXPECT_GT(number, previous) << "ascending, each once";
        EXPECT_LE(number, 256);
        previous = number;
    }

    EXPECT_EQ(Entries(List("baudList")), (QStringList{kSelectOne, "300", "2400", "9600", "14400",
                                                      "28800", "38400", "57600", "152000"}));
    EXPECT_EQ(Entries(List("dataBitsList")), (QStringList{kSelectOne, "5", "6", "7", "8"}));
    EXPECT_EQ(Entries(List("parityList")), (QStringList{kSelectOne, "None", "Even", "Odd"}));
    EXPECT_EQ(Entries(List("stopBitsList")), (QStringList{kSelectOne, "1", "1.5", "2"}));
    EXPECT_EQ(Entries(List("flowControlList")),
              (QStringList{kSelectOne, "None", "Xon/Xoff", "RTS/CTS"}));
    EXPECT_TRUE(holder.IsOpen());
}

TEST_F(AdvComDlg, TheRecordSelectsEntriesByNameNotByPosition) {
    StartMotor();
    // Parity 1 is "Odd" and 2 "Even", the other way round from the list.
    Show(CommSettings{kFirstTestPort, 57600, 7, 1, 1, 2});
    EXPECT_EQ(Shown(), (QStringList{Com(kFirstTestPort), "57600", "7", "Odd", "1.5", "RTS/CTS"}));
    dialog.hide();

    Show(CommSettings{kFirstTestPort, 38400, 5, 2, 2, 1});
    EXPECT_EQ(Shown(), (QStringList{Com(kFirstTestPort), "38400", "5", "Even", "2", "Xon/Xoff"}))
        << "each run starts from the record as it is then";
}

TEST_F(AdvComDlg, TextsThatMatchNoEntryShowSelectOneAndPrefixesMatchTheFirstEntry) {
    Show(CommSettings{0, 19200, 9, -1, -1, -1});
    EXPECT_EQ(Shown(), (QStringList{kSelectOne, kSelectOne, kSelectOne, kSelectOne, kSelectOne,
                                    kSelectOne}));
    dialog.hide();

    // The record's text need only begin an entry: baud 1 finds 14400; a name index past the
    // end stands for the first name.
    Show(CommSettings{kFirstTestPort + 50, 1, 8, 3, 7, 100});
    EXPECT_EQ(Shown(), (QStringList{kSelectOne, "14400", "8", "None", "1", "None"}));
    dialog.hide();

    Show(CommSettings{kFirstTestPort, 115200, 8, 0, 0, 0});
    EXPECT_EQ(List("baudList")->currentText(), kSelectOne) << "the list offers 152000, not 115200";
}

TEST_F(AdvComDlg, OkIsRefusedUntilEveryListHasAChoice) {
    StartMotor();
    const CommSettings record{0, 19200, 8, 2, 0, 0};
    Show(record);

    Button("okButton")->click();
    EXPECT_EQ(messages, QStringList{kIncomplete});
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.Settings, record) << "a refused OK converts nothing";

    Choose("portList", Com(kFirstTestPort));
    Button("okButton")->click();
    EXPECT_EQ(messages, (QStringList{kIncomplete, kIncomplete})) << "the baud rate is still open";
    EXPECT_TRUE(dialog.isVisible());

    Choose("baudList", "152000");
    Button("okButton")->click();
    EXPECT_EQ(messages.size(), 2);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.Settings, (CommSettings{kFirstTestPort, 152000, 8, 2, 0, 0}));
    EXPECT_TRUE(Button("okButton")->isDefault());
}

TEST_F(AdvComDlg, TestSettingsTriesTheChosenSettingsOnTheDeviceAndStaysOpen) {
    StartMotor();
    Show(CommSettings{kFirstTestPort, 9600, 8, 0, 0, 0});
    Choose("flowControlList", "Xon/Xoff");

    Button("testButton")->click();
    EXPECT_EQ(messages, QStringList{kSuccess});
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.Settings, (CommSettings{kFirstTestPort, 9600, 8, 0, 0, 1}));
    EXPECT_GE(sim->LinesSeen(), 1u) << "the motor was asked";
    EXPECT_FALSE(motor.IsOpen()) << "the test lets the port go again";
    EXPECT_EQ(motor.Settings, CommSettings{}) << "the device's own settings are not the record";
}

TEST_F(AdvComDlg, TestSettingsWithoutAPortFailsAndMakesNoSelectionCheck) {
    StartMotor();
    Show(CommSettings{0, 19200, 8, 1, 0, 0});
    Button("testButton")->click();
    EXPECT_EQ(messages, QStringList{kFailure});
    EXPECT_TRUE(dialog.isVisible());
    // The unchosen port and baud lists read as 0; the dialog's record now says so.
    EXPECT_EQ(dialog.Settings, (CommSettings{0, 0, 8, 1, 0, 0}));
    EXPECT_EQ(sim->LinesSeen(), 0u);

    dialog.TestDevice = nullptr;
    Choose("portList", Com(kFirstTestPort));
    Button("testButton")->click();
    EXPECT_EQ(messages, (QStringList{kFailure, kFailure})) << "no device to test is a failure";
}

class SerialComboBox : public testing_support::PortDirectoryTest {};

TEST_F(SerialComboBox, WithoutPortsThereIsNoEntryAndNoSelection) {
    CSerialComboBox list(std::vector<int>{});
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(list.currentIndex(), -1);
    EXPECT_EQ(list.GetSelectedPort(), -1);
}

TEST_F(SerialComboBox, ListsTheMachinesPortsHeldOrNotAndSelectsTheFirst) {
    sim::CSmartMotorSim idle(kFirstTestPort, PortDir());
    sim::CSmartMotorSim held(kFirstTestPort + 7, PortDir());
    ASSERT_TRUE(idle.Start());
    ASSERT_TRUE(held.Start());
    CSerialPort holder;
    ASSERT_TRUE(holder.Open(kFirstTestPort + 7, 9600, 0, 8, 0));

    CSerialComboBox list;
    const QStringList entries = Entries(&list);
    EXPECT_TRUE(entries.contains(Com(kFirstTestPort)));
    EXPECT_TRUE(entries.contains(Com(kFirstTestPort + 7))) << "a held port is still a port";
    EXPECT_FALSE(entries.contains(Com(kFirstTestPort + 1)));
    ASSERT_EQ(list.currentIndex(), 0);
    EXPECT_EQ(Com(list.GetSelectedPort()), entries.front());

    list.setCurrentIndex(static_cast<int>(entries.indexOf(Com(kFirstTestPort + 7))));
    EXPECT_EQ(list.GetSelectedPort(), kFirstTestPort + 7);
}

TEST_F(SerialComboBox, EntriesAreFilledInTheOrderGivenAndReadBackFromTheirText) {
    CSerialComboBox list(std::vector<int>{10, 2, 255});
    EXPECT_EQ(Entries(&list), (QStringList{"COM10", "COM2", "COM255"}));
    EXPECT_EQ(list.GetSelectedPort(), 10);

    // Text the owner put in by hand is read by the same rule: digits after the first three
    // characters, up to the first non-digit; none at all reads as 0.
    const std::pair<QString, int> cases[] = {{"COM12abc", 12}, {"COMx", 0}, {"CO", 0}};
    for (const auto& [text, port] : cases) {
        list.addItem(text);
        list.setCurrentIndex(list.count() - 1);
        EXPECT_EQ(list.GetSelectedPort(), port) << text.toStdString();
    }
}

// The tools' lists: whatever the ports, "-- Select One --" is entry 0 and chosen, and the ports
// follow in text order, spelt as the tool asks.
TEST(PortChoiceList, SelectOneLeadsThePortsInTextOrder) {
    const std::unique_ptr<QComboBox> list(MakePortChoiceList("Com%d", {10, 2, 255}, nullptr));
    EXPECT_EQ(Entries(list.get()), (QStringList{kSelectOne, "Com10", "Com2", "Com255"}));
    EXPECT_EQ(list->currentIndex(), 0);
    const std::unique_ptr<QComboBox> none(MakePortChoiceList("COM%d", {}, nullptr));
    EXPECT_EQ(Entries(none.get()), QStringList{kSelectOne});
    EXPECT_EQ(none->currentIndex(), 0);
}

}  // namespace
