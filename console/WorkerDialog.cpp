#include "console/WorkerDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <utility>

#include "console/GuiThreadCall.h"
#include "console/PortListFill.h"

CWorkerDialog::CWorkerDialog(QWidget* parent) : QDialog(parent) {}

CWorkerDialog::~CWorkerDialog() {
    // The run, a member of the derived window, has been stopped and waited out already.
    ShowWaitCursor(false);
}

bool CWorkerDialog::StartRun(std::function<void()> body) {
    if (closeRequested_) {
        return false;
    }
    if (run_ == nullptr) {
        // The run is the derived window's member, not there yet when this base was made.
        run_ = &Run();
        connect(run_, &CWorkerRun::Finished, this, &CWorkerDialog::OnRunFinished);
    }
    run_->Start(std::move(body));
    return true;
}

void CWorkerDialog::done(int result) {
    if (IsRunning()) {
        // A run waiting to start would only be stopped again: Stop forgets it.
        closeRequested_ = true;
        closeResult_ = result;
        run_->Stop();
        return;
    }
    closeRequested_ = false;
    CloseNow(result);
}

void CWorkerDialog::CloseNow(int result) {
    QDialog::done(result);
}

void CWorkerDialog::OnRunFinished() {
    RunEnded();
    if (closeRequested_ && !IsRunning()) {
        closeRequested_ = false;
        CloseNow(closeResult_);
    }
}

void CWorkerDialog::ShowWaitCursor(bool on) {
    if (on == waitCursor_) {
        return;
    }
    waitCursor_ = on;
    if (on) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

int CWorkerDialog::CurrentIndexOf(const QComboBox* list) {
    return console::CallOnThreadOf(this, [list] { return list->currentIndex(); });
}

std::wstring CWorkerDialog::CurrentTextOf(const QComboBox* list) {
    return console::CallOnThreadOf(this, [list] { return list->currentText().toStdWString(); });
}

std::wstring CWorkerDialog::CurrentPortNameOf(const QComboBox* list) {
    return console::CallOnThreadOf(
        this, [list] { return console::PortNameOf(list->currentText()).toStdWString(); });
}

std::wstring CWorkerDialog::TextOf(const QLineEdit* field) {
    return console::CallOnThreadOf(this, [field] { return field->text().toStdWString(); });
}

std::filesystem::path CWorkerDialog::PathIn(const QLineEdit* field) {
    return console::CallOnThreadOf(this, [field] {
        return std::filesystem::path(QFile::encodeName(field->text()).toStdString());
    });
}
