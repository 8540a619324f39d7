#include "devices/ShutterBoxDevice.h"

#include <algorithm>
#include <cstdio>
#include <thread>

#include "devices/ReplyMeaning.h"
#include "devices/Vocabulary.h"
#include "serial/ReplyScan.h"
#include "serial/WireText.h"

namespace {

constexpr std::string_view kBanner = "*- Zel Dozivazoro Ltd. -*";
constexpr const char* kStateQuery = "#0R";
constexpr const char* kStatusQuery = "!0D";
constexpr const char* kIdentify = "!0IR";

// The state reply's two raw bytes: the state (0 closed, 1 open, -1 anything else) and whether
// the second byte checks it.
struct StateBytes {
    int32_t state;
    bool checked;
};

StateBytes ReadState(uint8_t first, uint8_t second) {
    return {first <= 1 ? static_cast<int32_t>(first) : -1, ((first + second) & 0xFF) == 0xFF};
}

// "...=" followed by up to four hexadecimal digits; nothing without "=" or a digit.
std::optional<int32_t> ThresholdValue(std::string_view line) {
    const size_t eq = line.find('=', 1);
    if (eq == std::string_view::npos) {
        return std::nullopt;
    }
    int32_t value = 0;
    int digits = 0;
    for (size_t i = eq + 1; i < line.size() && digits < 4; ++i, ++digits) {
        const int d = wire::HexValue(line[i]);
        if (d < 0) {
            break;
        }
        value = value * 16 + d;
    }
    return digits > 0 ? std::optional(value) : std::nullopt;
}

// The query repeated, "=", then the saved threshold as two raw bytes, high first.
std::optional<int32_t> SavedThresholdValue(std::string_view line) {
    const size_t eq = line.find('=', 1);
    if (eq == std::string_view::npos || eq + 2 >= line.size()) {
        return std::nullopt;
    }
    return 256 * static_cast<uint8_t>(line[eq + 1]) + static_cast<uint8_t>(line[eq + 2]);
}

std::string Hex4(const char* what, int32_t value) {
    char text[48];
    std::snprintf(text, sizeof text, "%s 0x%04X", what, static_cast<unsigned>(value) & 0xFFFFu);
    return text;
}

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
    if (!SendCommand(kStateQuery, false, true)) {
        return false;
    }
    if (ReplyValid != 1) {
        RecordReplyNotUnderstood(kStateQuery);
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
    const bool ok = SendCommand(kStatusQuery, false, true);
    if (&table != &StatusTable) {
        std::lock_guard reply(ReplyLock);
        table = StatusTable;
    }
    return ok;
}

bool CShutterBoxDevice::ReadDeviceInfo(::InstrumentInfo& info) {
    std::lock_guard command(CommandLock);
    ReplyValid = 0;
    const bool ok = SendCommand(kIdentify, true, true, -1);
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
    if (InFlight(kStateQuery)) {
        return AssembleCounted(byte, "XX");
    }
    if (quirks_.lightSensorProtocol) {
        if (InFlight(kSavedThresholdQuery)) {
            // The box repeats the query, "=", then the saved threshold as two raw bytes.
            return AssembleCounted(byte, "!0TM?=XX");
        }
        if (InFlight(kStatusQuery)) {
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
    const StateBytes read =
        ReadState(static_cast<uint8_t>(ReceiveLine[0]), static_cast<uint8_t>(ReceiveLine[1]));
    if (read.state >= 0 || quirks_.unknownStateIsMinusOne) {
        ReplyValue = read.state;
    }
    ReplyValid = read.checked ? 1 : 0;
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
    // Without a value the one before stays.
    if (const std::optional<int32_t> value = ThresholdValue(TextLine())) {
        ReplyValue = *value;
    }
    return Reply::Complete;
}

CCommandChannel::Reply CShutterBoxDevice::InterpretSavedThreshold() {
    if (const std::optional<int32_t> value = SavedThresholdValue(ReceiveLine)) {
        ReplyValue = *value;
    }
    return Reply::Complete;
}

CCommandChannel::Reply CShutterBoxDevice::InterpretReply() {
    if (InFlight(kStateQuery)) {
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
    if (InFlight(kIdentify)) {
        return InterpretIdentificationLine();
    }
    if (InFlight(kStatusQuery)) {
        return InterpretStatusLine();
    }
    if (quirks_.lightSensorProtocol) {
        if (InFlight(kThresholdQuery)) {
            return InterpretThreshold();
        }
        if (InFlight(kSavedThresholdQuery)) {
            return InterpretSavedThreshold();
        }
    }
    return Reply::Incomplete;  // no parser for this command: the line is dropped
}

std::optional<int32_t> CShutterBoxDevice::LightSensorState(const StatusMap& status) {
    const auto it = status.find(L"bls");
    if (it == status.end()) {
        return std::nullopt;
    }
    return it->second == L"0" ? 0 : 1;
}

std::optional<std::string> CShutterBoxDevice::DescribeReply(std::string_view command,
                                                            std::string_view reply) {
    if (command == kStateQuery) {
        if (reply.size() < 2) {
            return std::nullopt;
        }
        const StateBytes read =
            ReadState(static_cast<uint8_t>(reply[0]), static_cast<uint8_t>(reply[1]));
        return !read.checked     ? "check byte wrong"
               : read.state == 1 ? "shutter open"
               : read.state == 0 ? "shutter closed"
                                 : "shutter state unknown";
    }
    if (command == kThresholdQuery) {
        const std::optional<int32_t> value = ThresholdValue(reply_meaning::LineText(reply));
        return value ? std::optional(Hex4("threshold", *value)) : std::nullopt;
    }
    if (command == kSavedThresholdQuery) {
        const std::optional<int32_t> value = SavedThresholdValue(reply);
        return value ? std::optional(Hex4("saved threshold", *value)) : std::nullopt;
    }
    if (command == kIdentify) {
        return DescribeIdentificationLine(reply_meaning::LineText(reply));
    }
    if (command == kStatusQuery) {
        // The v3.0 box ends its status lines at line feeds, the log its lines at carriage
        // returns: the reply may hold several status lines.
        StatusMap status;
        for (size_t start = 0; start < reply.size();) {
            const size_t end = std::min(reply.find_first_of("\r\n", start), reply.size());
            const std::string_view line = reply.substr(start, end - start);
            if (const size_t eq = line.find('='); eq != std::string_view::npos) {
                status[wire::Widen(line.substr(0, eq))] = wire::Widen(line.substr(eq + 1));
            }
            start = end + 1;
        }
        const std::optional<int32_t> state = LightSensorState(status);
        return state ? std::optional("light sensor " + std::to_string(*state)) : std::nullopt;
    }
    return std::nullopt;
}
