#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QStringList>
#include <QThread>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

#include "console/MessageBox.h"

// Hands the next modal dialog of type Dialog to act from inside that dialog's own event loop,
// and fails the test, closing the dialog, if act left it open. Acting any earlier would not do:
// a dialog is already the active modal widget while exec() is still showing it, and closed
// then, it leaves exec() waiting for ever in the loop it starts next. Answering stops when the
// returned poll goes, so a dialog that never came cannot be answered in some later test.
template <typename Dialog>
[[nodiscard]] std::unique_ptr<QTimer> AnswerModal(std::function<void(Dialog&)> act) {
    auto poll = std::make_unique<QTimer>();
    const int outside = QThread::currentThread()->loopLevel();
    QObject::connect(
        poll.get(), &QTimer::timeout, poll.get(),
        [timer = poll.get(), outside, act = std::move(act)] {
            auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr || QThread::currentThread()->loopLevel() <= outside) {
                return;
            }
            timer->stop();
            act(*dialog);
            if (dialog->isVisible()) {
                ADD_FAILURE() << dialog->metaObject()->className() << " left open";
                static_cast<QDialog*>(dialog)->reject();
            }
        });
    poll->start(10);
    return poll;
}

// Answers every message box with OK while the test lasts, and keeps each one: its text in
// messages, the whole request (caption, icon, owner, details) in boxes.
class AnswersMessageBoxes {
protected:
    AnswersMessageBoxes() {
        console::SetMessageBoxHandler([this](const console::MessageRequest& request) {
            messages << request.text;
            boxes.push_back(request);
            return QMessageBox::Ok;
        });
    }
    ~AnswersMessageBoxes() { console::SetMessageBoxHandler({}); }

    QStringList messages;
    std::vector<console::MessageRequest> boxes;
};
