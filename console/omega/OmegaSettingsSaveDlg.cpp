#include "console/omega/OmegaSettingsSaveDlg.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <vector>

#include "console/GuiThreadCall.h"
#include "console/PortChoiceList.h"
#include "console/RunProgressWidgets.h"
#include "serial/SerialPortList.h"
#include "console/omega/OmegaSettingsOutputFileBrowseCtrl.h"

COmegaSettingsSaveDlg::COmegaSettingsSaveDlg(QWidget* parent) : CWorkerDialog(parent) {
    setWindowTitle("Omega Temperature Controller Configuration");

    auto* group = new QGroupBox("Reset Settings", this);
    group->setObjectName("settingsGroup");

    // Every port there is, held by someone else or not: the technician may mean any of them.
    std::vector<int> ports;
    EnumerateSerialPorts(ports);
    port_ = MakePortChoiceList("COM%d", ports, group);
    auto* portLabel = new QLabel("Com Port:", group);
    portLabel->setBuddy(port_);

    outputFile_ = new COmegaSettingsOutputFileBrowseCtrl(group);
    outputFile_->setObjectName("outputFileEdit");
    outputFile_->setMinimumWidth(320);
    auto* outputLabel = new QLabel("Output File:", group);
    outputLabel->setBuddy(outputFile_);

    save_ = new QPushButton("Save Settings", group);
    save_->setObjectName("saveButton");
    cancelButton_ = new QPushButton("Cancel", group);
    cancelButton_->setObjectName("cancelButton");
    cancelButton_->setEnabled(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(save_);
    buttons->addWidget(cancelButton_);

    // Room for the longest step, longer than any "Getting <register> ..."; the window does not
    // grow with the text.
    const RunProgressWidgets progress = MakeRunProgressWidgets(
        group,
        [](const QFontMetrics& metrics) {
            return metrics.horizontalAdvance("Connecting to temperature controller ...") + 8;
        },
        true);
    status_ = progress.status;
    percent_ = progress.percent;
    progress_ = progress.bar;

    auto* grid = new QGridLayout(group);
    grid->addWidget(portLabel, 0, 0);
    grid->addWidget(port_, 0, 1, Qt::AlignLeft);
    grid->addWidget(outputLabel, 1, 0);
    grid->addWidget(outputFile_, 1, 1, 1, 2);
    grid->addLayout(buttons, 2, 0, 1, 3);
    grid->addWidget(status_, 3, 0, 1, 2);
    grid->addWidget(percent_, 3, 2);
    grid->addWidget(progress_, 4, 0, 1, 3);
    grid->setColumnStretch(1, 1);

    done_ = new QPushButton("Done", this);
    done_->setObjectName("doneButton");
    done_->setDefault(true);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(done_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addLayout(bottom);

    connect(save_, &QPushButton::clicked, this, &COmegaSettingsSaveDlg::OnSaveSettings);
    connect(cancelButton_, &QPushButton::clicked, this, &COmegaSettingsSaveDlg::OnCancel);
    connect(done_, &QPushButton::clicked, this, &COmegaSettingsSaveDlg::accept);
}


void COmegaSettingsSaveDlg::OnSaveSettings() {
    StartRun([this, tuning = tuning_] { RunSettingsSave(*this, tuning); });
}

void COmegaSettingsSaveDlg::OnCancel() {
    cancel_.Set();
}

int COmegaSettingsSaveDlg::SelectedPortIndex() {
    return CurrentIndexOf(port_);
}

std::wstring COmegaSettingsSaveDlg::SelectedPortText() {
    return CurrentTextOf(port_);
}

std::filesystem::path COmegaSettingsSaveDlg::OutputPath() {
    return PathIn(outputFile_);
}

void COmegaSettingsSaveDlg::SetRunning(bool running) {
    console::CallOnThreadOf(this, [this, running] {
        if (running) {
            status_->show();
            percent_->show();
            progress_->show();
        }
        save_->setEnabled(!running);
        cancelButton_->setEnabled(running);
        ShowWaitCursor(running);
    });
}

void COmegaSettingsSaveDlg::SetProgress(double percent, const std::wstring& text) {
    console::CallOnThreadOf(this, [&] {
        const double shown = std::isfinite(percent) ? std::clamp(percent, 0.0, 100.0) : 0.0;
        progress_->setValue(static_cast<int>(std::lround(shown)));
        status_->setText(QString::fromStdWString(text));
        percent_->setText(QString::asprintf("%.0f%%", shown));
    });
}

void COmegaSettingsSaveDlg::ShowMessage(const std::wstring& text, platform::MessageStyle style) {
    messages_.ShowMessage(text, style);
}
