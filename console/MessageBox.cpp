#include "console/MessageBox.h"

#include <QApplication>
#include <QMessageBox>

namespace console {

namespace {

MessageBoxHandler& Handler() {
    static MessageBoxHandler handler;
    return handler;
}

QMessageBox::Icon ToQt(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Information:
            return QMessageBox::Information;
        case MessageIcon::Warning:
            return QMessageBox::Warning;
        case MessageIcon::Error:
            return QMessageBox::Critical;
        case MessageIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

QMessageBox::StandardButton ShowMessage(const MessageRequest& request) {
    if (Handler()) {
        return Handler()(request);
    }
    QMessageBox box(ToQt(request.icon),
                    request.caption.isEmpty() ? QApplication::applicationName() : request.caption,
                    request.text, request.buttons, request.parent);
    if (!request.detail.isEmpty()) {
        box.setDetailedText(request.detail);
    }
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void Tell(QWidget* parent, const QString& text, const QString& detail) {
    MessageRequest request;
    request.parent = parent;
    request.text = text;
    request.detail = detail;
    ShowMessage(request);
}

void ShowMessage(QWidget* parent, const std::wstring& text, platform::MessageStyle style,
                 const std::string& detail) {
    MessageRequest request;
    request.text = QString::fromStdWString(text);
    request.detail = QString::fromStdString(detail);
    switch (style) {
        case platform::MessageStyle::Plain:
            request.parent = parent;
            break;
        case platform::MessageStyle::Error:
            request.caption = QStringLiteral("Error");
            request.icon = MessageIcon::Warning;
            break;
        case platform::MessageStyle::Stop:
            request.caption = QStringLiteral("Error");
            request.icon = MessageIcon::Error;
            break;
        case platform::MessageStyle::Success:
            request.caption = QStringLiteral("Success");
            request.icon = MessageIcon::Information;
            break;
    }
    ShowMessage(request);
}

void SetMessageBoxHandler(MessageBoxHandler handler) {
    Handler() = std::move(handler);
}

}  // namespace console
