#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "serial/SerialEcho.h"

// Turns the record's Length bytes into printable text: printable ASCII as it is, every other
// byte as "[0xHH]", a line break after an escaped carriage return or line feed, and a line break
// at the end when there is none. Never reads past Text, whatever Length claims.
std::string EscapeTraffic(const SerialEcho& echo);

// The terminal log's colours, by what a line is; the codes the log takes, with any other value
// written plain.
enum LogCode : int {
    kLogPlain = 0,
    kLogSent = 1,
    kLogReceived = 2,
    kLogError = 3,
    kLogSuccess = 4
};

// Text for the terminal log and the colour code it is written in.
struct TrafficText {
    std::string Text;
    int Code = 0;

    bool operator==(const TrafficText&) const = default;
};

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

    // "COM%d: ... received bytes dropped: ..." for a gap the port left in its port's traffic.
    static std::string DroppedLine(int32_t port, int64_t count);

    // Takes one received record: the bytes of one read, and how many bytes the port dropped
    // just before them. It is ignored, leaving both buffers as they are, when there is no
    // current instrument or its port is neither the instrument's nor the controller's (the
    // instrument's buffer wins when both name the same port). Returns what it adds to the log,
    // in order: at a gap, the bytes gathered before it as a line of their own and the gap's
    // notice in the error colour; then every "COM%d << " line that a carriage return completes,
    // in the received colour. Bytes after the last carriage return wait in the buffer.
    std::vector<TrafficText> Received(const SerialEcho& echo, bool haveInstrument,
                                      int instrumentPort, int controllerPort);

    // The bytes waiting for their carriage return.
    const std::string& InstrumentLine() const { return instrumentLine_; }
    const std::string& ControllerLine() const { return controllerLine_; }

private:
    std::string instrumentLine_;
    std::string controllerLine_;
};
