#include "sim/SmartMotorSim.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "serial/WireText.h"

namespace sim {

namespace {

constexpr const char* kBanner = "** Zel Dozivazoro Ltd. **";
constexpr uint8_t kAck = 0x06;
constexpr uint8_t kProgramEnd = 0xFF;
constexpr uint8_t kAddressAll = 0x80;
constexpr int32_t kMaxAddress = 120;
constexpr size_t kUploadBlock = 8;
constexpr size_t kDownloadBlock = 32;

}  // namespace

CSmartMotorSim::CSmartMotorSim(int portNumber, std::string portDirectory, Program program,
                               int filters)
    : CSimulatedDevice(portNumber, std::move(portDirectory)), program_(program), filters_(filters) {
    identification_ = {{"ver", program == Program::Legacy ? "4.1" : "5.2"},
                       {"dev", "talvor"},
                       {"nof", std::to_string(filters)},
                       {"fsz", "50mm"},
                       {"sht", "standard"},
                       {"mot", "23165D"},
                       {"prc", program == Program::Legacy ? "SMv4.95" : "SMv5.0.4.42"},
                       {"tct", "CNI32-A"}};
    stored_ = DefaultProgram();
}

CSmartMotorSim::~CSmartMotorSim() {
    Stop();
}

int32_t CSmartMotorSim::FilterPosition() const {
    std::lock_guard lock(stateMutex_);
    return position_;
}

int32_t CSmartMotorSim::ShutterState() const {
    std::lock_guard lock(stateMutex_);
    return shutter_;
}

bool CSmartMotorSim::EchoOn() const {
    std::lock_guard lock(stateMutex_);
    return echo_;
}

void CSmartMotorSim::SetEcho(bool on) {
    std::lock_guard lock(stateMutex_);
    echo_ = on;
}

void CSmartMotorSim::SetLightSensor(int32_t state) {
    std::lock_guard lock(stateMutex_);
    light_ = state;
}

void CSmartMotorSim::SetMoveTime(std::chrono::milliseconds perSlot) {
    std::lock_guard lock(stateMutex_);
    moveTime_ = perSlot;
}

void CSmartMotorSim::SetHomeTime(std::chrono::milliseconds homing) {
    std::lock_guard lock(stateMutex_);
    homeTime_ = homing;
}

void CSmartMotorSim::FailNext(const std::string& command) {
    std::lock_guard lock(stateMutex_);
    failNext_ = command;
}

void CSmartMotorSim::LoseEchoes(int count) {
    std::lock_guard lock(stateMutex_);
    loseEchoes_ = count;
}

void CSmartMotorSim::SetIdentification(std::map<std::string, std::string> fields) {
    std::lock_guard lock(stateMutex_);
    identification_ = std::move(fields);
}

uint64_t CSmartMotorSim::Resets() const {
    std::lock_guard lock(stateMutex_);
    return resets_;
}

std::string CSmartMotorSim::LastLine() const {
    std::lock_guard lock(stateMutex_);
    return lastLine_;
}

uint64_t CSmartMotorSim::LinesSeen() const {
    std::lock_guard lock(stateMutex_);
    return lines_;
}

std::string CSmartMotorSim::DefaultProgram() {
    // As the compiler leaves it: a header with the program's length and label count, then the
    // text, where flow statements carry the compiler's jump codes. No byte FF anywhere.
    static const char kText[] =
        "EIGN(W,0)\rZS\rg=0\rd=0\rEND\r"
        "C0\rPRINT(\"LIGHT:\",IN(3),#13)\rRETURN\r"
        "C4\r$I0041F g==-1\rPRINT(\"FILT:\",p,#13)\rRETURN\rENDIF\rp=g\rPT=p*4000 G TWAIT\r"
        "PRINT(\"FILT:\",p,#13)\rRETURN\r"
        "C6\r$I0077F d==-1\rPRINT(\"SHTR:\",s,#13)\rRETURN\rENDIF\rs=d\rOUT(4)=d\r"
        "PRINT(\"SHTR:\",s,#13)\rRETURN\r";
    const std::string text(kText);
    std::string program;
    program.push_back(static_cast<char>(0x01));
    program.push_back(static_cast<char>(text.size() >> 8));
    program.push_back(static_cast<char>(text.size() & 0xFF));
    program.push_back(static_cast<char>(0x03));
    return program + text;
}

std::string CSmartMotorSim::StoredProgram() const {
    std::lock_guard lock(stateMutex_);
    return stored_;
}

void CSmartMotorSim::SetStoredProgram(std::string program) {
    std::lock_guard lock(stateMutex_);
    stored_ = std::move(program);
    storedValid_ = true;
}

bool CSmartMotorSim::StoredProgramValid() const {
    std::lock_guard lock(stateMutex_);
    return storedValid_;
}

int32_t CSmartMotorSim::Address() const {
    std::lock_guard lock(stateMutex_);
    return address_;
}

void CSmartMotorSim::BreakDownloadAfter(size_t bytes) {
    std::lock_guard lock(stateMutex_);
    breakDownload_ = bytes;
}

void CSmartMotorSim::BreakUploadAfter(size_t bytes) {
    std::lock_guard lock(stateMutex_);
    breakUpload_ = bytes;
}

uint64_t CSmartMotorSim::Downloads() const {
    std::lock_guard lock(stateMutex_);
    return downloads_;
}

void CSmartMotorSim::OnReceive(uint8_t byte) {
    std::vector<Output> out;
    {
        std::lock_guard lock(stateMutex_);
        if (loading_) {
            LoadByte(byte, out);
        } else if (uploading_ && byte == kAck) {
            if (echo_) {
                out.push_back({std::string(1, static_cast<char>(kAck))});
            }
            if (std::string block = NextUploadBlock(); !block.empty()) {
                out.push_back({std::move(block)});
            }
        } else {
            uploading_ = false;  // anything but a request for more ends an upload
            CommandByte(byte, out);
        }
    }
    for (Output& o : out) {
        Reply(o.bytes, o.delay);
    }
}

void CSmartMotorSim::CommandByte(uint8_t byte, std::vector<Output>& out) {
    if (byte == '\n') {
        return;
    }
    if (byte >= kAddressAll) {
        if (byte <= kAddressAll + kMaxAddress) {
            addressByte_ = byte;
        }
        return;
    }
    if (byte == '\r' || byte == ' ') {
        std::string line;
        line.swap(line_);
        const bool overlong = lineOverlong_;
        lineOverlong_ = false;
        if (!overlong) {
            Execute(line, static_cast<char>(byte), out);
        }
        addressByte_ = 0;
        return;
    }
    if (byte < 0x20) {
        return;  // control bytes are no part of a command (a late 06, a stray FF FF 20)
    }
    if (line_.size() < kMaxLine) {
        line_.push_back(static_cast<char>(byte));
    } else {
        lineOverlong_ = true;  // the motor's input buffer overflows: the line is lost
    }
}

void CSmartMotorSim::LoadByte(uint8_t byte, std::vector<Output>& out) {
    // Program bytes are not echoed, even in echo mode: the one thing the motor sends while it
    // loads is the 06 that takes each full block. A short last block gets none; the end bytes
    // follow it.
    if (loadEnd_ > 0 || byte == kProgramEnd) {
        // FF FF 20 ends the download; anything else in there spoils it.
        if (byte == kProgramEnd && loadEnd_ < 2) {
            ++loadEnd_;
        } else if (byte == ' ' && loadEnd_ == 2) {
            loading_ = false;
            storedValid_ = !loadBroken_;
        } else {
            loadBroken_ = true;
            loadEnd_ = byte == kProgramEnd ? 1 : 0;
        }
        return;
    }
    if (loadBroken_) {
        return;
    }
    if (stored_.size() >= kProgramMemory) {
        loadBroken_ = true;
        return;
    }
    stored_.push_back(static_cast<char>(byte));
    ++loadCount_;
    if (loadBreak_ && loadCount_ >= *loadBreak_) {
        loadBroken_ = true;
        return;
    }
    if (loadCount_ % kDownloadBlock == 0) {
        out.push_back({std::string(1, static_cast<char>(kAck))});
    }
}

std::string CSmartMotorSim::NextUploadBlock() {
    size_t end = upload_.size();
    const bool cut = uploadBreak_ && *uploadBreak_ < end;
    if (cut) {
        end = *uploadBreak_;
    }
    const size_t count = std::min(kUploadBlock, end - std::min(uploadPos_, end));
    std::string block = upload_.substr(uploadPos_, count);
    uploadPos_ += count;
    if (cut) {
        if (uploadPos_ >= end) {
            uploading_ = false;  // stops here, without the end byte
        }
    } else if (count < kUploadBlock) {
        block.push_back(static_cast<char>(kProgramEnd));
        uploading_ = false;
    }
    return block;
}

std::string CSmartMotorSim::ChecksumReport() const {
    // Two sums as the motor gives them, six hexadecimal digits each, then the verdict.
    uint32_t labels = 0;
    uint32_t sum = 0;
    for (char c : stored_) {
        sum += static_cast<uint8_t>(c);
        if (c == 'C') {
            ++labels;
        }
    }
    char text[32];
    std::snprintf(text, sizeof text, "%06X %06X %c\r", labels & 0xFFFFFFu, sum & 0xFFFFFFu,
                  storedValid_ ? 'P' : 'F');
    return text;
}

std::string CSmartMotorSim::Subroutine(int number, std::chrono::milliseconds& delay) {
    // Caller holds stateMutex_.
    switch (number) {
        case 0:
            return "LIGHT:" + std::to_string(light_) + "\r";
        case 4:
            if (g_ == -1) {
                return "FILT:" + std::to_string(position_) + "\r";
            }
            if (g_ >= 1 && g_ <= filters_) {
                delay = moveTime_ * std::abs(g_ - position_);
                position_ = g_;
                return "FILT:" + std::to_string(position_) + "\r";
            }
            return "FILT:0\r";
        case 5:
            delay = homeTime_;
            position_ = 1;
            return "Homing\rHOME:1\r";
        case 1:
        case 6:
            // The shutter lives in subroutine 1 of legacy programs and 6 of current ones; the
            // other number is not a subroutine of that program and answers nothing.
            if ((number == 1) != (program_ == Program::Legacy)) {
                return {};
            }
            if (d_ == 0 || d_ == 1) {
                shutter_ = d_;
            }
            return "SHTR:" + std::to_string(shutter_) + "\r";
        case 9:
            return "Fault report\r\nxxx=0\r\nyyy=17\r\n";
        case 100: {
            std::string reply = std::to_string(identification_.size()) + "\r\n";
            for (const auto& [key, value] : identification_) {
                reply.append(key).append("=").append(value).append("\r\n");
            }
            return reply;
        }
        default:
            return {};
    }
}

void CSmartMotorSim::Execute(const std::string& line, char terminator, std::vector<Output>& out) {
    std::string echo;
    std::string answer;
    std::chrono::milliseconds delay{0};
    ++lines_;
    lastLine_ = line;
    if (addressByte_ != 0) {
        const int32_t to = addressByte_ - kAddressAll;
        selected_ = to == 0 || (address_ != 0 && to == address_);
    }
    const std::string prefix =
        addressByte_ != 0 ? std::string(1, static_cast<char>(addressByte_)) : std::string();
    // A motor echoes every line, its own or not: in a chain, that is how the next motor hears.
    if (echo_ || (selected_ && line == "ECHO")) {
        echo_ = true;
        if (loseEchoes_ > 0 && line != "ECHO") {
            --loseEchoes_;
        } else {
            echo = prefix + line + terminator;
        }
    }
    int32_t value = 0;
    if (!selected_) {
        // not for this motor
    } else if (line == "ECHO" || line == "ECHO_OFF") {
        echo_ = line == "ECHO";
    } else if (line == "RP" || line == "RPA") {
        answer = std::to_string(reportedPosition_ + position_ * 1000) + "\r";
    } else if (wire::ScanPrefixedInt(line, "SADDR", value)) {
        if (value >= 0 && value <= kMaxAddress) {
            address_ = value;
        }
    } else if (wire::ScanPrefixedInt(line, "g=", value)) {
        g_ = value;
    } else if (wire::ScanPrefixedInt(line, "d=", value)) {
        d_ = value;
    } else if (line == "Z") {
        ++resets_;
        echo_ = false;  // the program restarts as at power-up
        address_ = 0;
        selected_ = true;
        g_ = d_ = 0;
        shutter_ = 0;
        position_ = 1;
        delay = homeTime_;
        answer = std::string(kBanner) + "\rProgram 5.2\rHoming\rHOME:1\r";
    } else if (line == "RCKS") {
        answer = ChecksumReport();
    } else if (line == "UP" || line == "UPLOAD") {
        upload_.clear();
        if (line == "UP") {
            upload_ = stored_;
        } else {
            // The text of the program: what the compiler added is not text.
            for (char c : stored_) {
                if ((c >= 0x20 && c <= 0x7E) || c == '\r') {
                    upload_.push_back(c);
                }
            }
        }
        uploadPos_ = 0;
        uploadBreak_ = breakUpload_;
        breakUpload_.reset();
        uploading_ = true;
        answer = NextUploadBlock();
    } else if (line == "LOAD") {
        ++downloads_;
        loading_ = true;
        loadCount_ = 0;
        loadBroken_ = false;
        loadEnd_ = 0;
        loadBreak_ = breakDownload_;
        breakDownload_.reset();
        stored_.clear();  // the old program is gone as soon as loading starts
        storedValid_ = false;
        answer = std::string(1, static_cast<char>(kAck));
    } else if (wire::ScanPrefixedInt(line, "GOSUB", value)) {
        if (!failNext_.empty() && failNext_ == line) {
            failNext_.clear();
            answer = "FATAL error 3 in subroutine " + std::to_string(value) + "\r";
        } else {
            answer = Subroutine(value, delay);
        }
    }
    // The echo goes out at once; the answer when the motor has done the work.
    if (!echo.empty()) {
        out.push_back({std::move(echo)});
    }
    if (!answer.empty()) {
        out.push_back({std::move(answer), delay});
    }
}

}  // namespace sim
