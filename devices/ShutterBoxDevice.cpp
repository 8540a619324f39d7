#include "devices/ShutterBoxDevice.h"

#include <thread>

#include "devices/Vocabulary.h"
#include "serial/ReplyScan.h"
#include "serial/WireText.h"

namespace {

constexpr std::string_view kBanner = "*- Zel Dozivazoro Ltd. -*";

}  // namespace

CShutterBoxDevice::CShutterBoxDevice() : CShutterBoxDevice(Quirks{}) {}

CShutterBoxDevice::CShutterBoxDevice(const Quirks& quirks) : quirks_(quirks) {
    ReplyTimeout = 2000;
}

CShutterBoxDevice::~CShutterBoxDevice() {
    Close();
}

bool CShutterBoxDevice::TestCommSettings(CommSettings /*settings*/) {
    return Probe();
}

bool CShutterBoxDevice::Probe() {
    if (!OpenPort()) {
        return false;
    }
    int32_t state = 0;
    const bool ok = GetShutterState(state);
    ClosePort();
    return ok;
}

bool CShutterBoxDevice::SetShutter(int32_t state) {
    {
        std::lock_guard command(CommandLock);
        ReplyValue = 0;
        const char bytes[5] = {'#', '0', 'S', static_cast<char>(state),
                               static_cast<char>(255 - state)};
        if (!SendCommand(bytes, false, false, 5)) {
            return false;
        }
    }
    // The shutter blades need a moment before the box reports where they are.
    std::this_thread::sleep_for(std::chrono::milliseconds(SettleDelayMs));
    int32_t reached = -1;
    if (!GetShutterState(reached)) {
        return false;
    }
    if (reached == state) {
        return true;
    }
    // It did not get there: fetch the status so that it stands in the log for diagnosis.
    StatusMap scratch;
    ReadStatus(scratch);
    RecordDeviceFailure(platform::FailureKind::DeviceFault,
                        std::string("reports the shutter ") +
                            (reached == 1   ? "open"
                             : reached == 0 ? "closed"
                                            : "in an unknown state") +
                            " after the command to " + (state == 1 ? "open" : "close") + " it.");
    return false;
}

bool CShutterBoxDevice::OpenShutter() {
    return SetShutter(1);
}

bool CShutterBoxDevice::CloseShutter() {
    return SetShutter(0);
}

bool CShutterBoxDevice::GetShutterState(int32_t& state) {
    std::lock_guard command(CommandLock);
    ReplyValue = 0;  // the byte counter of the binary reply
    ReplyValid = 0;
    if (!SendCommand("#0R", false, true)) {
        return false;
    }
    if (ReplyValid != 1) {
        RecordReplyNotUnderstood("#0R");
        return false;
    }
    state = ReplyValue;
    return true;
}

bool CShutterBoxDevice::GetLightSensorState(int32_t& state) {
    state = 1;
    RecordDeviceFailure(platform::FailureKind::NotFitted,
                        "has no light sensor: only the v3.0 shutter controller has one.");
    return false;
}

bool CShutterBoxDevice::ReadStatus(StatusMap& table) {
    std::lock_guard command(CommandLock);
    ReplyValid = 0;
    ReplyValue = 0;
    const bool ok = SendCommand("!0D", false, true);
    if (&table != &StatusTable) {
        std::lock_guard reply(ReplyLock);
        table = StatusTable;
    }
    return ok;
}

bool CShutterBoxDevice::ReadDeviceInfo(::InstrumentInfo& info) {
    std::lock_guard command(CommandLock);
    ReplyValid = 0;
    const bool ok = SendCommand("!0IR", true, true, -1);
    if (ok) {
        std::lock_guard reply(ReplyLock);
        // Only the v3.0 box has the feedback shutter; everything else that answers "!0IR" is a
        // v2.6 box.
        InstrumentInfo.ShutterControllerGeneration =
            InstrumentInfo.ShutterType == vocabulary::kShutterTypeFeedback
                ? vocabulary::kShutterController30
                : vocabulary::kShutterController26;
        info = InstrumentInfo;
    }
    return ok;
}

bool CShutterBoxDevice::AssembleByte(uint8_t byte) {
    // The state reply is two raw bytes, counted, not terminated: 0x0D or 0x00 is data here.
    if (InFlight("#0R")) {
        return AssembleCounted(byte, "XX");
    }
    if (quirks_.lightSensorProtocol) {
        if (InFlight("!0TM?")) {
            // The box repeats the query, "=", then the saved threshold as two raw bytes.
            return AssembleCounted(byte, "!0TM?=XX");
        }
        if (InFlight("!0D")) {
            return AssembleStatusByte(byte);
        }
    }
    return CCommandChannel::AssembleByte(byte);
}

bool CShutterBoxDevice::AssembleStatusByte(uint8_t byte) {
    // v3.0 status lines end at line feed and carry two keys whose values are two raw bytes; those
    // bytes may be CR or LF and are data until both have arrived.
    // The key is what stands before the first "=", so a raw value can only follow "rbk=" or
    // "lsa=" at the very start of the line.
    const std::string_view line(ReceiveLine);
    if (line.size() >= 4 && line.size() < 6 && line[3] == '=' &&
        (line.substr(0, 3) == "rbk" || line.substr(0, 3) == "lsa")) {
        AppendToLine(byte);
        return false;
    }
    if (byte == '\n') {
        return EndLine();
    }
    if (byte != '\r') {
        AppendToLine(byte);
    }
    return false;
}

CCommandChannel::Reply CShutterBoxDevice::InterpretShutterState() {
    if (ReceiveLine.size() < 2) {
        return Reply::Incomplete;
    }
    const auto first = static_cast<uint8_t>(ReceiveLine[0]);
    const auto second = static_cast<uint8_t>(ReceiveLine[1]);
    if (quirks_.unknownStateIsMinusOne) {
        ReplyValue = -1;
    }
    ReplyValid = ((first + second) & 0xFF) == 0xFF ? 1 : 0;
    if (first == 0 || first == 1) {
        ReplyValue = first;
    }
    return Reply::Complete;
}

CCommandChannel::Reply CShutterBoxDevice::InterpretIdentificationLine() {
    const std::string_view line = TextLine();
    if (ReplyValid == 0) {
        InstrumentInfo = ::InstrumentInfo::Unread();
        ReplyValid = 1;
        ReplyValue = wire::ParseDecimal(line);
        return Reply::Incomplete;
    }
    InstrumentInfo.ApplyIdentificationLine(line);
    ReplyValue = wire::Decrement(ReplyValue);
    return ReplyValue == 0 ? Reply::Complete : Reply::Incomplete;
}

CCommandChannel::Reply CShutterBoxDevice::InterpretStatusLine() {
    if (ReplyValid == 0) {
        ReplyValid = 1;
        StatusTable.clear();
        ReplyValue = wire::ParseDecimal(TextLine());
        if (!quirks_.statusHeaderCountsItself) {
            return Reply::Incomplete;
        }
        ReplyValue = wire::Decrement(ReplyValue);
        return ReplyValue == 0 ? Reply::Complete : Reply::Incomplete;
    }
    // Raw values may hold NUL bytes: split the whole line, not its text up to a NUL.
    std::string_view line = quirks_.statusTrimmed ? TextLine() : std::string_view(ReceiveLine);
    const size_t eq = line.find('=');
    std::string_view key = eq == std::string_view::npos ? std::string_view() : line.substr(0, eq);
    std::string_view value = eq == std::string_view::npos ? line : line.substr(eq + 1);
    if (quirks_.statusTrimmed) {
        key = wire::Trim(key);
        value = wire::Trim(value);
    }
    std::wstring wideKey = wire::Widen(key);
    if (StatusTable.size() < kMaxStatusEntries || StatusTable.contains(wideKey)) {
        StatusTable[std::move(wideKey)] = wire::Widen(value);
    }
    ReplyValue = wire::Decrement(ReplyValue);
    return ReplyValue == 0 ? Reply::Complete : Reply::Incomplete;
}

CCommandChannel::Reply CShutterBoxDevice::InterpretThreshold() {
    // "...=" followed by four hexadecimal digits; without "=" the value is left as it was.
    const std::string_view line = TextLine();
    const size_t eq = line.find('=', 1);
    if (eq != std::string_view::npos) {
        int32_t value = 0;
        int digits = 0;
        for (size_t i = eq + 1; i < line.size() && digits < 4; ++i, ++digits) {
            const int d = wire::HexValue(line[i]);
            if (d < 0) {
                break;
            }
            value = value * 16 + d;
        }
        if (digits > 0) {
            ReplyValue = value;
        }
    }
    return Reply::Complete;
}

CCommandChannel::Reply CShutterBoxDevice::InterpretSavedThreshold() {
    const size_t eq = ReceiveLine.find('=', 1);
    if (eq != std::string::npos && eq + 2 < ReceiveLine.size()) {
        ReplyValue = 256 * static_cast<uint8_t>(ReceiveLine[eq + 1]) +
                     static_cast<uint8_t>(ReceiveLine[eq + 2]);
    }
    return Reply::Complete;
}

CCommandChannel::Reply CShutterBoxDevice::InterpretReply() {
    if (InFlight("#0R")) {
        return InterpretShutterState();
    }
    if (!quirks_.textReplies) {
        return Reply::Incomplete;
    }
    if (InFlight("!0V")) {
        if (ReplyValue == 0) {
            ReplyValid = TextLine() == kBanner ? 1 : 0;
        }
        return Reply::Complete;
    }
    if (InFlight("!0IR")) {
        return InterpretIdentificationLine();
    }
    if (InFlight("!0D")) {
        return InterpretStatusLine();
    }
    if (quirks_.lightSensorProtocol) {
        if (InFlight("!0TH?")) {
            return InterpretThreshold();
        }
        if (InFlight("!0TM?")) {
            return InterpretSavedThreshold();
        }
    }
    return Reply::Incomplete;  // no parser for this command: the line is dropped
}
