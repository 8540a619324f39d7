#include "devices/Athena16TempController.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <string>
#include <string_view>

#include "devices/ReplyMeaning.h"
#include "serial/ReplyScan.h"
#include "serial/WireText.h"

namespace {

constexpr const char* kReadProcess = "#01R00";
constexpr const char* kReadSetpoint = "#01R01";
constexpr std::string_view kWriteSetpoint = "#01M01";

// The whole degrees after key: the number is read after as many characters as the key has,
// wherever the key stands (the controller puts it at the start).
std::optional<int32_t> ReadingAfter(std::string_view line, std::string_view key) {
    if (line.find(key) == std::string_view::npos) {
        return std::nullopt;
    }
    return wire::ScanInt(line.substr(key.size()));
}

// The set point the controller reports after a write.
std::optional<double> SetpointWritten(std::string_view line) {
    if (line.find(kWriteSetpoint) == std::string_view::npos) {
        return std::nullopt;
    }
    return wire::ScanReal(line.substr(kWriteSetpoint.size()));
}

}  // namespace

CAthena16TempController::CAthena16TempController() = default;

CAthena16TempController::~CAthena16TempController() {
    Close();
}

bool CAthena16TempController::OpenPort() {
    std::lock_guard command(CommandLock);
    if (!CTempControllerBase::OpenPort()) {
        return false;
    }
    if (!SendCommand("#01?9", false, true)) {
        ClosePort();
        return false;
    }
    return true;
}

bool CAthena16TempController::ReadValue(const char* text, double& value) {
    std::lock_guard command(CommandLock);
    if (!SendCommand(text, false, true)) {
        return false;
    }
    value = ReplyNumber;
    return true;
}

bool CAthena16TempController::GetTemperature(double& temperature) {
    if (!ReadValue(kReadProcess, temperature)) {
        return false;
    }
    LastTemperature = temperature;
    return true;
}

bool CAthena16TempController::GetSetpoint(double& setpoint) {
    return ReadValue(kReadSetpoint, setpoint);
}

bool CAthena16TempController::SetSetpoint(double setpoint) {
    // One decimal, at least three characters, then the unit letter: 25 goes out as "25.0C".
    // Formatted without the C library so that a user locale with a decimal comma cannot change
    // the command.
    std::array<char, 400> text{};
    std::copy(kWriteSetpoint.begin(), kWriteSetpoint.end(), text.begin());
    text[kWriteSetpoint.size()] = ' ';
    char* const first = text.data() + kWriteSetpoint.size() + 1;
    char* const last = text.data() + text.size() - 2;  // room for "C" and the terminating NUL
    const std::to_chars_result result =
        std::to_chars(first, last, setpoint, std::chars_format::fixed, 1);
    if (result.ec != std::errc()) {
        return false;  // cannot happen for a double: 400 characters hold the largest
    }
    result.ptr[0] = 'C';
    result.ptr[1] = '\0';

    std::lock_guard command(CommandLock);
    if (!SendCommand(text.data(), false, true)) {
        return false;
    }
    if (const double reported = ReplyNumber; reported != setpoint) {
        RecordDeviceFailure(platform::FailureKind::DeviceFault,
                            "reports the set point " + wire::FormatReal(reported) + " after " +
                                wire::FormatReal(setpoint) + " was written.");
        return false;
    }
    return true;
}

bool CAthena16TempController::GetSetpoint2(double& /*setpoint*/) {
    return NoSetpoint2();
}

bool CAthena16TempController::NoSetpoint2() {
    RecordDeviceFailure(platform::FailureKind::NotFitted,
                        "is an Athena 16, which has no second set point.");
    return false;
}

bool CAthena16TempController::SetSetpoint2(double /*setpoint*/) {
    return NoSetpoint2();
}

bool CAthena16TempController::ResetController() {
    return true;
}

bool CAthena16TempController::AssembleByte(uint8_t byte) {
    if (byte != '\n') {
        AppendToLine(byte);
        return false;
    }
    // A line of one character or none is not a reply: the LF is ignored and what is there stays,
    // so a lone CR LF leaves its CR ahead of the next reply.
    if (ReceiveLine.size() <= 1) {
        return false;
    }
    if (!EndLine()) {
        return false;  // ran over its bound: dropped
    }
    ReceiveLine.pop_back();  // the CR ahead of the LF
    return true;
}

CCommandChannel::Reply CAthena16TempController::InterpretReading(std::string_view key) {
    const std::optional<int32_t> value = ReadingAfter(TextLine(), key);
    if (!value) {
        return Reply::Incomplete;
    }
    ReplyValue = *value;
    ReplyNumber = static_cast<double>(*value);
    return Reply::Complete;
}

CCommandChannel::Reply CAthena16TempController::InterpretReply() {
    const std::string_view line = TextLine();
    if (line == "ERROR") {
        return Reply::Incomplete;  // the controller did not take the command: it times out
    }
    if (InFlight(kReadProcess)) {
        return InterpretReading(std::string(kReadProcess) + "=");
    }
    if (InFlight(kReadSetpoint)) {
        return InterpretReading(std::string(kReadSetpoint) + "=");
    }
    const std::string_view command(CommandInFlight.c_str());
    if (command.find(kWriteSetpoint) != std::string_view::npos) {
        const std::optional<double> value = SetpointWritten(line);
        if (!value) {
            return Reply::Incomplete;
        }
        ReplyNumber = *value;
        return Reply::Complete;
    }
    if (InFlight("#01?9")) {
        if (line.find("#01") == std::string_view::npos) {
            return Reply::Incomplete;
        }
        IdentityText = wire::Widen(line.substr(3));
        return Reply::Complete;
    }
    return Reply::Incomplete;
}

std::optional<std::string> CAthena16TempController::DescribeReply(std::string_view command,
                                                                  std::string_view reply) {
    // Every command goes out ended by a carriage return.
    if (!command.ends_with('\r')) {
        return std::nullopt;
    }
    command.remove_suffix(1);
    const std::string_view line = reply_meaning::LineText(reply);
    if (command == kReadProcess || command == kReadSetpoint) {
        if (const std::optional<int32_t> degrees = ReadingAfter(line, std::string(command) + "=")) {
            return (command == kReadProcess ? "process " : "set point ") +
                   reply_meaning::Reading(*degrees);
        }
    } else if (const std::optional<double> value = SetpointWritten(line);
               value && command.find(kWriteSetpoint) != std::string_view::npos) {
        return "set point " + reply_meaning::Reading(*value);
    }
    return std::nullopt;
}
