#include "console/AdvComDlg.h"

#include <QApplication>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QStringList>
#include <QVBoxLayout>
#include <algorithm>
#include <array>

#include "console/MessageBox.h"
#include "console/PortListFill.h"
#include "console/PortWatch.h"
#include "console/WaitCursor.h"
#include "serial/SerialPort.h"
#include "serial/SerialPortList.h"

namespace {

// One more than EnumerateSerialPorts tries, as the console's own rescan does.
constexpr int kHighestScannedPort = 256;

// Shown in this order, but a record's index is always found by name in kParityNames.
const QStringList kParityEntries = {"None", "Even", "Odd"};

template <size_t N>
QStringList EntriesOf(const std::array<std::wstring_view, N>& names) {
    QStringList entries;
    for (std::wstring_view name : names) {
        entries << QString::fromWCharArray(name.data(), static_cast<qsizetype>(name.size()));
    }
    return entries;
}

// The text a name index stands for: the name at 0..2, the first name past the end, and nothing
// for a negative index.
template <size_t N>
QString NameText(const std::array<std::wstring_view, N>& names, int32_t index) {
    if (index < 0) {
        return {};
    }
    const size_t at = static_cast<size_t>(index) < N ? static_cast<size_t>(index) : 0;
    const std::wstring_view name = names[at];
    return QString::fromWCharArray(name.data(), static_cast<qsizetype>(name.size()));
}

// Selects the first entry that begins with text, case ignored; with no such entry the selection
// stays where it is.
void SelectString(QComboBox* list, const QString& text) {
    for (int i = 0; i < list->count(); ++i) {
        if (list->itemText(i).startsWith(text, Qt::CaseInsensitive)) {
            list->setCurrentIndex(i);
            return;
        }
    }
}

void Refill(QComboBox* list, const QStringList& entries) {
    list->clear();
    list->addItem(CAdvComDlg::kSelectOne);
    list->addItems(entries);
    list->setCurrentIndex(0);
}

}  // namespace

CAdvComDlg::CAdvComDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Advanced COM Settings");

    auto* group = new QGroupBox("Settings", this);
    auto* form = new QFormLayout;
    const auto addList = [&](const char* label, const char* name) {
        auto* list = new QComboBox(group);
        list->setObjectName(name);
        // Wide enough for "-- Select One --" whatever the list holds when the dialog opens.
        list->setMinimumContentsLength(16);
        list->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        auto* caption = new QLabel(label, group);
        caption->setBuddy(list);
        form->addRow(caption, list);
        return list;
    };
    port_ = addList("Port:", "portList");
    port_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    console::ExplainChoices(port_);
    console::RefillOnPortChanges(port_, [this] {
        console::FillPortList(port_, SurveyPorts(1, kHighestScannedPort), "COM", 1);
    });
    baud_ = addList("Bits per second:", "baudList");
    dataBits_ = addList("Data bits:", "dataBitsList");
    parity_ = addList("Parity:", "parityList");
    stopBits_ = addList("Stop bits:", "stopBitsList");
    flowControl_ = addList("Flow control:", "flowControlList");

    test_ = new QPushButton("Test Settings ...", group);
    test_->setObjectName("testButton");
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->addLayout(form);
    groupLayout->addWidget(test_, 0, Qt::AlignRight);

    ok_ = new QPushButton("OK", this);
    ok_->setObjectName("okButton");
    ok_->setDefault(true);
    cancel_ = new QPushButton("Cancel", this);
    cancel_->setObjectName("cancelButton");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addLayout(buttons);

    connect(test_, &QPushButton::clicked, this, &CAdvComDlg::OnTestSettings);
    connect(ok_, &QPushButton::clicked, this, &CAdvComDlg::accept);
    connect(cancel_, &QPushButton::clicked, this, &CAdvComDlg::reject);
}

void CAdvComDlg::showEvent(QShowEvent* event) {
    // A spontaneous show is the window system restoring us, not a new run.
    if (!event->spontaneous()) {
        Start();
    }
    QDialog::showEvent(event);
}

void CAdvComDlg::Start() {
    const QString baudText = QString::number(Settings.BaudRate);
    const QString dataBitsText = QString::number(Settings.DataBits);
    const QString parityText = NameText(kParityNames, Settings.Parity);
    const QString stopBitsText = NameText(kStopBitNames, Settings.StopBits);
    const QString flowControlText = NameText(kFlowControlNames, Settings.FlowControl);

    // Every port, the ones this program cannot open now marked with the reason: a port that
    // vanished from the list would leave the technician guessing why.
    Refill(port_, {});
    console::FillPortList(port_, SurveyPorts(1, kHighestScannedPort), "COM", 1);
    Refill(baud_, kBaudRates);
    Refill(dataBits_, kDataBits);
    Refill(parity_, kParityEntries);
    Refill(stopBits_, EntriesOf(kStopBitNames));
    Refill(flowControl_, EntriesOf(kFlowControlNames));

    // By number: "COM3" is the beginning of "COM33" too.
    port_->setCurrentIndex(std::max(console::IndexOfPort(port_, Settings.PortNumber), 0));
    SelectString(baud_, baudText);
    SelectString(dataBits_, dataBitsText);
    SelectString(parity_, parityText);
    SelectString(stopBits_, stopBitsText);
    SelectString(flowControl_, flowControlText);
}

CommSettings CAdvComDlg::ReadLists() const {
    return ParseCommSettings(
        port_->currentText().toStdWString(), baud_->currentText().toStdWString(),
        dataBits_->currentText().toStdWString(), parity_->currentText().toStdWString(),
        stopBits_->currentText().toStdWString(), flowControl_->currentText().toStdWString());
}

void CAdvComDlg::OnTestSettings() {
    // Deliberately no "-- Select One --" check: an unchosen port reads as port 0, which never
    // opens, and the technician learns that from the failed test.
    Settings = ReadLists();
    bool passed = false;
    QString why;
    if (TestDevice != nullptr) {
        // The test blocks this thread for up to the device's time-outs.
        CWaitCursor wait;
        TestDevice->ClearFailure();
        passed = TestDevice->TestCommSettings(Settings);
        why = passed ? QString() : QString::fromStdString(TestDevice->LastFailure().Text);
    }
    console::Tell(this,
                  passed ? "Success! Settings are correct." : "Error! Connection to device failed.",
                  why);
}

void CAdvComDlg::accept() {
    for (const QComboBox* list : {port_, baud_, dataBits_, parity_, stopBits_, flowControl_}) {
        if (list->currentText() == kSelectOne) {
            console::Tell(this, "Input error! Please make a selection for each setting.");
            return;
        }
    }
    Settings = ReadLists();
    QDialog::accept();
}
