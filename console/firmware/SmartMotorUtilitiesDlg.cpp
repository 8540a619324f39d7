#include "console/firmware/SmartMotorUtilitiesDlg.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <vector>

#include "console/GuiThreadCall.h"
#include "console/MessageBox.h"
#include "console/PortChoiceList.h"
#include "console/Remembered.h"
#include "console/RunProgressWidgets.h"
#include "console/firmware/SMFirmwarePathCtrl.h"
#include "serial/SerialPortList.h"

namespace {

// The port list offers every port from 1 to this that the updater can open for itself.
constexpr int kHighestListedPort = 256;

// Room for the longest step text, so the window does not change size as the steps go by.
int WidestStepText(const QFontMetrics& metrics) {
    int widest = 0;
    for (int32_t code = 0; code <= 9; ++code) {
        if (const wchar_t* text = CFirmwareProgress::StepText(code)) {
            widest = std::max(widest, metrics.horizontalAdvance(QString::fromWCharArray(text)));
        }
    }
    return widest;
}

}  // namespace

CSmartMotorUtilitiesDlg::CSmartMotorUtilitiesDlg(QWidget* parent) : CWorkerDialog(parent) {
    setWindowTitle("SmartMotor Firmware Updater");

    auto* group = new QGroupBox("Firmware Update", this);
    group->setObjectName("firmwareGroup");

    // The port's text goes to the SMI host as it stands, spelt as the host knows it.
    port_ = MakePortChoiceList("Com", 1, kHighestListedPort, group);
    auto* portLabel = new QLabel("Com Port:", group);
    portLabel->setBuddy(port_);

    firmwarePath_ = new CSMFirmwarePathCtrl(group);
    firmwarePath_->setObjectName("firmwarePathEdit");
    firmwarePath_->setMinimumWidth(340);
    auto* pathLabel = new QLabel("SmartMotor Firmware File Path:", group);
    pathLabel->setBuddy(firmwarePath_);

    download_ = new QPushButton("Download to SmartMotor", group);
    download_->setObjectName("downloadButton");
    restore_ = new QPushButton("Restore from Backup", group);
    restore_->setObjectName("restoreButton");
    // Never enabled: a backup goes back into a motor as any program file does, chosen as the
    // firmware file.
    restore_->setEnabled(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(download_);
    buttons->addWidget(restore_);

    const RunProgressWidgets progress = MakeRunProgressWidgets(
        group, [](const QFontMetrics& metrics) { return WidestStepText(metrics) + 8; }, false);
    status_ = progress.status;
    percent_ = progress.percent;
    progressBar_ = progress.bar;
    progressBar_->hide();

    auto* grid = new QGridLayout(group);
    grid->addWidget(portLabel, 0, 0);
    grid->addWidget(port_, 0, 1, Qt::AlignLeft);
    grid->addWidget(pathLabel, 1, 0);
    grid->addWidget(firmwarePath_, 1, 1, 1, 2);
    grid->addLayout(buttons, 2, 0, 1, 3);
    grid->addWidget(status_, 3, 0, 1, 2);
    grid->addWidget(percent_, 3, 2);
    grid->addWidget(progressBar_, 4, 0, 1, 3);
    grid->setColumnStretch(1, 1);

    close_ = new QPushButton("Close", this);
    close_->setObjectName("closeButton");
    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(close_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addLayout(bottom);

    console::RememberToolChoices(this, "FirmwareUpdater", port_, firmwarePath_);

    connect(download_, &QPushButton::clicked, this, &CSmartMotorUtilitiesDlg::OnDownload);
    connect(close_, &QPushButton::clicked, this, &CSmartMotorUtilitiesDlg::reject);
}

void CSmartMotorUtilitiesDlg::OnDownload() {
    if (IsRunning()) {
        return;
    }
    SetRunning(true);
    StartRun([this, factory = hostFactory_] { RunFirmwareUpdate(*this, factory); });
}

void CSmartMotorUtilitiesDlg::SetRunning(bool running) {
    for (QWidget* control :
         std::initializer_list<QWidget*>{port_, firmwarePath_, download_, close_}) {
        control->setEnabled(!running);
    }
}

void CSmartMotorUtilitiesDlg::ShowProgress() {
    const FirmwareProgressDisplay& display = progress_.Display();
    status_->setText(QString::fromStdWString(display.StatusText));
    percent_->setText(QString::fromStdWString(display.PercentText));
    progressBar_->setValue(display.BarPosition);
    for (QWidget* control : std::initializer_list<QWidget*>{status_, percent_, progressBar_}) {
        control->setVisible(display.Visible);
    }
}

int CSmartMotorUtilitiesDlg::SelectedPortIndex() {
    return CurrentIndexOf(port_);
}

std::wstring CSmartMotorUtilitiesDlg::SelectedPortText() {
    return CurrentPortNameOf(port_);
}

std::wstring CSmartMotorUtilitiesDlg::FirmwarePath() {
    return TextOf(firmwarePath_);
}

void CSmartMotorUtilitiesDlg::SetWaitCursor(bool on) {
    console::CallOnThreadOf(this, [this, on] { ShowWaitCursor(on); });
}

void CSmartMotorUtilitiesDlg::ShowMessage(const std::wstring& text, platform::MessageStyle style) {
    messages_.ShowMessage(text, style);
}

void CSmartMotorUtilitiesDlg::ShowSmiError(const std::wstring& description) {
    console::CallOnThreadOf(this, [&] {
        console::MessageRequest request;
        request.parent = this;
        request.text = QString::fromStdWString(description);
        request.caption = QString::fromWCharArray(kSmiErrorCaption);
        request.icon = console::MessageIcon::Warning;  // the exclamation mark
        console::ShowMessage(request);
    });
}

void CSmartMotorUtilitiesDlg::OnSmiNotification(int32_t code, int32_t value) {
    // The host waits for this before it goes on, so the controls show each step as it happens.
    console::CallOnThreadOf(this, [this, code, value] {
        if (progress_.Apply(code, value)) {
            ShowProgress();
        }
    });
}
