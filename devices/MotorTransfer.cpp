#include "devices/MotorTransfer.h"

#include "platform/Failure.h"
#include "serial/WireText.h"

namespace motor_transfer {

std::string Addressed(uint8_t address, std::string_view command) {
    std::string wire(1, static_cast<char>(kAddressAll + address));
    wire.append(command);
    wire.push_back(kCommandEnd);
    return wire;
}

std::string_view WithoutEcho(std::string_view line, std::string_view command) {
    if (line.starts_with(command) && line.size() > command.size() &&
        line[command.size()] == kCommandEnd) {
        line.remove_prefix(command.size() + 1);
    }
    return line;
}

CUploadFramer::Step CUploadFramer::Feed(uint8_t byte) {
    if (ended_) {
        return Step::ProgramEnd;
    }
    if (tooLong_) {
        return Step::TooLong;
    }
    if (byte == kProgramEnd) {
        ended_ = true;
        return Step::ProgramEnd;
    }
    if (program_.size() >= limit_) {
        tooLong_ = true;
        return Step::TooLong;
    }
    program_.push_back(static_cast<char>(byte));
    if (++inBlock_ < kUploadBlock) {
        return Step::Data;
    }
    inBlock_ = 0;
    return Step::BlockEnd;
}

bool CEchoWatch::Feed(uint8_t byte) {
    if (expected_.empty()) {
        return true;
    }
    tail_.push_back(static_cast<char>(byte));
    if (tail_.size() > expected_.size()) {
        tail_.erase(0, tail_.size() - expected_.size());
    }
    return tail_ == expected_;
}

std::optional<std::string> CReplyLines::Feed(uint8_t byte) {
    if (byte == '\r') {
        std::string line;
        line.swap(line_);
        const bool overlong = overlong_;
        overlong_ = false;
        if (overlong) {
            return std::nullopt;
        }
        return line;
    }
    if (byte < 0x20 || byte > 0x7E) {
        return std::nullopt;
    }
    if (line_.size() < kMaxLine) {
        line_.push_back(static_cast<char>(byte));
    } else {
        overlong_ = true;
    }
    return std::nullopt;
}

namespace {

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

}  // namespace

std::optional<ChecksumReport> ParseChecksumReport(std::string_view line) {
    const size_t first = line.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return std::nullopt;
    }
    line = line.substr(first, line.find_last_not_of(' ') - first + 1);

    // The last blank-separated group is the verdict; every group before it is hexadecimal, and
    // there is at least one.
    const size_t lastBlank = line.find_last_of(' ');
    if (lastBlank == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view verdict = line.substr(lastBlank + 1);
    if (verdict != "P" && verdict != "F") {
        return std::nullopt;
    }
    for (char c : line.substr(0, lastBlank)) {
        if (c != ' ' && !IsHexDigit(c)) {
            return std::nullopt;
        }
    }
    return ChecksumReport{std::string(line), verdict == "P"};
}

std::wstring DescribeBytes(std::string_view bytes, size_t limit) {
    return wire::Widen(platform::PrintableBytes(bytes, limit));
}

void CHeardBytes::Add(uint8_t byte) {
    if (bytes_.size() <= kLimit) {
        bytes_.push_back(static_cast<char>(byte));
    }
}

}  // namespace motor_transfer
