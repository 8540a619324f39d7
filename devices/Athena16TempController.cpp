#include "devices/Athena16TempController.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <string>
#include <string_view>

#include "serial/ReplyScan.h"
#include "serial/WireText.h"

namespace {

// A number as the technician reads it, whatever the user's locale.
std::string FormatReal(double value) {
    std::array<char, 64> text{};
    const std::to_chars_result result =
        std::to_chars(text.data(), text.data() + text.size(), value);
    return std::string(text.data(), result.ptr);
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
    if (!ReadValue("#01R00", temperature)) {
        return false;
    }
    LastTemperature = temperature;
    return true;
}

bool CAthena16TempController::GetSetpoint(double& setpoint) {
    return ReadValue("#01R01", setpoint);
}

bool CAthena16TempController::SetSetpoint(double setpoint) {
    // One decimal, at least three characters, then the unit letter: 25 goes out as "25.0C".
    // Formatted without the C library so that a user locale with a decimal comma cannot change
    // the command.
    std::array<char, 400> text{};
    constexpr std::string_view kPrefix = "#01M01 ";
    std::copy(kPrefix.begin(), kPrefix.end(), text.begin());
    char* const first = text.data() + kPrefix.size();
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
                            "reports the set point " + FormatReal(reported) + " after " +
                                FormatReal(setpoint) + " was written.");
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
    // The number is read after the first seven characters wherever the key stands; the
    // controller puts it at the start.
    const std::string_view line = TextLine();
    if (line.find(key) == std::string_view::npos) {
        return Reply::Incomplete;
    }
    const std::optional<int32_t> value = wire::ScanInt(line.substr(key.size()));
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
    if (InFlight("#01R00")) {
        return InterpretReading("#01R00=");
    }
    if (InFlight("#01R01")) {
        return InterpretReading("#01R01=");
    }
    const std::string_view command(CommandInFlight.c_str());
    if (command.find("#01M01") != std::string_view::npos) {
        constexpr std::string_view kKey = "#01M01";
        if (line.find(kKey) == std::string_view::npos) {
            return Reply::Incomplete;
        }
        const std::optional<double> value = wire::ScanReal(line.substr(kKey.size()));
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
