#include "console/omega/OmegaSettingsResetDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <initializer_list>
#include <string_view>

#include "console/EditBrowseCtrl.h"
#include "console/GuiThreadCall.h"
#include "console/PortChoiceList.h"
#include "console/Remembered.h"
#include "console/omega/OmegaToolFrame.h"
#include "serial/SerialPortList.h"

namespace {

// The list offers only ports this program can open now: one someone else holds could not be
// reset anyway.
constexpr int kHighestScannedPort = 256;

QString Text(std::wstring_view text) {
    return QString::fromWCharArray(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

COmegaSettingsResetDlg::COmegaSettingsResetDlg(QWidget* parent) : CWorkerDialog(parent) {
    frame_ = StartOmegaToolFrame(this);
    QGroupBox* group = frame_.group;

    port_ = MakePortChoiceList("COM", 1, kHighestScannedPort, group);
    auto* portLabel = new QLabel("COM Port:", group);
    portLabel->setBuddy(port_);

    factoryDefaults_ = new QCheckBox("Use Factory Default COM Settings", group);
    factoryDefaults_->setObjectName("factoryDefaultsCheck");

    configuration_ = new QComboBox(group);
    configuration_->setObjectName("configurationList");
    configuration_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    for (std::wstring_view name : kResetConfigurations) {
        configuration_->addItem(Text(name));
    }
    configuration_->setCurrentIndex(0);
    auto* configurationLabel = new QLabel("Setting Configuration:", group);
    configurationLabel->setBuddy(configuration_);

    inputFile_ = new CEditBrowseCtrl(group);
    inputFile_->setObjectName("inputFileEdit");
    inputFile_->setMinimumWidth(320);
    auto* inputLabel = new QLabel("Custom Setting File:", group);
    inputLabel->setBuddy(inputFile_);

    QGridLayout* grid = frame_.grid;
    grid->addWidget(portLabel, 0, 0);
    grid->addWidget(port_, 0, 1, Qt::AlignLeft);
    grid->addWidget(factoryDefaults_, 1, 1, 1, 2);
    grid->addWidget(configurationLabel, 2, 0);
    grid->addWidget(configuration_, 2, 1, Qt::AlignLeft);
    grid->addWidget(inputLabel, 3, 0);
    grid->addWidget(inputFile_, 3, 1, 1, 2);
    // Room for the longest register step.
    FinishOmegaToolFrame(this, frame_, 4, "Reset Settings", "resetButton",
                         [](const QFontMetrics& metrics) {
                             return metrics.horizontalAdvance(
                                        "Setting register 0x0C (Output 1 Configuration) to "
                                        "value 0x00 ...") +
                                    8;
                         });
    console::RememberToolChoices(this, "OmegaReset", port_, inputFile_);

    EnableInputFile();

    connect(configuration_, &QComboBox::currentIndexChanged, this,
            &COmegaSettingsResetDlg::EnableInputFile);
    connect(frame_.run, &QPushButton::clicked, this, &COmegaSettingsResetDlg::OnResetSettings);
    connect(frame_.cancel, &QPushButton::clicked, this, &COmegaSettingsResetDlg::OnCancel);
    connect(frame_.done, &QPushButton::clicked, this, &COmegaSettingsResetDlg::accept);
}

void COmegaSettingsResetDlg::EnableInputFile() {
    inputFile_->setEnabled(IsCustomSettingsFile(configuration_->currentText().toStdWString()));
}

void COmegaSettingsResetDlg::OnResetSettings() {
    if (ClosePending()) {
        return;
    }
    if (IsRunning()) {
        // The cancelled run is still winding down; this one follows it, and looks started.
        frame_.run->setEnabled(false);
        frame_.cancel->setEnabled(true);
    }
    StartRun([this, tuning = tuning_] { RunSettingsReset(*this, tuning); });
}

void COmegaSettingsResetDlg::OnCancel() {
    // A run that has not started yet is simply not started.
    DropPendingRun();
    cancel_.Set();
    frame_.run->setEnabled(true);
    frame_.cancel->setEnabled(false);
}

int COmegaSettingsResetDlg::SelectedPortIndex() {
    return CurrentIndexOf(port_);
}

std::wstring COmegaSettingsResetDlg::SelectedPortText() {
    return CurrentPortNameOf(port_);
}

bool COmegaSettingsResetDlg::UseFactoryDefaults() {
    return console::CallOnThreadOf(this, [this] { return factoryDefaults_->isChecked(); });
}

std::wstring COmegaSettingsResetDlg::SelectedConfiguration() {
    return CurrentTextOf(configuration_);
}

std::filesystem::path COmegaSettingsResetDlg::InputPath() {
    return PathIn(inputFile_);
}

int COmegaSettingsResetDlg::ProgressPosition() {
    return console::CallOnThreadOf(this, [this] { return frame_.progress->value(); });
}

void COmegaSettingsResetDlg::SetRunning(bool running) {
    console::CallOnThreadOf(this, [this, running] {
        if (running) {
            frame_.status->show();
            frame_.percent->show();
            frame_.progress->show();
        }
        for (QWidget* control : std::initializer_list<QWidget*>{frame_.run, frame_.done, port_,
                                                                factoryDefaults_, configuration_}) {
            control->setEnabled(!running);
        }
        frame_.cancel->setEnabled(running);
        if (running) {
            inputFile_->setEnabled(false);
        } else {
            EnableInputFile();
        }
        ShowWaitCursor(running);
    });
}

void COmegaSettingsResetDlg::SetProgress(double percent, const std::wstring& text) {
    console::CallOnThreadOf(this, [&] { ShowOmegaToolProgress(frame_, percent, text); });
}

void COmegaSettingsResetDlg::ShowMessage(const std::wstring& text, platform::MessageStyle style) {
    messages_.ShowMessage(text, style);
}
