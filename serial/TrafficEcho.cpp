#include "serial/TrafficEcho.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace {

constexpr char kCarriageReturn = '\r';

std::string_view RecordBytes(const SerialEcho& echo) {
    const std::size_t length =
        std::min(static_cast<std::size_t>(std::max<int32_t>(echo.Length, 0)), echo.Text.size());
    return std::string_view(echo.Text.data(), length);
}

std::string Escape(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + 1);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte <= 0x7E) {
            out += c;
            continue;
        }
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "[0x%02X]", byte);
        out += escaped;
        if (byte == '\r' || byte == '\n') {
            out += '\n';
        }
    }
    if (out.empty() || out.back() != '\n') {
        out += '\n';
    }
    return out;
}

std::string PortPrefix(int32_t port, const char* direction) {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "COM%d %s ", static_cast<int>(port), direction);
    return prefix;
}

}  // namespace

std::string EscapeTraffic(const SerialEcho& echo) {
    return Escape(RecordBytes(echo));
}

std::string CTrafficEcho::SentLine(const SerialEcho& echo) {
    return PortPrefix(echo.PortNumber, ">>") + EscapeTraffic(echo);
}

std::string CTrafficEcho::DroppedLine(int32_t port, int64_t count) {
    std::string digits = std::to_string(count);
    for (auto at = static_cast<std::ptrdiff_t>(digits.size()) - 3; at > 0; at -= 3) {
        digits.insert(static_cast<std::size_t>(at), 1, ',');
    }
    return "COM" + std::to_string(port) + ": " + digits +
           (count == 1 ? " received byte" : " received bytes") +
           " dropped: the device sends faster than the log can show.\n";
}

std::vector<TrafficText> CTrafficEcho::Received(const SerialEcho& echo, bool haveInstrument,
                                                int instrumentPort, int controllerPort) {
    if (!haveInstrument) {
        return {};
    }
    std::string* line = nullptr;
    if (echo.PortNumber == instrumentPort) {
        line = &instrumentLine_;
    } else if (echo.PortNumber == controllerPort) {
        line = &controllerLine_;
    } else {
        return {};
    }

    std::vector<TrafficText> logged;
    if (echo.Dropped > 0) {
        // What came before the gap is shown as it is, unended, rather than joined to what comes
        // after it into a line the device never sent.
        if (!line->empty()) {
            logged.push_back({PortPrefix(echo.PortNumber, "<<") + Escape(*line), kLogReceived});
            line->clear();
        }
        logged.push_back({DroppedLine(echo.PortNumber, echo.Dropped), kLogError});
    }
    // Every line the record's bytes complete, one after the other, in one piece of text.
    std::string completed;
    for (const char byte : RecordBytes(echo)) {
        line->push_back(byte);
        // At the bound the gathered bytes are logged as a line of their own rather than dropped:
        // whatever a misbehaving device sent stays visible, and since such a line does not end
        // in [0x0D] it is plain to see that no carriage return closed it.
        if (byte == kCarriageReturn || line->size() >= kLineLimit) {
            completed += PortPrefix(echo.PortNumber, "<<") + Escape(*line);
            line->clear();
        }
    }
    if (!completed.empty()) {
        logged.push_back({std::move(completed), kLogReceived});
    }
    return logged;
}
