#include "console/threshold/ShutterControllerLightSensorThresholdDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <initializer_list>
#include <system_error>
#include <thread>

#include "console/GuiThreadCall.h"
#include "console/MessageBox.h"
#include "console/Remembered.h"
#include "console/SerialComboBox.h"
#include "console/WaitCursor.h"

namespace {

// The lowest value the tool offers, and what the desired threshold shows until one is typed.
constexpr uint16_t kLowestDesiredThreshold = 0x0400;
// The box needs this long to write its memory before the saved threshold reads back right.
constexpr auto kSaveSettleTime = std::chrono::milliseconds(50);

QString ThresholdText(int32_t value) {
    return QString::asprintf("0x%04X", static_cast<unsigned>(value));
}

QPushButton* Button(const char* text, const char* name, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    // The style fits longer captions with almost no margin; they read better with some air.
    button->setMinimumWidth(button->fontMetrics().horizontalAdvance(text) + 24);
    return button;
}

// Push-like check buttons: they stay down while their state is on.
QPushButton* ToggleButton(const char* text, const char* name, QWidget* parent) {
    QPushButton* button = Button(text, name, parent);
    button->setCheckable(true);
    return button;
}

QLineEdit* ThresholdEdit(const char* name, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setMaximumWidth(edit->fontMetrics().horizontalAdvance("0x0000") * 2);
    return edit;
}

}  // namespace

CShutterControllerLightSensorThresholdDlg::CShutterControllerLightSensorThresholdDlg(
    QWidget* parent)
    : CWorkerDialog(parent), desired_(kLowestDesiredThreshold) {
    setWindowTitle("Shutter Controller Light Sensor Threshold Configuration");

    // The search.
    port_ = new CSerialComboBox(this);
    port_->setObjectName("portList");
    // Ordered by number, not as text (COM10 before COM2), showing its first.
    port_->setMinimumContentsLength(8);
    port_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    auto* portLabel = new QLabel("COM Port:", this);
    portLabel->setBuddy(port_);
    runButton_ = Button("Run", "runButton", this);
    cancelButton_ = Button("Cancel", "cancelButton", this);

    status_ = new QLabel("Status", this);
    status_->setObjectName("statusText");
    // Room for the longest line a search writes; the window does not grow with the text.
    int statusWidth = 0;
    for (const char* line :
         {"Searching for closing point with 1 count steps.",
          "Error incrementing threshold by 6 dB.", "Configuration complete. Threshold = 0xFFFF",
          "Error connecting to shutter controller."}) {
        statusWidth = std::max(statusWidth, status_->fontMetrics().horizontalAdvance(line));
    }
    status_->setMinimumWidth(statusWidth + 8);
    status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    percent_ = new QLabel("100%", this);
    percent_->setObjectName("percentText");
    percent_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    percent_->setMinimumWidth(percent_->fontMetrics().horizontalAdvance("100%") + 4);
    progress_ = new QProgressBar(this);
    progress_->setObjectName("progressBar");
    progress_->setRange(0, 100);
    progress_->setValue(0);
    // The percentage beside the status line says it already.
    progress_->setTextVisible(false);

    auto* search = new QGridLayout;
    search->addWidget(portLabel, 0, 0);
    search->addWidget(port_, 0, 1, Qt::AlignLeft);
    auto* searchButtons = new QHBoxLayout;
    searchButtons->addStretch();
    searchButtons->addWidget(runButton_);
    searchButtons->addWidget(cancelButton_);
    search->addLayout(searchButtons, 0, 2, 1, 2);
    search->addWidget(status_, 1, 0, 1, 3);
    search->addWidget(percent_, 1, 3);
    search->addWidget(progress_, 2, 0, 1, 4);
    search->setColumnStretch(2, 1);

    // The manual controls, behind their check box.
    advanced_ = new QCheckBox("Enable Advanced Controls", this);
    advanced_->setObjectName("advancedCheck");
    auto* panel = new QFrame(this);
    panel->setObjectName("advancedPanel");
    panel->setFrameShape(QFrame::StyledPanel);

    connect_ = ToggleButton("Connect", "connectButton", panel);
    writeProtect_ = ToggleButton("Write Protect", "writeProtectButton", panel);
    openShutter_ = Button("Open Shutter", "openShutterButton", panel);
    closeShutter_ = Button("Close Shutter", "closeShutterButton", panel);

    saved_ = ThresholdEdit("savedThresholdEdit", panel);
    savedLabel_ = new QLabel("Saved Threshold:", panel);
    savedLabel_->setObjectName("savedThresholdLabel");
    active_ = ThresholdEdit("activeThresholdEdit", panel);
    activeLabel_ = new QLabel("Active Threshold:", panel);
    activeLabel_->setObjectName("activeThresholdLabel");
    // Display only: what the box reports.
    saved_->setEnabled(false);
    active_->setEnabled(false);
    get_ = Button("Get", "getButton", panel);
    reload_ = Button("Reload", "reloadButton", panel);
    save_ = Button("Save", "saveButton", panel);

    desiredEdit_ = ThresholdEdit("desiredThresholdEdit", panel);
    desiredEdit_->setText(ThresholdText(desired_));
    desiredLabel_ = new QLabel("Desired Threshold:", panel);
    desiredLabel_->setObjectName("desiredThresholdLabel");
    desiredLabel_->setBuddy(desiredEdit_);
    set_ = Button("Set", "setButton", panel);
    down6dB_ = Button("-6 dB", "minus6dBButton", panel);
    down1_ = Button("-1", "minus1Button", panel);
    up1_ = Button("+1", "plus1Button", panel);
    up6dB_ = Button("+6 dB", "plus6dBButton", panel);

    auto* connection = new QHBoxLayout;
    connection->addWidget(connect_);
    connection->addWidget(writeProtect_);
    connection->addStretch();
    connection->addWidget(openShutter_);
    connection->addWidget(closeShutter_);

    auto* thresholds = new QGridLayout;
    thresholds->addWidget(savedLabel_, 0, 0);
    thresholds->addWidget(saved_, 0, 1);
    thresholds->addWidget(get_, 0, 2);
    thresholds->addWidget(activeLabel_, 1, 0);
    thresholds->addWidget(active_, 1, 1);
    thresholds->addWidget(reload_, 1, 2);
    thresholds->addWidget(save_, 1, 3);
    thresholds->addWidget(desiredLabel_, 2, 0);
    thresholds->addWidget(desiredEdit_, 2, 1);
    thresholds->addWidget(set_, 2, 2);
    thresholds->setColumnStretch(4, 1);

    auto* steps = new QHBoxLayout;
    for (QPushButton* step : {down6dB_, down1_, up1_, up6dB_}) {
        steps->addWidget(step);
    }
    steps->addStretch();

    auto* panelLayout = new QVBoxLayout(panel);
    panelLayout->addLayout(connection);
    panelLayout->addLayout(thresholds);
    panelLayout->addLayout(steps);

    done_ = Button("Done", "doneButton", this);
    done_->setDefault(true);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(done_);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(search);
    layout->addSpacing(6);
    layout->addWidget(advanced_);
    layout->addWidget(panel);
    layout->addLayout(bottom);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    desiredEdit_->installEventFilter(this);

    connect(runButton_, &QPushButton::clicked, this,
            &CShutterControllerLightSensorThresholdDlg::OnRun);
    connect(cancelButton_, &QPushButton::clicked, this,
            &CShutterControllerLightSensorThresholdDlg::OnCancel);
    connect(advanced_, &QCheckBox::clicked, this,
            &CShutterControllerLightSensorThresholdDlg::OnEnableAdvanced);
    connect(connect_, &QPushButton::clicked, this,
            &CShutterControllerLightSensorThresholdDlg::OnConnect);
    connect(writeProtect_, &QPushButton::clicked, this,
            &CShutterControllerLightSensorThresholdDlg::OnWriteProtect);
    connect(openShutter_, &QPushButton::clicked, this,
            &CShutterControllerLightSensorThresholdDlg::OnOpenShutter);
    connect(closeShutter_, &QPushButton::clicked, this,
            &CShutterControllerLightSensorThresholdDlg::OnCloseShutter);
    connect(get_, &QPushButton::clicked, this, [this] {
        CWaitCursor wait;
        RefreshThresholds();
    });
    connect(reload_, &QPushButton::clicked, this,
            &CShutterControllerLightSensorThresholdDlg::OnReload);
    connect(save_, &QPushButton::clicked, this, &CShutterControllerLightSensorThresholdDlg::OnSave);
    connect(set_, &QPushButton::clicked, this, &CShutterControllerLightSensorThresholdDlg::OnSet);
    using Step = CShutterController3::ThresholdStep;
    const auto stepButton = [this](QPushButton* button, Step step, const wchar_t* failure) {
        connect(button, &QPushButton::clicked, this, [this, step, failure] {
            SendThresholdCommand([this, step] { return Device.StepThreshold(step); }, failure);
        });
    };
    stepButton(down6dB_, Step::Down6dB, L"Error decrementing threshold 6dB.");
    stepButton(down1_, Step::Down1, L"Error decrementing threshold 1 step.");
    stepButton(up1_, Step::Up1, L"Error incrementing threshold 1 step.");
    stepButton(up6dB_, Step::Up6dB, L"Error incrementing threshold 6db.");
    connect(done_, &QPushButton::clicked, this, &CShutterControllerLightSensorThresholdDlg::accept);

    console::RememberToolChoices(this, "LightSensorThreshold", port_, nullptr);

    status_->clear();
    percent_->clear();
    cancelButton_->setEnabled(false);
    UpdateControls();
}

void CShutterControllerLightSensorThresholdDlg::SetProgress(double percent,
                                                            const std::wstring& text) {
    console::CallOnThreadOf(this, [&] {
        const double shown = std::isfinite(percent) ? std::clamp(percent, 0.0, 100.0) : 0.0;
        progress_->setValue(static_cast<int>(shown));
        status_->setText(QString::fromStdWString(text));
        percent_->setText(QString::asprintf("%.0f%%", shown));
    });
}

void CShutterControllerLightSensorThresholdDlg::UpdateControls() {
    // The connection and protection are not looked at without the check box: while a search
    // runs the check box is disabled, and the worker owns those fields.
    const bool advanced = advanced_->isChecked() && advanced_->isEnabled();
    const bool connected = advanced && Device.PortConnected != 0;
    const bool writable = connected && Device.WriteProtected == 0;

    connect_->setEnabled(advanced);
    connect_->setChecked(connected);
    writeProtect_->setEnabled(connected);
    writeProtect_->setChecked(connected && Device.WriteProtected != 0);
    for (QWidget* control :
         std::initializer_list<QWidget*>{save_, reload_, savedLabel_, activeLabel_, desiredLabel_,
                                         desiredEdit_, set_, down6dB_, down1_, up1_, up6dB_}) {
        control->setEnabled(writable);
    }
    saved_->setEnabled(false);
    active_->setEnabled(false);
    for (QWidget* control : std::initializer_list<QWidget*>{openShutter_, closeShutter_, get_}) {
        control->setEnabled(connected);
    }
}

void CShutterControllerLightSensorThresholdDlg::RefreshThresholds() {
    int32_t value = 0;
    if (!Device.ReadActiveThreshold(value)) {
        DeviceError(L"Error getting active threshold.");
        return;
    }
    active_->setText(ThresholdText(value));
    if (!Device.ReadSavedThreshold(value)) {
        DeviceError(L"Error getting saved threshold.");
        return;
    }
    saved_->setText(ThresholdText(value));
}

void CShutterControllerLightSensorThresholdDlg::ShowMessage(const std::wstring& text,
                                                            platform::MessageStyle style) {
    messages_.ShowMessage(text, style);
}

int32_t CShutterControllerLightSensorThresholdDlg::SelectedPort() {
    return console::CallOnThreadOf(this, [this] { return port_->GetSelectedPort(); });
}

void CShutterControllerLightSensorThresholdDlg::SearchEnded() {
    console::CallOnThreadOf(this, [this] {
        runButton_->setEnabled(true);
        cancelButton_->setEnabled(false);
        port_->setEnabled(true);
        advanced_->setEnabled(true);
        UpdateControls();
    });
}

void CShutterControllerLightSensorThresholdDlg::OnRun() {
    if (ClosePending()) {
        return;
    }
    if (SearchRunning != 0) {
        Error(L"Thread already running!");
        return;
    }
    // Everything that sends is disabled before the worker exists, so that from its first
    // command on the window leaves the controller's fields to it.
    runButton_->setEnabled(false);
    cancelButton_->setEnabled(true);
    port_->setEnabled(false);
    advanced_->setEnabled(false);
    UpdateControls();
    try {
        StartRun([this] { RunThresholdSearch({Device, SearchRunning, CancelEvent}, *this); });
    } catch (const std::system_error&) {
        runButton_->setEnabled(true);
        cancelButton_->setEnabled(false);
        port_->setEnabled(true);
        advanced_->setEnabled(true);
        UpdateControls();
        Error(L"Error starting thread.");
    }
}

void CShutterControllerLightSensorThresholdDlg::OnCancel() {
    CancelEvent.Set();
}

void CShutterControllerLightSensorThresholdDlg::OnEnableAdvanced(bool checked) {
    if (!checked) {
        // The box keeps whatever protection it had: nothing is sent on the way out.
        Device.ClosePort();
        Device.PortConnected = 0;
    }
    UpdateControls();
}

void CShutterControllerLightSensorThresholdDlg::OnConnect(bool checked) {
    CWaitCursor wait;
    if (checked) {
        CommSettings& settings = Device.Settings;
        settings.PortNumber = port_->GetSelectedPort();
        settings.BaudRate = 9600;
        settings.DataBits = 8;
        settings.Parity = 0;
        settings.StopBits = 0;
        settings.FlowControl = 0;
        if (Device.PortConnected == 0) {
            Device.PortConnected = Device.OpenPort() ? 1 : 0;
            if (Device.PortConnected == 0) {
                DeviceError(L"Error connecting to shutter controller.");
                connect_->setChecked(false);
                UpdateControls();
                return;
            }
        }
        // Whatever the box was left at, a fresh connection starts protected.
        if (Device.SetWriteProtect(true)) {
            writeProtect_->setChecked(true);
            RefreshThresholds();
        } else {
            DeviceError(L"Error checking write protect.");
            connect_->setChecked(false);
        }
    } else {
        // Leave the box protected for whoever comes next.
        if (Device.SetWriteProtect(true)) {
            writeProtect_->setChecked(false);
        } else {
            DeviceError(L"Error setting write protect.");
        }
        Device.ClosePort();
        Device.PortConnected = 0;
    }
    UpdateControls();
}

void CShutterControllerLightSensorThresholdDlg::OnWriteProtect(bool checked) {
    CWaitCursor wait;
    if (!Device.SetWriteProtect(checked)) {
        DeviceError(L"Error setting write protect.");
    }
    // Shows the protection asked for, which SetWriteProtect recorded, whether or not it took.
    UpdateControls();
}

void CShutterControllerLightSensorThresholdDlg::OnOpenShutter() {
    CWaitCursor wait;
    if (!Device.OpenShutter()) {
        DeviceError(L"Error opening shutter.");
    }
}

void CShutterControllerLightSensorThresholdDlg::OnCloseShutter() {
    CWaitCursor wait;
    if (!Device.CloseShutter()) {
        DeviceError(L"Error closing shutter.");
    }
}

void CShutterControllerLightSensorThresholdDlg::NormaliseDesiredThreshold() {
    // Takes "0x0ABC" as shown and bare digits as typed; an empty or unreadable text keeps the
    // value it replaced rather than jumping to an end of the range.
    desired_ = ReadDesiredThreshold(desiredEdit_->text().toStdWString(), desired_);
    desiredEdit_->setText(ThresholdText(desired_));
}

void CShutterControllerLightSensorThresholdDlg::OnSet() {
    // A click does not always take the focus from the edit first (a window that is not the
    // active one): the value sent is the one the edit shows after reading, never raw text.
    NormaliseDesiredThreshold();
    CWaitCursor wait;
    if (!Device.SetThreshold(desired_)) {
        DeviceError(L"Error setting threshold.");
        return;
    }
    RefreshThresholds();
}

bool CShutterControllerLightSensorThresholdDlg::SendThresholdCommand(
    const std::function<bool()>& send, const wchar_t* failure) {
    CWaitCursor wait;
    if (!send()) {
        DeviceError(failure);
        return false;
    }
    RefreshThresholds();
    return true;
}

void CShutterControllerLightSensorThresholdDlg::OnSave() {
    CWaitCursor wait;
    if (!Device.SaveThreshold()) {
        DeviceError(L"Error saving active threshold to memory.");
        return;
    }
    std::this_thread::sleep_for(kSaveSettleTime);
    RefreshThresholds();
}

void CShutterControllerLightSensorThresholdDlg::OnReload() {
    SendThresholdCommand([this] { return Device.ReloadThreshold(); },
                         L"Error reloading threshold from memory.");
}

void CShutterControllerLightSensorThresholdDlg::CloseNow(int result) {
    if (Device.PortConnected != 0) {
        // The box keeps the protection it was last given.
        Device.ClosePort();
        Device.PortConnected = 0;
        UpdateControls();
    }
    CWorkerDialog::CloseNow(result);
}

bool CShutterControllerLightSensorThresholdDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == desiredEdit_ && event->type() == QEvent::FocusOut) {
        NormaliseDesiredThreshold();
    }
    return QDialog::eventFilter(watched, event);
}

void CShutterControllerLightSensorThresholdDlg::DeviceError(const wchar_t* text) {
    // Why the controller failed, in the status line and behind the box's details.
    const std::string why = Device.LastFailure().Text;
    status_->setText(QString::fromStdString(why));
    Error(text, why);
}

void CShutterControllerLightSensorThresholdDlg::Error(const wchar_t* text, const std::string& why) {
    // A handler may be showing the wait cursor; the box is for reading, not waiting.
    const bool waiting = QApplication::overrideCursor() != nullptr;
    if (waiting) {
        QApplication::setOverrideCursor(Qt::ArrowCursor);
    }
    console::ShowMessage(this, text, platform::MessageStyle::Stop, why);
    if (waiting) {
        QApplication::restoreOverrideCursor();
    }
}
