#pragma once

#include <string>

namespace platform {

// How a message is presented; every box has one OK button.
enum class MessageStyle {
    Plain,    // the program's name as caption, no icon
    Error,    // caption "Error", exclamation icon: something did not take, the run goes on
    Stop,     // caption "Error", stop icon: the operation ended there
    Success,  // caption "Success", information icon
};

// Where core procedures that run on behalf of a window put their messages. The call returns
// only when the user has dismissed the message, so a worker thread waits for the user exactly
// where the message arose.
class IMessageSink {
public:
    virtual ~IMessageSink() = default;
    virtual void ShowMessage(const std::wstring& text, MessageStyle style) = 0;
};

}  // namespace platform
