#include "devices/ShutterController3.h"

#include <cstdio>

CShutterController3::CShutterController3()
    : CShutterBoxDevice(Quirks{
          .statusHeaderCountsItself = false, .statusTrimmed = false, .lightSensorProtocol = true}) {
}

CShutterController3::~CShutterController3() {
    Close();
}

bool CShutterController3::GetLightSensorState(int32_t& state) {
    StatusMap status;
    const bool ok = ReadStatus(status);
    state = LightSensorState(status).value_or(1);
    return ok;
}

bool CShutterController3::SetWriteProtect(bool protect) {
    std::lock_guard command(CommandLock);
    WriteProtected = protect ? 1 : 0;
    const char bytes[5] = {'!', '0', 'W', 'P', static_cast<char>(protect ? 0 : 1)};
    return SendCommand(bytes, false, false, 5);
}

bool CShutterController3::ReloadThreshold() {
    return SendCommand("!0TR", false, false);
}

bool CShutterController3::ReadThresholdReply(const char* query, int32_t& value) {
    std::lock_guard command(CommandLock);
    ReplyValue = 0;
    if (!SendCommand(query, false, true)) {
        return false;
    }
    value = ReplyValue.load();
    return true;
}

bool CShutterController3::ReadActiveThreshold(int32_t& value) {
    return ReadThresholdReply(kThresholdQuery, value);
}

bool CShutterController3::ReadSavedThreshold(int32_t& value) {
    return ReadThresholdReply(kSavedThresholdQuery, value);
}

bool CShutterController3::StepThreshold(ThresholdStep step) {
    switch (step) {
        case ThresholdStep::Up6dB:
            return SendCommand("!0TH6+", false, false);
        case ThresholdStep::Down6dB:
            return SendCommand("!0TH6-", false, false);
        case ThresholdStep::Up1:
            return SendCommand("!0TH+", false, false);
        case ThresholdStep::Down1:
            return SendCommand("!0TH-", false, false);
    }
    return false;
}

bool CShutterController3::SaveThreshold() {
    return SendCommand("!0TS", false, false);
}

bool CShutterController3::SetThreshold(uint16_t value) {
    std::lock_guard command(CommandLock);
    char text[8];
    std::snprintf(text, sizeof text, "#0T%04X", static_cast<unsigned>(value));
    if (!SendCommand(text, false, false)) {
        return false;
    }
    ReplyValue = 0;
    const platform::Failure written = LastFailure();
    const bool answered = SendCommand(kThresholdQuery, false, true);
    const int32_t readBack = answered ? ReplyValue.load() : value;
    if (!answered) {
        RestoreFailure(written);  // an unanswered read-back is not a failure of the write
    }
    if (readBack != value) {
        char what[96];
        std::snprintf(what, sizeof what, "reports the threshold 0x%04X after 0x%04X was set.",
                      static_cast<unsigned>(readBack) & 0xFFFFu, static_cast<unsigned>(value));
        RecordDeviceFailure(platform::FailureKind::DeviceFault, what);
        return false;
    }
    return true;
}
