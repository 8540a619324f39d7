#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "serial/SerialEcho.h"

// Turns the record's Length bytes into printable text: printable ASCII as it is, every other
// byte as "[0xHH]", a line break after an escaped carriage return or line feed, and a line break
// at the end when there is none. Never reads past Text, whatever Length claims.
std::string EscapeTraffic(const SerialEcho& echo);

// The terminal lines for port traffic. Sent records become one line each; received bytes are
// gathered per port (the instrument's and the temperature controller's) until a carriage return
// completes a line. Holds no Qt and does not log itself: the window appends what it returns.
class CTrafficEcho {
public:
    // A device that streams without ever sending a carriage return must not grow our memory.
    // Far longer than any reply of the supported devices (the longest, an identification line,
    // is a few dozen bytes).
    static constexpr std::size_t kLineLimit = 4096;

    // "COM%d >> " and the escaped bytes of a completed write.
    static std::string SentLine(const SerialEcho& echo);

    // Takes one received record. It is dropped, leaving both buffers as they are, when there is
    // no current instrument or its port is neither the instrument's nor the controller's (the
    // instrument's buffer wins when both name the same port). Returns the "COM%d << " line that
    // a carriage return completes, with the buffer emptied, and nothing otherwise.
    std::optional<std::string> ReceivedByte(const SerialEcho& echo, bool haveInstrument,
                                            int instrumentPort, int controllerPort);

    // The bytes waiting for their carriage return.
    const std::string& InstrumentLine() const { return instrumentLine_; }
    const std::string& ControllerLine() const { return controllerLine_; }

private:
    std::string instrumentLine_;
    std::string controllerLine_;
};
