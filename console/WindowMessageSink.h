#pragma once

#include <QWidget>
#include <string>

#include "platform/MessageSink.h"

// Where a window's core procedures put their messages: each is shown on the window's thread
// through console::ShowMessage, from whichever thread it comes, and the caller waits there
// until the user has dismissed it.
class CWindowMessageSink : public platform::IMessageSink {
public:
    explicit CWindowMessageSink(QWidget* window) : window_(window) {}

    void ShowMessage(const std::wstring& text, platform::MessageStyle style) override;

private:
    QWidget* window_;
};
