#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>
#include <string>

#include "platform/MessageSink.h"

class QWidget;

// Every message box of the program goes through here, so that a test can read the text and
// answer it instead of a person.
namespace console {

enum class MessageIcon { None, Information, Warning, Error };

struct MessageRequest {
    QWidget* parent = nullptr;
    QString text;
    QString caption;
    // Why, when the text says only that something failed: behind the box's "Show Details...".
    QString detail;
    MessageIcon icon = MessageIcon::None;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
};

using MessageBoxHandler = std::function<QMessageBox::StandardButton(const MessageRequest&)>;

// Shows the box modally and returns the button pressed. Safe to call from the user-interface
// thread only; workers carry their messages there first.
QMessageBox::StandardButton ShowMessage(const MessageRequest& request);

// A plain box with an OK button; detail, when given, behind "Show Details...".
void Tell(QWidget* parent, const QString& text, const QString& detail = {});

// A message of the headless core as the console shows it: Plain as Tell does; Error and Stop
// captioned "Error" with the exclamation or the stop icon, Success captioned "Success" with the
// information icon, these three without an owner window. On the user-interface thread only;
// CWindowMessageSink carries a worker's messages there.
void ShowMessage(QWidget* parent, const std::wstring& text, platform::MessageStyle style,
                 const std::string& detail = {});

// Replaces how boxes are shown (tests); an empty handler restores the real boxes.
void SetMessageBoxHandler(MessageBoxHandler handler);

}  // namespace console
