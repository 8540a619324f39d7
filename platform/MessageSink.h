#pragma once

#include <string>

namespace platform {

// How a message is presented: a plain box with an OK button and the program's name as its
// caption, or a box captioned "Error" with an exclamation icon.
enum class MessageStyle { Plain, Error };

// Where core procedures that run on behalf of a window put their messages. The call returns
// only when the user has dismissed the message, so a worker thread waits for the user exactly
// where the message arose.
class IMessageSink {
public:
    virtual ~IMessageSink() = default;
    virtual void ShowMessage(const std::wstring& text, MessageStyle style) = 0;
};

}  // namespace platform
