#include "platform/Failure.h"

#include <cstdio>
#include <optional>

#include "platform/PortNames.h"

namespace platform {

const char* FailureKindName(FailureKind kind) {
    switch (kind) {
        case FailureKind::None:
            return "none";
        case FailureKind::NoSuchPort:
            return "no-such-port";
        case FailureKind::Busy:
            return "busy";
        case FailureKind::NoPermission:
            return "no-permission";
        case FailureKind::NotASerialPort:
            return "not-a-serial-port";
        case FailureKind::OpenFailed:
            return "open-failed";
        case FailureKind::LineSettingRefused:
            return "line-setting-refused";
        case FailureKind::NotOpen:
            return "not-open";
        case FailureKind::WriteFailed:
            return "write-failed";
        case FailureKind::WriteTimedOut:
            return "write-timed-out";
        case FailureKind::NoReply:
            return "no-reply";
        case FailureKind::ReplyNotUnderstood:
            return "reply-not-understood";
        case FailureKind::DeviceFault:
            return "device-fault";
        case FailureKind::DeviceGone:
            return "device-gone";
        case FailureKind::NotFitted:
            return "not-fitted";
        case FailureKind::InvalidRequest:
            return "invalid-request";
        case FailureKind::FileError:
            return "file-error";
    }
    return "unknown";
}

std::string PrintableBytes(std::string_view bytes, size_t limit) {
    if (bytes.empty()) {
        return "nothing";
    }
    std::string text = "\"";
    for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        // "<" stands for itself only inside a <hex>, so that the two cannot be mistaken.
        if (byte >= 0x20 && byte < 0x7F && byte != '<') {
            text.push_back(static_cast<char>(byte));
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "<%02X>", byte);
            text += hex;
        }
    }
    if (bytes.size() > limit) {
        text += "...";
    }
    text.push_back('"');
    return text;
}

std::string PortLabel(int portNumber) {
    const std::string name = "COM" + std::to_string(portNumber);
    const std::optional<std::string> path = PortDevicePath(portNumber);
    return path ? name + " (" + *path + ")" : name;
}

}  // namespace platform
