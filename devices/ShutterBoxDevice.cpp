#include "devices/ShutterBoxDevice.h"

#include <thread>

#include "serial/WireText.h"

namespace {

constexpr const char* kBanner = "*- Zel Dozivazoro Ltd. -*";

}  // namespace

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
    std::this_thread::sleep_for(std::chrono::milliseconds(SettleDelayMs));
    int32_t reached = -1;
    if (!GetShutterState(reached)) {
        return false;
    }
    if (reached == state) {
        return true;
    }
    // The box did not get there: fetch its status so that the exchange shows in the log.
    StatusMap scratch;
    ReadStatus(scratch);
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
    if (!SendCommand("#0R", false, true) || ReplyValid != 1) {
        return false;
    }
    state = ReplyValue;
    return true;
}

bool CShutterBoxDevice::GetLightSensorState(int32_t& state) {
    state = 1;
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

bool CShutterBoxDevice::AssembleByte(uint8_t byte) {
    // The state reply is two raw bytes, counted, not terminated: 0x0D or 0x00 is data here.
    if (InFlight("#0R")) {
        return AssembleCounted(byte, "XX");
    }
    return CCommandChannel::AssembleByte(byte);
}

CCommandChannel::Reply CShutterBoxDevice::InterpretShutterState() {
    if (ReceiveLine.size() < 2) {
        return Reply::Incomplete;
    }
    const auto first = static_cast<uint8_t>(ReceiveLine[0]);
    const auto second = static_cast<uint8_t>(ReceiveLine[1]);
    ReplyValue = -1;
    ReplyValid = ((first + second) & 0xFF) == 0xFF ? 1 : 0;
    if (first == 0 || first == 1) {
        ReplyValue = first;
    }
    return Reply::Complete;
}

CCommandChannel::Reply CShutterBoxDevice::InterpretStatusLine() {
    const std::string_view line = TextLine();
    if (ReplyValid == 0) {
        ReplyValid = 1;
        StatusTable.clear();
        // The header is one of the lines this generation counts.
        ReplyValue = wire::Decrement(wire::ParseDecimal(line));
    } else {
        const size_t eq = line.find('=');
        const std::string_view key =
            eq == std::string_view::npos ? std::string_view() : line.substr(0, eq);
        const std::string_view value = eq == std::string_view::npos ? line : line.substr(eq + 1);
        std::wstring wideKey = wire::Widen(wire::Trim(key));
        // A box that claims a huge count and keeps inventing keys must not grow the table
        // without end; the line is still counted.
        if (StatusTable.size() < kMaxStatusEntries || StatusTable.count(wideKey) != 0) {
            StatusTable[std::move(wideKey)] = wire::Widen(wire::Trim(value));
        }
        ReplyValue = wire::Decrement(ReplyValue);
    }
    return ReplyValue == 0 ? Reply::Complete : Reply::Incomplete;
}

CCommandChannel::Reply CShutterBoxDevice::InterpretReply() {
    if (InFlight("#0R")) {
        return InterpretShutterState();
    }
    if (InFlight("!0V")) {
        if (ReplyValue == 0) {
            ReplyValid = TextLine() == kBanner ? 1 : 0;
        }
        return Reply::Complete;
    }
    if (InFlight("!0D")) {
        return InterpretStatusLine();
    }
    return Reply::Incomplete;  // no parser for this command: the line is dropped
}
