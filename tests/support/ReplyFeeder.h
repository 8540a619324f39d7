#pragma once

#include <string>

#include "serial/CommandChannel.h"

namespace testing_support {

// Drives a driver's reply assembly and parsing the way the monitoring thread does, with no port:
// put a command in flight, feed bytes to ReceiveChar, see whether the reply completed.
template <typename Driver>
class ReplyFeeder : public Driver {
public:
    void Expect(const std::string& command, bool pending = true) {
        this->CommandInFlight = command;
        this->ReceiveLine.clear();
        this->ReplyValue = 0;
        this->ReplyValid = 0;
        this->ReplyReadyEvent.Reset();
        if (pending) {
            this->ReplyPendingEvent.Set();
        } else {
            this->ReplyPendingEvent.Reset();
        }
    }
    void Feed(const std::string& bytes) {
        for (char c : bytes) {
            this->ReceiveChar(static_cast<uint8_t>(c));
        }
    }
    bool Completed() const { return this->ReplyReadyEvent.IsSet(); }
    // The two halves of SendCommand around the write, as the caller and the monitoring thread
    // run them.
    void Prepare(const std::string& command) {
        this->ReplyValue = 0;
        this->ReplyValid = 0;
        this->PrepareCommand(command);
        this->ReplyReadyEvent.Reset();
        this->ReplyPendingEvent.Set();
    }
    void Written() { this->WriteStarting(); }
};

}  // namespace testing_support
