#include "console/omega/OmegaSettingsSaveDlg.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "console/GuiThreadCall.h"
#include "console/PortChoiceList.h"
#include "console/Remembered.h"
#include "console/omega/OmegaSettingsOutputFileBrowseCtrl.h"
#include "console/omega/OmegaToolFrame.h"
#include "serial/SerialPortList.h"

namespace {

// The listing goes as far as the machine's port numbers go.
constexpr int kHighestListedPort = 255;

}  // namespace

COmegaSettingsSaveDlg::COmegaSettingsSaveDlg(QWidget* parent) : CWorkerDialog(parent) {
    frame_ = StartOmegaToolFrame(this);
    QGroupBox* group = frame_.group;

    // Every port there is, held by someone else or not: the technician may mean any of them.
    port_ = MakePortChoiceList("COM", 1, kHighestListedPort, group);
    auto* portLabel = new QLabel("Com Port:", group);
    portLabel->setBuddy(port_);

    outputFile_ = new COmegaSettingsOutputFileBrowseCtrl(group);
    outputFile_->setObjectName("outputFileEdit");
    outputFile_->setMinimumWidth(320);
    auto* outputLabel = new QLabel("Output File:", group);
    outputLabel->setBuddy(outputFile_);

    frame_.grid->addWidget(portLabel, 0, 0);
    frame_.grid->addWidget(port_, 0, 1, Qt::AlignLeft);
    frame_.grid->addWidget(outputLabel, 1, 0);
    frame_.grid->addWidget(outputFile_, 1, 1, 1, 2);
    // Room for the longest step, longer than any "Getting <register> ...".
    FinishOmegaToolFrame(
        this, frame_, 2, "Save Settings", "saveButton", [](const QFontMetrics& metrics) {
            return metrics.horizontalAdvance("Connecting to temperature controller ...") + 8;
        });
    console::RememberToolChoices(this, "OmegaSave", port_, outputFile_);

    connect(frame_.run, &QPushButton::clicked, this, &COmegaSettingsSaveDlg::OnSaveSettings);
    connect(frame_.cancel, &QPushButton::clicked, this, &COmegaSettingsSaveDlg::OnCancel);
    connect(frame_.done, &QPushButton::clicked, this, &COmegaSettingsSaveDlg::accept);
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
    return CurrentPortNameOf(port_);
}

std::filesystem::path COmegaSettingsSaveDlg::OutputPath() {
    return PathIn(outputFile_);
}

void COmegaSettingsSaveDlg::SetRunning(bool running) {
    console::CallOnThreadOf(this, [this, running] {
        if (running) {
            frame_.status->show();
            frame_.percent->show();
            frame_.progress->show();
        }
        frame_.run->setEnabled(!running);
        frame_.cancel->setEnabled(running);
        ShowWaitCursor(running);
    });
}

void COmegaSettingsSaveDlg::SetProgress(double percent, const std::wstring& text) {
    console::CallOnThreadOf(this, [&] { ShowOmegaToolProgress(frame_, percent, text); });
}

void COmegaSettingsSaveDlg::ShowMessage(const std::wstring& text, platform::MessageStyle style) {
    messages_.ShowMessage(text, style);
}
