#include "devices/SmartMotor.h"

#include <cstdio>

#include "devices/ReplyMeaning.h"
#include "devices/Vocabulary.h"
#include "serial/WireText.h"

namespace {

constexpr std::string_view kBanner = "** Zel Dozivazoro Ltd. **";
constexpr std::string_view kHomeReport = "HOME:1";
constexpr const char* kLightSubroutine = "GOSUB0";
constexpr const char* kFilterSubroutine = "GOSUB4";
constexpr const char* kHomeSubroutine = "GOSUB5";
constexpr const char* kIdentifySubroutine = "GOSUB100";
constexpr const char* kRestart = "Z";
// What the motion program's subroutines report, each followed by a number.
constexpr std::string_view kLightReport = "LIGHT:";
constexpr std::string_view kFilterReport = "FILT:";
constexpr std::string_view kShutterReport = "SHTR:";

}  // namespace

CSmartMotor::CSmartMotor() : CSmartMotor(Quirks{}) {}

CSmartMotor::CSmartMotor(const Quirks& quirks) : quirks_(quirks) {}

CSmartMotor::~CSmartMotor() {
    Close();
}

bool CSmartMotor::AssembleByte(uint8_t byte) {
    if (byte == '\n') {
        return false;  // the motor ends its lines with CR LF; the LF carries nothing
    }
    return CCommandChannel::AssembleByte(byte);
}

bool CSmartMotor::WriteCommand(const std::string& command, const std::string& wire, bool waitEcho,
                               bool waitReply, const platform::Deadline& deadline) {
    PrepareCommand(command);
    {
        std::lock_guard reply(ReplyLock);
        replyMatched_ = false;
        if (waitEcho) {
            EchoPendingEvent.Set();
        }
        if (waitReply) {
            ReplyPendingEvent.Set();
        }
    }
    return Write(wire.data(), static_cast<int32_t>(wire.size()), deadline.RemainingMs());
}

int64_t CSmartMotor::ReplyTimeoutFor(const std::string& command) const {
    const char* text = command.c_str();  // compared as the text it is on the wire
    if (std::string_view(text) == kHomeSubroutine) {
        return Timeout.Home;
    }
    if (std::string_view(text) == kFilterSubroutine) {
        return Timeout.Filter;
    }
    if (std::string_view(text) == kRestart) {
        return Timeout.Reset;
    }
    if (std::string_view(text) == kIdentifySubroutine) {
        return Timeout.Identify;
    }
    return Timeout.Reply;
}

bool CSmartMotor::EchoHandshake() {
    std::lock_guard command(CommandLock);
    bool written = false;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const platform::Deadline deadline(Timeout.Echo);
        written = WriteCommand("ECHO", "ECHO\r", true, false, deadline);
        if (!written) {
            break;
        }
        if (EchoReceivedEvent.Wait(deadline.RemainingMs())) {
            EchoPendingEvent.Reset();
            EchoReceivedEvent.Reset();
            return true;
        }
    }
    EchoPendingEvent.Reset();
    EchoReceivedEvent.Reset();
    if (written) {
        RecordReplyFailure("ECHO\r", Timeout.Echo);
    }
    return false;
}

bool CSmartMotor::SendCommand(const char* data, bool waitEcho, bool waitReply, int32_t length) {
    const std::optional<std::string> bytes = CommandBytes(data, length);
    if (!bytes) {
        return false;
    }
    const std::string& command = *bytes;
    const std::string wire = length < 0 ? command + '\r' : command;

    // The write shares the time-out of what comes back first: the echo, or else the reply. A
    // line that does not drain then fails the command as a missing echo or reply would.
    const int64_t firstWaitMs = waitEcho ? Timeout.Echo : ReplyTimeoutFor(command);
    const platform::Deadline firstWait(firstWaitMs);
    if (!WriteCommand(command, wire, waitEcho, waitReply, firstWait)) {
        AwaitReply(0);
        EchoPendingEvent.Reset();
        return false;
    }
    if (waitEcho) {
        if (!EchoReceivedEvent.Wait(firstWait.RemainingMs())) {
            // The motor may have lost its echo mode (a restart, a power blip): switch it on
            // again and give the command one more go.
            if (EchoHandshake()) {
                const platform::Deadline again(Timeout.Echo);
                if (!WriteCommand(command, wire, true, waitReply, again)) {
                    AwaitReply(0);
                    EchoPendingEvent.Reset();
                    return false;
                }
                if (!EchoReceivedEvent.Wait(again.RemainingMs())) {
                    AwaitReply(0);
                    EchoPendingEvent.Reset();
                    EchoReceivedEvent.Reset();
                    RecordReplyFailure(wire, Timeout.Echo);
                    return false;
                }
            }
        }
        EchoPendingEvent.Reset();
        EchoReceivedEvent.Reset();
    }
    if (!waitReply) {
        return true;
    }
    if (!AwaitReply(waitEcho ? ReplyTimeoutFor(command) : firstWait.RemainingMs())) {
        RecordReplyFailure(wire, waitEcho ? ReplyTimeoutFor(command) : firstWaitMs);
        return false;
    }
    if (!FaultEvent.IsSet()) {
        return true;
    }
    const std::string fault = NotedReplyLine();
    FetchFaultReport();
    std::string report;
    {
        std::lock_guard reply(ReplyLock);
        report = FaultText;
    }
    // The report's lines on one line of the technician's log.
    while (report.ends_with("\r\n")) {
        report.resize(report.size() - 2);
    }
    for (size_t end = report.find("\r\n"); end != std::string::npos; end = report.find("\r\n")) {
        report.replace(end, 2, "; ");
    }
    RecordDeviceFailure(platform::FailureKind::DeviceFault,
                        "reported " + platform::PrintableBytes(fault) + " in answer to " +
                            platform::PrintableBytes(wire) +
                            "; its fault report: " + platform::PrintableBytes(report, 400) + ".");
    return false;
}

void CSmartMotor::FetchFaultReport() {
    FaultEvent.Reset();
    ReplyValid = 0;  // the report starts a fresh fault text
    const platform::Deadline deadline(Timeout.Reset);
    if (WriteCommand("GOSUB9", "GOSUB9\r", true, true, deadline)) {
        AwaitReply(deadline.RemainingMs());
    } else {
        AwaitReply(0);
    }
    EchoPendingEvent.Reset();
    EchoReceivedEvent.Reset();
}

void CSmartMotor::ProcessReply() {
    std::lock_guard reply(ReplyLock);
    const std::string_view line = TextLine();
    if (EchoPendingEvent.IsSet()) {
        // The first line after a command is its echo; anything else there means the echo was
        // lost, and the command is then written again or fails.
        if (line == std::string_view(CommandInFlight.c_str())) {
            EchoReceivedEvent.Set();
        } else {
            NoteReplyLine();
        }
        EchoPendingEvent.Reset();
        return;
    }
    if (!ReplyPendingEvent.IsSet()) {
        return;
    }
    NoteReplyLine();
    if (wire::StartsWith(line, "FATAL")) {
        FaultEvent.Set();
        CompleteReply();
        return;
    }
    if (InterpretReply() == Reply::Complete) {
        CompleteReply();
    }
}

CCommandChannel::Reply CSmartMotor::InterpretReply() {
    const std::string_view line = TextLine();
    int32_t number = 0;
    if (InFlight(kLightSubroutine)) {
        if (wire::ScanPrefixedInt(line, kLightReport, number)) {
            ReplyValue = number;
        }
        return Reply::Complete;
    }
    if (InFlight(kHomeSubroutine)) {
        if (line == kHomeReport) {
            ReplyValid = 1;
            return Reply::Complete;
        }
        return Reply::Incomplete;
    }
    if (InFlight("RP") || InFlight("RPA")) {
        const bool read = wire::ScanPrefixedInt(line, "", number);
        if (read) {
            ReplyValue = number;
        }
        ReplyValid = read ? 1 : 0;
        return Reply::Complete;
    }
    if (InFlight(kFilterSubroutine)) {
        replyMatched_ = wire::ScanPrefixedInt(line, kFilterReport, number);
        if (replyMatched_) {
            ReplyValue = number;
        }
        return Reply::Complete;
    }
    if (InFlight(kShutterSubroutine) || InFlight(kLegacyShutterSubroutine)) {
        replyMatched_ = wire::ScanPrefixedInt(line, kShutterReport, number);
        if (replyMatched_) {
            ReplyValue = number;
        }
        return Reply::Complete;
    }
    if (InFlight(kRestart)) {
        if (ReplyValue == 0) {
            ReplyValid = line == kBanner ? 1 : 0;
        }
        if (ReplyValue < INT32_MAX) {
            ReplyValue = ReplyValue + 1;
        }
        return line == kHomeReport ? Reply::Complete : Reply::Incomplete;
    }
    if (InFlight(kIdentifySubroutine)) {
        if (InfoHeaderSeen == 0) {
            InstrumentInfo = ::InstrumentInfo::Unread();
            if (wire::ScanPrefixedInt(line, "", number)) {
                ReplyValue = number;
                InfoHeaderSeen = 1;
            }
            return Reply::Incomplete;
        }
        InstrumentInfo.ApplyIdentificationLine(line);
        ReplyValue = wire::Decrement(ReplyValue);
        return ReplyValue == 0 ? Reply::Complete : Reply::Incomplete;
    }
    if (InFlight("GOSUB9")) {
        if (ReplyValid == 0) {
            FaultText.clear();
            ReplyValid = 1;
        }
        // A report that never ends must not grow without bound; its end still completes it.
        if (FaultText.size() + line.size() + 2 <= kMaxFaultText) {
            FaultText.append(line).append("\r\n");
        }
        return wire::StartsWith(line, "yyy=") ? Reply::Complete : Reply::Incomplete;
    }
    return Reply::Incomplete;
}

bool CSmartMotor::OpenPort() {
    std::lock_guard command(CommandLock);
    if (!Open(Settings.PortNumber, Settings.BaudRate, Settings.Parity, Settings.DataBits,
              Settings.StopBits)) {
        return false;
    }
    return StartMonitorOrClose() && EchoHandshake();
}

bool CSmartMotor::Ask(bool alwaysClose, bool ownSettings, CommSettings settings) {
    const CommSettings saved = Settings;
    if (!ownSettings) {
        Settings = settings;
    }
    const bool opened = OpenPort();
    bool answered = false;
    if (opened) {
        std::lock_guard command(CommandLock);
        answered = SendCommand("RP", true, true) || SendCommand("RPA", true, true);
    }
    if (opened || alwaysClose) {
        ClosePort();
    }
    Settings = saved;
    return answered;
}

bool CSmartMotor::TestCommSettings(CommSettings settings) {
    return Ask(false, false, settings);
}

bool CSmartMotor::Probe() {
    return Ask(true, true, Settings);
}

bool CSmartMotor::GetFilter(int32_t& position) {
    std::lock_guard command(CommandLock);
    if (!SendCommand("g=-1", true, false) || !SendCommand(kFilterSubroutine, true, true)) {
        return false;
    }
    position = ReplyValue;
    return true;
}

bool CSmartMotor::ShutterExchange(int32_t request, int32_t& reported) {
    std::unique_lock command(CommandLock, std::defer_lock);
    if (quirks_.shutterTakesCommandLock) {
        command.lock();
    }
    char variable[16];
    std::snprintf(variable, sizeof variable, "d=%d", request);
    if (!SendCommand(variable, true, false) ||
        !SendCommand(quirks_.shutterSubroutine, true, true)) {
        return false;
    }
    reported = ReplyValue;
    return true;
}

bool CSmartMotor::NotAsAsked(const char* command, int32_t reported, int32_t asked,
                             const char* what) {
    bool matched = false;
    {
        std::lock_guard reply(ReplyLock);
        matched = replyMatched_;
    }
    if (!matched) {
        RecordReplyNotUnderstood(std::string(command) + '\r');
    } else {
        RecordDeviceFailure(platform::FailureKind::DeviceFault,
                            "reports " + std::string(what) + " " + std::to_string(reported) +
                                " after being told " + std::to_string(asked) + ".");
    }
    return false;
}

bool CSmartMotor::SetShutter(int32_t state) {
    int32_t reported = -1;
    if (!ShutterExchange(state, reported)) {
        return false;
    }
    return reported == state ||
           NotAsAsked(quirks_.shutterSubroutine, reported, state, "shutter state");
}

bool CSmartMotor::OpenShutter() {
    return SetShutter(1);
}

bool CSmartMotor::CloseShutter() {
    return SetShutter(0);
}

bool CSmartMotor::GetShutterState(int32_t& state) {
    return ShutterExchange(-1, state);
}

bool CSmartMotor::GetDeviceInfo(::InstrumentInfo& info) {
    std::lock_guard command(CommandLock);
    {
        std::lock_guard reply(ReplyLock);
        InfoHeaderSeen = 0;
    }
    ReplyValue = 0;
    if (!SendCommand(kIdentifySubroutine, true, true)) {
        return false;
    }
    std::lock_guard reply(ReplyLock);
    info = InstrumentInfo;
    if (info.InstrumentModel == 0) {
        info.InstrumentModel = vocabulary::kInstrumentModelTalvor;
    }
    Timeout = InstrumentInfo.NumberOfFilters == 8 ? kEightFilterTimeouts : kDefaultTimeouts;
    return true;
}

bool CSmartMotor::ChangeFilter(int32_t position) {
    std::lock_guard command(CommandLock);
    char variable[24];
    std::snprintf(variable, sizeof variable, "g=%d", position);
    if (!SendCommand(variable, true, false) || !SendCommand(kFilterSubroutine, true, true)) {
        return false;
    }
    // Any position above 0 is the move done; 0 and below are the program's "did not get there".
    const int32_t reported = ReplyValue;
    return reported > 0 || NotAsAsked(kFilterSubroutine, reported, position, "filter position");
}

bool CSmartMotor::GetLightSensor(int32_t& state) {
    std::lock_guard command(CommandLock);
    if (!SendCommand(kLightSubroutine, true, true)) {
        return false;
    }
    state = ReplyValue;
    return true;
}

bool CSmartMotor::Reset(bool* restarted) {
    std::lock_guard command(CommandLock);
    ReplyValue = 0;
    const bool ok = SendCommand(kRestart, true, true);
    if (restarted != nullptr) {
        *restarted = ok;
    }
    if (!ok) {
        return false;
    }
    if (!EchoHandshake()) {
        return false;
    }
    if (ReplyValid != 1) {
        return true;  // no banner: nothing more to ask
    }
    ::InstrumentInfo scratch;
    return GetDeviceInfo(scratch);
}

std::optional<std::string> CSmartMotor::DescribeReply(std::string_view command,
                                                      std::string_view reply) {
    // A command line goes out ended by a carriage return.
    if (!command.ends_with('\r')) {
        return std::nullopt;
    }
    command.remove_suffix(1);
    const std::string_view line = reply_meaning::LineText(reply);
    int32_t number = 0;
    if (command == kFilterSubroutine && wire::ScanPrefixedInt(line, kFilterReport, number)) {
        return "filter " + std::to_string(number);
    }
    if ((command == kShutterSubroutine || command == kLegacyShutterSubroutine) &&
        wire::ScanPrefixedInt(line, kShutterReport, number)) {
        return number == 1   ? "shutter open"
               : number == 0 ? "shutter closed"
                             : "shutter " + std::to_string(number);
    }
    if (command == kLightSubroutine && wire::ScanPrefixedInt(line, kLightReport, number)) {
        return "light sensor " + std::to_string(number);
    }
    if (command == kIdentifySubroutine) {
        return DescribeIdentificationLine(line);
    }
    if ((command == kHomeSubroutine || command == kRestart) && line == kHomeReport) {
        return "homed";
    }
    return std::nullopt;
}
