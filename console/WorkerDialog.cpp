#include "console/WorkerDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <utility>

#include "console/GuiThreadCall.h"

CWorkerDialog::CWorkerDialog(QWidget* parent) : QDialog(parent) {
    connect(&run_, &CWorkerRun::Finished, this, &CWorkerDialog::OnRunFinished);
}

CWorkerDialog::~CWorkerDialog() {
    disconnect(&run_, nullptr, this, nullptr);
    run_.Wait();
    ShowWaitCursor(false);
}

bool CWorkerDialog::StartRun(std::function<void()> body) {
    if (closeRequested_) {
        return false;
    }
    run_.Start(std::move(body));
    return true;
}

void CWorkerDialog::done(int result) {
    if (run_.IsActive()) {
        // A run waiting to start would only be stopped again.
        run_.DropPending();
        closeRequested_ = true;
        closeResult_ = result;
        StopRun();
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
    if (closeRequested_ && !run_.IsActive()) {
        closeRequested_ = false;
        CloseNow(closeResult_);
    }
}

void CWorkerDialog::EndRunBeforeDestruction() {
    disconnect(&run_, nullptr, this, nullptr);
    if (run_.IsActive()) {
        StopRun();
    }
    run_.Wait();
    ShowWaitCursor(false);
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

std::wstring CWorkerDialog::TextOf(const QLineEdit* field) {
    return console::CallOnThreadOf(this, [field] { return field->text().toStdWString(); });
}

std::filesystem::path CWorkerDialog::PathIn(const QLineEdit* field) {
    return console::CallOnThreadOf(this, [field] {
        return std::filesystem::path(QFile::encodeName(field->text()).toStdString());
    });
}
