#include "tools/firmware/SerialSmiHost.h"

#include <algorithm>
#include <cwctype>
#include <optional>
#include <string>
#include <utility>

#include "devices/MotorTransfer.h"
#include "devices/SmartMotorLink.h"
#include "serial/WireText.h"
#include "tools/firmware/ProgramFile.h"

namespace mt = motor_transfer;
using Clock = CSmartMotorLink::Clock;

namespace {

// The baud rates a SmartMotor can be set to.
constexpr int32_t kMotorBaudRates[] = {2400, 4800, 9600, 19200, 38400, 57600, 115200};

constexpr int32_t kMotorNumber = 1;

Clock::time_point After(int64_t ms) {
    return Clock::now() + std::chrono::milliseconds(ms);
}

std::wstring Ms(int64_t ms) {
    return std::to_wstring(ms) + L" ms";
}

}  // namespace

int32_t SmiPortNumber(const std::wstring& name) {
    if (name.size() < 4 || std::towlower(name[0]) != L'c' || std::towlower(name[1]) != L'o' ||
        std::towlower(name[2]) != L'm') {
        return 0;
    }
    int64_t number = 0;
    for (size_t i = 3; i < name.size(); ++i) {
        if (name[i] < L'0' || name[i] > L'9') {
            return 0;
        }
        number = number * 10 + (name[i] - L'0');
        if (number > INT32_MAX) {
            return 0;
        }
    }
    return static_cast<int32_t>(number);
}

// What the host and its motors share: the port, the settings, where progress goes. The motor
// objects keep it alive, so a motor used after its host was released still has its port.
class CSmartMotorSession {
public:
    explicit CSmartMotorSession(SmiTimeouts timeouts) : timeouts_(timeouts) {
        link_.EchoTimeout = timeouts.Echo;
        link_.ReplyTimeout = timeouts.Reply;
    }

    SmiNotifyCallback Notify;
    std::wstring PortName;
    int32_t PortNumber = 0;
    int32_t BaudRate = 9600;
    int32_t SetupOption = 0;

    void Tell(int32_t code, int32_t value) const {
        if (Notify) {
            Notify(code, value);
        }
    }

    void Close() { link_.ClosePort(); }

    SmiStatus FindMotor();
    SmiStatus Upload(std::string& program);
    SmiStatus Download(const std::string& program, bool verify);

private:
    SmiStatus Open();
    // Sends an addressed command and waits for its echo.
    bool Echoed(uint8_t address, std::string_view command) {
        const std::string wire = mt::Addressed(address, command);
        return link_.SendCommand(wire.data(), true, false, static_cast<int32_t>(wire.size()));
    }
    std::optional<mt::ChecksumReport> AskChecksum();
    // Waits for the acknowledgement byte until deadline; everything else the motor sends
    // meanwhile is noise.
    bool AwaitAck(Clock::time_point deadline);
    // After a download broke off: ends the motor's loading mode and says what it holds now.
    std::wstring EndLoadingAfterFailure();

    std::wstring Failed(const std::wstring& step) const {
        return step + L" on " + PortName + L" failed: ";
    }
    std::wstring WhatItSent() const { return L"; it sent " + mt::DescribeBytes(link_.Heard()); }
    std::wstring NotOpen(const std::wstring& step) const {
        return Failed(step) +
               L"the port is closed; after the port or the baud rate changed, "
               L"the motor must be got again.";
    }
    // What the link recorded of the write that failed.
    platform::FailureKind WriteKind() const {
        const platform::FailureKind kind = link_.LastFailure().Kind;
        return kind != platform::FailureKind::None ? kind : platform::FailureKind::WriteFailed;
    }
    std::wstring WriteFailed(const std::wstring& step) const {
        return Failed(step) +
               L"the port did not take the bytes in time (was the adapter "
               L"unplugged, or is the line held by flow control?).";
    }

    const SmiTimeouts timeouts_;
    CSmartMotorLink link_;
};

SmiStatus CSmartMotorSession::Open() {
    if (PortNumber <= 0) {
        return SmiStatus::Fail(platform::FailureKind::InvalidRequest,
                               L"No port was named for the SmartMotor.");
    }
    if (link_.IsOpen()) {
        return SmiStatus::Ok();
    }
    link_.Settings.PortNumber = PortNumber;
    link_.Settings.BaudRate = BaudRate;
    link_.Settings.DataBits = 8;
    link_.Settings.Parity = 0;
    link_.Settings.StopBits = 0;
    if (!link_.OpenPort()) {
        return SmiStatus::Fail(link_.LastFailure().Kind, L"Opening " + PortName +
                                                             L" for the SmartMotor failed: " +
                                                             wire::Widen(link_.LastFailure().Text));
    }
    return SmiStatus::Ok();
}

std::optional<mt::ChecksumReport> CSmartMotorSession::AskChecksum() {
    const std::string wire = mt::Addressed(kMotorNumber, mt::kChecksumCommand);
    if (!link_.SendCommand(wire.data(), false, true, static_cast<int32_t>(wire.size()))) {
        return std::nullopt;
    }
    // A motor in echo mode sends the question back first, ended by its blank rather than a
    // carriage return, so the echo stands at the start of the report's line.
    return mt::ParseChecksumReport(mt::WithoutEcho(link_.ReceiveLine, mt::kChecksumCommand));
}

bool CSmartMotorSession::AwaitAck(Clock::time_point deadline) {
    while (const std::optional<uint8_t> byte = link_.ReadByte(deadline)) {
        if (*byte == mt::kAck) {
            return true;
        }
    }
    return false;
}

SmiStatus CSmartMotorSession::FindMotor() {
    if (SmiStatus opened = Open(); !opened) {
        return opened;
    }

    Tell(smi_notify::kDetecting, 1);
    // A motor that lost its echo mode (a restart) gets the command twice, as the console's
    // driver does it.
    if (!Echoed(0, mt::kEchoCommand) && !Echoed(0, mt::kEchoCommand)) {
        return SmiStatus::Fail(
            platform::FailureKind::NoReply,
            Failed(L"Detecting motors") +
                L"no SmartMotor answered: \"ECHO\" did not come back within " + Ms(timeouts_.Echo) +
                WhatItSent() + L". Check that the motor is powered, its cable is on " + PortName +
                L" and it runs at " + std::to_wstring(BaudRate) +
                L" baud. A motor whose download was cut off (the program closed, "
                L"the cable pulled) answers again once switched off and on.");
    }
    Tell(smi_notify::kProgress, 1);
    Tell(smi_notify::kFinished, 0);

    Tell(smi_notify::kAddressing, 1);
    // The address goes to every motor, the echo switch to motor 1 alone: a motor that did not
    // take the address would go on echoing, and the checksum question below would not be
    // answered.
    const std::pair<uint8_t, std::string_view> addressing[] = {{0, mt::kAddressCommand},
                                                               {kMotorNumber, mt::kEchoOffCommand}};
    for (const auto& [address, command] : addressing) {
        if (!Echoed(address, command)) {
            return SmiStatus::Fail(platform::FailureKind::NoReply,
                                   Failed(L"Addressing motors") + L"the motor did not echo \"" +
                                       wire::Widen(command) + L"\" within " + Ms(timeouts_.Echo) +
                                       WhatItSent() + L".");
        }
    }
    Tell(smi_notify::kProgress, 1);
    Tell(smi_notify::kFinished, 0);

    Tell(smi_notify::kMotorInformation, 1);
    if (!AskChecksum()) {
        return SmiStatus::Fail(
            platform::FailureKind::NoReply,
            Failed(L"Getting motor information") +
                L"motor 1 did not report its program checksum (\"RCKS\") within " +
                Ms(timeouts_.Reply) + WhatItSent() + L".");
    }
    Tell(smi_notify::kProgress, 1);
    Tell(smi_notify::kFinished, 0);
    return SmiStatus::Ok();
}

SmiStatus CSmartMotorSession::Upload(std::string& program) {
    const std::wstring step = L"Backing up the motor's program";
    if (!link_.IsOpen()) {
        return SmiStatus::Fail(platform::FailureKind::NotOpen, NotOpen(step));
    }
    Tell(smi_notify::kBackingUp, static_cast<int32_t>(mt::kProgramMemory));
    // Each request and the block it asks for share one time-out, the write included.
    auto deadline = After(timeouts_.Block);
    if (!link_.Send(mt::Addressed(kMotorNumber, mt::kUploadCommand), deadline)) {
        return SmiStatus::Fail(WriteKind(), WriteFailed(step));
    }
    link_.ForgetHeard();
    mt::CUploadFramer framer;
    for (;;) {
        const std::optional<uint8_t> byte = link_.ReadByte(deadline);
        if (!byte) {
            return SmiStatus::Fail(platform::FailureKind::NoReply,
                                   Failed(step) + L"the motor stopped sending after " +
                                       std::to_wstring(framer.Program().size()) +
                                       L" bytes, before the end of its " +
                                       L"program (nothing came for " + Ms(timeouts_.Block) +
                                       L"). The motor's program is unchanged.");
        }
        switch (framer.Feed(*byte)) {
            case mt::CUploadFramer::Step::Data:
                break;
            case mt::CUploadFramer::Step::BlockEnd:
                Tell(smi_notify::kProgress, static_cast<int32_t>(framer.Program().size()));
                deadline = After(timeouts_.Block);
                if (!link_.Send(std::string(1, static_cast<char>(mt::kAck)), deadline)) {
                    return SmiStatus::Fail(WriteKind(), WriteFailed(step));
                }
                break;
            case mt::CUploadFramer::Step::ProgramEnd:
                Tell(smi_notify::kProgress, static_cast<int32_t>(framer.Program().size()));
                program = framer.Program();
                return SmiStatus::Ok();
            case mt::CUploadFramer::Step::TooLong:
                return SmiStatus::Fail(
                    platform::FailureKind::ReplyNotUnderstood,
                    Failed(step) + L"the motor sent more than the " +
                        std::to_wstring(mt::kProgramMemory) +
                        L" bytes a program can have without its end. The motor's "
                        L"program is unchanged.");
        }
    }
}

SmiStatus CSmartMotorSession::Download(const std::string& program, bool verify) {
    const std::wstring step = L"Downloading the program";
    if (!link_.IsOpen()) {
        return SmiStatus::Fail(platform::FailureKind::NotOpen, NotOpen(step));
    }
    const auto total = static_cast<int32_t>(program.size());
    Tell(smi_notify::kDownloading, total);

    link_.ForgetHeard();
    const auto goAhead = After(timeouts_.LoadStart);
    if (!link_.Send(mt::Addressed(kMotorNumber, mt::kDownloadCommand), goAhead)) {
        return SmiStatus::Fail(WriteKind(), WriteFailed(step));
    }
    // From here on the motor may be taking bytes as its program: whatever goes wrong, it is told
    // that the program has ended, so that it leaves its loading mode and takes commands again.
    if (!AwaitAck(goAhead)) {
        std::wstring why = Failed(step) + L"the motor did not take \"LOAD\": no go-ahead (06) " +
                           L"came within " + Ms(timeouts_.LoadStart) + WhatItSent() + L".";
        return SmiStatus::Fail(platform::FailureKind::NoReply, why + EndLoadingAfterFailure());
    }
    for (size_t sent = 0; sent < program.size();) {
        const std::string_view block = std::string_view(program).substr(sent, mt::kDownloadBlock);
        link_.ForgetHeard();
        const auto deadline = After(timeouts_.Block);
        if (!link_.Send(block, deadline)) {
            return SmiStatus::Fail(WriteKind(),
                                   WriteFailed(step) + L" The motor's program is incomplete now.");
        }
        sent += block.size();
        // The motor acknowledges every full block, and sends nothing else while it loads: it
        // does not echo program bytes, even in echo mode. A shorter last block is ended by the
        // end bytes instead.
        if (block.size() == mt::kDownloadBlock && !AwaitAck(deadline)) {
            std::wstring why =
                Failed(step) + L"the motor stopped acknowledging after " +
                std::to_wstring(sent - block.size()) + L" of " + std::to_wstring(total) +
                L" bytes (no 06 within " + Ms(timeouts_.Block) + WhatItSent() +
                L"). The motor's program is incomplete now: load a program again before the "
                L"instrument is used.";
            return SmiStatus::Fail(platform::FailureKind::NoReply, why + EndLoadingAfterFailure());
        }
        Tell(smi_notify::kProgress, static_cast<int32_t>(sent));
    }
    if (!link_.Send(mt::kDownloadEnd, After(timeouts_.Block))) {
        return SmiStatus::Fail(WriteKind(), WriteFailed(step));
    }
    // Asked even when not checking: the answer shows the end bytes have arrived before anything
    // else happens to the port.
    const std::optional<mt::ChecksumReport> report = AskChecksum();
    if (verify && !report) {
        return SmiStatus::Fail(
            platform::FailureKind::NoReply,
            Failed(L"Checking the downloaded program") +
                L"the motor did not report its program checksum (\"RCKS\") within " +
                Ms(timeouts_.Reply) + WhatItSent() + L".");
    }
    if (verify && !report->Passed) {
        return SmiStatus::Fail(
            platform::FailureKind::DeviceFault,
            Failed(L"Checking the downloaded program") + L"the motor reports a bad checksum (\"" +
                wire::Widen(report->Text) +
                L"\"): the program did not arrive whole. Load it again before the "
                L"instrument is used.");
    }
    Tell(smi_notify::kFinished, 0);
    return SmiStatus::Ok();
}

std::wstring CSmartMotorSession::EndLoadingAfterFailure() {
    if (!link_.Send(mt::kDownloadEnd, After(timeouts_.Block))) {
        return {};
    }
    // The answer also shows the end bytes arrived: a port closed and opened again straight
    // after writing them may throw them away before the motor has read them.
    const std::optional<mt::ChecksumReport> report = AskChecksum();
    if (!report) {
        return L" The motor does not answer now; if it stays silent, switch it off and on again.";
    }
    return L" Its checksum report now reads \"" + wire::Widen(report->Text) + L"\".";
}

namespace {

class CSerialSmiMotor : public ISMIMotor {
public:
    explicit CSerialSmiMotor(std::shared_ptr<CSmartMotorSession> session)
        : session_(std::move(session)) {}

    SmiStatus BackupProgram(const std::wstring& path) override {
        const std::wstring step = L"Backing up the motor's program on " + session_->PortName;
        std::wstring why;
        program_file::CBackupFile backup;
        if (!backup.Create(path, why)) {
            return SmiStatus::Fail(platform::FailureKind::FileError, step + L" failed: " + why);
        }
        std::string program;
        if (SmiStatus uploaded = session_->Upload(program); !uploaded) {
            return uploaded;
        }
        if (!backup.Commit(program, why)) {
            return SmiStatus::Fail(platform::FailureKind::FileError, step + L" failed: " + why);
        }
        session_->Tell(smi_notify::kFinished, 0);
        return SmiStatus::Ok();
    }

    SmiStatus DownloadProgram(const std::wstring& path, int32_t verify,
                              int32_t& loadedBytes) override {
        // The file is checked whole before the motor hears of it: a bad file leaves the motor's
        // program as it is.
        std::wstring why;
        const std::optional<std::string> program = program_file::ReadProgram(path, why);
        if (!program) {
            return SmiStatus::Fail(platform::FailureKind::FileError,
                                   L"Downloading the program on " + session_->PortName +
                                       L" failed: " + why + L" The motor's program is unchanged.");
        }
        SmiStatus loaded = session_->Download(*program, verify != 0);
        if (loaded) {
            loadedBytes = static_cast<int32_t>(program->size());
        }
        return loaded;
    }

private:
    std::shared_ptr<CSmartMotorSession> session_;
};

}  // namespace

CSerialSmiHost::CSerialSmiHost(SmiTimeouts timeouts)
    : session_(std::make_shared<CSmartMotorSession>(timeouts)) {}

CSerialSmiHost::~CSerialSmiHost() = default;

SmiStatus CSerialSmiHost::SetNotify(SmiNotifyCallback notify) {
    session_->Notify = std::move(notify);
    return SmiStatus::Ok();
}

SmiStatus CSerialSmiHost::SetPortName(const std::wstring& name) {
    const int32_t number = SmiPortNumber(name);
    if (number <= 0) {
        return SmiStatus::Fail(platform::FailureKind::InvalidRequest,
                               L"\"" + name + L"\" is not a port name: it must be \"Com\" and " +
                                   L"the port's number.");
    }
    session_->Close();
    session_->PortName = name;
    session_->PortNumber = number;
    return SmiStatus::Ok();
}

SmiStatus CSerialSmiHost::SetBaudRate(int32_t baud) {
    if (std::find(std::begin(kMotorBaudRates), std::end(kMotorBaudRates), baud) ==
        std::end(kMotorBaudRates)) {
        return SmiStatus::Fail(
            platform::FailureKind::InvalidRequest,
            L"A SmartMotor does not run at " + std::to_wstring(baud) + L" baud.");
    }
    session_->Close();
    session_->BaudRate = baud;
    return SmiStatus::Ok();
}

SmiStatus CSerialSmiHost::HostSetupQuery(int32_t& option) {
    option = session_->SetupOption;
    return SmiStatus::Ok();
}

SmiStatus CSerialSmiHost::HostSetupOption(int32_t option) {
    if (option != 0) {
        return SmiStatus::Fail(
            platform::FailureKind::InvalidRequest,
            L"The SMI host has no setup option " + std::to_wstring(option) + L".");
    }
    session_->SetupOption = option;
    return SmiStatus::Ok();
}

SmiStatus CSerialSmiHost::GetMotor(int32_t number, std::unique_ptr<ISMIMotor>& motor) {
    motor.reset();
    if (number != kMotorNumber) {
        return SmiStatus::Fail(platform::FailureKind::NotFitted,
                               L"There is no motor " + std::to_wstring(number) + L" on " +
                                   (session_->PortName.empty() ? L"the port" : session_->PortName) +
                                   L": the instrument has one motor, motor 1.");
    }
    if (SmiStatus found = session_->FindMotor(); !found) {
        session_->Close();
        return found;
    }
    motor = std::make_unique<CSerialSmiMotor>(session_);
    return SmiStatus::Ok();
}

std::unique_ptr<ISMIHost> CreateSmiHost() {
    return std::make_unique<CSerialSmiHost>();
}
