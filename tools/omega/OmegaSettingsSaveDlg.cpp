#include "tools/omega/OmegaSettingsSaveDlg.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
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
#include "tools/omega/OmegaSettingsOutputFileBrowseCtrl.h"
#include "console/SerialPortList.h"

namespace {

// Progress labels keep their place in the layout while hidden, so nothing moves when a run
// shows them.
void KeepSpaceWhenHidden(QWidget* widget) {
    QSizePolicy policy = widget->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    widget->setSizePolicy(policy);
}

}  // namespace

COmegaSettingsSaveDlg::COmegaSettingsSaveDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Omega Temperature Controller Configuration");

    auto* group = new QGroupBox("Reset Settings", this);
    group->setObjectName("settingsGroup");

    port_ = new QComboBox(group);
    port_->setObjectName("portList");
    port_->setMinimumContentsLength(16);
    port_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    port_->addItem("-- Select One --");
    std::vector<int> ports;
    EnumerateSerialPorts(ports);
    for (int port : ports) {
        port_->addItem(QString::asprintf("COM%d", port));
    }
    // A sorted list, in text order as such lists are: COM10 before COM2, and "-- Select One --"
    // ahead of every port.
    port_->model()->sort(0);
    port_->setCurrentIndex(0);
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

    status_ = new QLabel("Status", group);
    status_->setObjectName("statusText");
    // Room for the longest step, longer than any "Getting <register> ..."; the window does not
    // grow with the text.
    status_->setMinimumWidth(
        status_->fontMetrics().horizontalAdvance("Connecting to temperature controller ...") + 8);
    status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    status_->hide();
    KeepSpaceWhenHidden(status_);
    percent_ = new QLabel("0%", group);
    percent_->setObjectName("percentText");
    percent_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    percent_->setMinimumWidth(percent_->fontMetrics().horizontalAdvance("100%"));
    percent_->hide();
    KeepSpaceWhenHidden(percent_);
    progress_ = new QProgressBar(group);
    progress_->setObjectName("progressBar");
    progress_->setRange(0, 100);
    progress_->setValue(0);
    // The percent text says it already.
    progress_->setTextVisible(false);

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
    connect(&run_, &CWorkerRun::Finished, this, &COmegaSettingsSaveDlg::OnRunFinished);
}

COmegaSettingsSaveDlg::~COmegaSettingsSaveDlg() {
    // Destroyed mid-run (not closed first): stop the run and serve its last calls, without
    // acting on its end as if the window were still in use.
    disconnect(&run_, nullptr, this, nullptr);
    if (run_.IsActive()) {
        cancel_.Set();
    }
    run_.Wait();
}

void COmegaSettingsSaveDlg::OnSaveSettings() {
    if (closeRequested_) {
        return;
    }
    run_.Start([this, tuning = tuning_] { RunSettingsSave(*this, tuning); });
}

void COmegaSettingsSaveDlg::OnCancel() {
    cancel_.Set();
}

void COmegaSettingsSaveDlg::done(int result) {
    if (run_.IsActive()) {
        run_.DropPending();
        closeRequested_ = true;
        closeResult_ = result;
        cancel_.Set();
        return;
    }
    QDialog::done(result);
}

void COmegaSettingsSaveDlg::OnRunFinished() {
    if (closeRequested_ && !run_.IsActive()) {
        closeRequested_ = false;
        QDialog::done(closeResult_);
    }
}

int COmegaSettingsSaveDlg::SelectedPortIndex() {
    return console::CallOnThreadOf(this, [this] { return port_->currentIndex(); });
}

std::wstring COmegaSettingsSaveDlg::SelectedPortText() {
    return console::CallOnThreadOf(this, [this] { return port_->currentText().toStdWString(); });
}

std::filesystem::path COmegaSettingsSaveDlg::OutputPath() {
    return console::CallOnThreadOf(this, [this] {
        return std::filesystem::path(QFile::encodeName(outputFile_->text()).toStdString());
    });
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
        if (running != waitCursor_) {
            waitCursor_ = running;
            if (running) {
                QApplication::setOverrideCursor(Qt::WaitCursor);
            } else {
                QApplication::restoreOverrideCursor();
            }
        }
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
