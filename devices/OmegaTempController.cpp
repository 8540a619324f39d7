#include "devices/OmegaTempController.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "devices/OmegaSetpoint.h"
#include "devices/ReplyMeaning.h"
#include "serial/ReplyScan.h"

namespace {

constexpr uint32_t kEchoBit = 0x04;  // in the bus format register, 0x1F
constexpr const char* kReadProcess = "*X01";
constexpr const char* kReadSetpoint1 = "*R01";
constexpr const char* kReadSetpoint2 = "*R02";

// The display's reading: a decimal number.
std::optional<double> ProcessReading(std::string_view line) {
    return wire::ScanReal(line);
}

void SleepMs(uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace

COmegaTempController::COmegaTempController() = default;

COmegaTempController::~COmegaTempController() {
    Close();
}

bool COmegaTempController::OpenPort() {
    std::lock_guard command(CommandLock);
    if (!CTempControllerBase::OpenPort()) {
        return false;
    }
    ReplyValue = 0;
    ReplyValid = 0;
    if (!SendCommand("*R1F", false, true)) {
        ClosePort();
        return false;
    }
    if (EchoMode()) {
        // An echoing controller prefixes its answers, which none of the parsers read. Write the
        // bus format back without the echo bit (even when it reads clear: the controller echoes
        // all the same) and restart it so that it takes the format up. Neither command is
        // answered in a form the driver accepts, so each ends by its time-out.
        // Their time-outs are expected, and no failure of the open: what was recorded before
        // them (a refused line setting) is what the caller learns.
        const platform::Failure opened = LastFailure();
        char fix[16];
        std::snprintf(fix, sizeof fix, "*W1F%02X",
                      static_cast<unsigned>(ReplyValue.load()) & ~kEchoBit);
        SendCommand(fix, false, true);
        SleepMs(EchoFixDelayMs);
        SendCommand("*Z02", false, true);
        RestoreFailure(opened);
    }
    return true;
}

bool COmegaTempController::GetTemperature(double& temperature) {
    std::lock_guard command(CommandLock);
    if (!SendCommand(kReadProcess, false, true)) {
        return false;
    }
    temperature = ReplyNumber;
    LastTemperature = temperature;
    return true;
}

bool COmegaTempController::ReadSetpoint(const char* text, double& setpoint) {
    std::lock_guard command(CommandLock);
    if (!SendCommand(text, false, true)) {
        return false;
    }
    setpoint = ReplyNumber;
    return true;
}

bool COmegaTempController::GetSetpoint(double& setpoint) {
    return ReadSetpoint(kReadSetpoint1, setpoint);
}

bool COmegaTempController::GetSetpoint2(double& setpoint) {
    return ReadSetpoint(kReadSetpoint2, setpoint);
}

bool COmegaTempController::ReadRegister(int32_t reg, uint32_t& value) {
    char text[16];
    std::snprintf(text, sizeof text, "*R%02X", static_cast<unsigned>(reg));
    RegisterReadPending = 1;
    const bool ok = SendCommand(text, false, true);
    RegisterReadPending = 0;
    value = ok ? static_cast<uint32_t>(ReplyValue.load()) : 0xFFFFFFFF;
    return ok;
}

bool COmegaTempController::WriteRegister(uint32_t reg, uint32_t value, uint32_t widthDigits) {
    // Register widths are at most 6; the clamp only keeps a nonsense width from asking for
    // megabytes of zeros.
    const int digits = static_cast<int>(std::min<uint32_t>(widthDigits, 16));
    char text[48];
    std::snprintf(text, sizeof text, "*W%02X%0*X", static_cast<unsigned>(reg), digits,
                  static_cast<unsigned>(value));
    return SendCommand(text, false, false);
}

bool COmegaTempController::ReadDecimalPoint(uint32_t& code) {
    std::lock_guard command(CommandLock);
    if (!SendCommand("*R08", false, true)) {
        SleepMs(DecimalPointRetryDelayMs);
        if (!SendCommand("*R08", false, true)) {
            return false;
        }
    }
    code = static_cast<uint32_t>(ReplyValue.load()) & 7;
    return true;
}

bool COmegaTempController::WriteSetpoint(int number, double setpoint) {
    // One lock for the decimal-point read, the write and its read-back: nothing may change the
    // reading configuration between them.
    std::lock_guard command(CommandLock);
    uint32_t decimalPoint = 0;
    if (!ReadDecimalPoint(decimalPoint)) {
        return false;
    }
    const std::optional<uint32_t> code = omega::EncodeSetpoint(setpoint, decimalPoint);
    if (!code) {
        char what[96];
        std::snprintf(what, sizeof what,
                      "cannot take the set point %g with its decimal point setting (%u).", setpoint,
                      static_cast<unsigned>(decimalPoint));
        RecordDeviceFailure(platform::FailureKind::InvalidRequest, what);
        return false;
    }
    const std::string text = omega::SetpointWriteCommand(number, *code);
    const platform::Failure before = LastFailure();
    const bool sent = SendCommand(text.c_str(), false, false);
    // The controller takes a moment before the register shows the new value; wait for that so
    // that the caller's next read sees it. A value that never shows does not fail the write.
    // A write that did not go out has nothing to wait for.
    for (int attempt = 0; sent && attempt < kSetpointReadBackTries; ++attempt) {
        SleepMs(ReadBackDelayMs);
        uint32_t shown = 0;
        if (ReadRegister(number, shown) && shown == *code) {
            break;
        }
    }
    if (sent) {
        RestoreFailure(before);  // a read-back that failed fails no write
    }
    return sent;
}

bool COmegaTempController::SetSetpoint(double setpoint) {
    return WriteSetpoint(1, setpoint);
}

bool COmegaTempController::SetSetpoint2(double setpoint) {
    return WriteSetpoint(2, setpoint);
}

bool COmegaTempController::ResetController() {
    std::lock_guard command(CommandLock);
    const platform::Failure before = LastFailure();
    const bool sent = SendCommand("*Z02", false, false);
    // Wait until the restarted controller reports a set point again, so that the caller's next
    // command finds it running. How long it took does not change the result.
    for (int attempt = 0; sent && attempt < kResetReadBackTries; ++attempt) {
        SleepMs(ReadBackDelayMs);
        uint32_t setpoint = 0;
        if (ReadRegister(0x01, setpoint) && setpoint != 0) {
            break;
        }
    }
    if (sent) {
        RestoreFailure(before);  // a read-back that failed fails no restart
    }
    return sent;
}

CCommandChannel::Reply COmegaTempController::InterpretHexValue() {
    const std::optional<uint32_t> value = wire::ScanHex(TextLine());
    if (!value) {
        return Reply::Incomplete;
    }
    ReplyValue = static_cast<int32_t>(*value);
    return Reply::Complete;
}

CCommandChannel::Reply COmegaTempController::InterpretBusFormat() {
    const std::string_view line = TextLine();
    if (line == "*R1F") {
        return Reply::Incomplete;  // the command line itself, repeated by the line
    }
    if (line.substr(0, 3) == "R1F") {
        ReplyValid = 1;
        if (const std::optional<uint32_t> value = wire::ScanHex(line.substr(3))) {
            ReplyValue = static_cast<int32_t>(*value);
        }
        return Reply::Complete;
    }
    ReplyValid = 0;
    return Reply::Complete;
}

CCommandChannel::Reply COmegaTempController::InterpretReply() {
    if (RegisterReadPending != 0) {
        return InterpretHexValue();
    }
    if (InFlight(kReadProcess)) {
        // Anything but a number reads as 0.0.
        ReplyNumber = ProcessReading(TextLine()).value_or(0.0);
        return Reply::Complete;
    }
    if (InFlight(kReadSetpoint1) || InFlight(kReadSetpoint2)) {
        const std::optional<uint32_t> raw = wire::ScanHex(TextLine());
        if (!raw) {
            return Reply::Incomplete;
        }
        ReplyNumber = omega::DecodeSetpoint(*raw);
        return Reply::Complete;
    }
    if (InFlight("*R08")) {
        return InterpretHexValue();
    }
    if (InFlight("*R1F")) {
        return InterpretBusFormat();
    }
    return Reply::Incomplete;  // writes and restarts are not answered in a form we read
}

std::optional<std::string> COmegaTempController::DescribeReply(std::string_view command,
                                                               std::string_view reply) {
    // Every command goes out ended by a carriage return.
    if (!command.ends_with('\r')) {
        return std::nullopt;
    }
    command.remove_suffix(1);
    const std::string_view line = reply_meaning::LineText(reply);
    if (command == kReadProcess) {
        if (const std::optional<double> reading = ProcessReading(line)) {
            return "process " + reply_meaning::Reading(*reading);
        }
    } else if (command == kReadSetpoint1 || command == kReadSetpoint2) {
        if (const std::optional<uint32_t> raw = wire::ScanHex(line)) {
            return (command == kReadSetpoint1 ? "set point " : "set point 2 ") +
                   reply_meaning::Reading(omega::DecodeSetpoint(*raw));
        }
    }
    return std::nullopt;
}
