#include "console/WindowMessageSink.h"

#include "console/GuiThreadCall.h"
#include "console/MessageBox.h"

void CWindowMessageSink::ShowMessage(const std::wstring& text, platform::MessageStyle style) {
    console::CallOnThreadOf(window_, [&] { console::ShowMessage(window_, text, style); });
}
