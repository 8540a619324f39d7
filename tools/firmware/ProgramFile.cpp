#include "tools/firmware/ProgramFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

#include "devices/MotorTransfer.h"
#include "platform/RegularFile.h"
#include "serial/WireText.h"

namespace program_file {

namespace {

std::wstring Quoted(const std::wstring& path) {
    return L"\"" + path + L"\"";
}

std::wstring SystemError(int error) {
    return wire::Widen(std::strerror(error));
}

}  // namespace

std::optional<std::filesystem::path> PathOf(const std::wstring& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    // File names here are UTF-8 bytes. Converting through the standard library would go by the
    // "C" locale and refuse every character outside ASCII.
    std::string bytes;
    bytes.reserve(text.size());
    for (const wchar_t wide : text) {
        // A wchar_t holds one code point; its traits read it as the number it is.
        const auto c = static_cast<uint32_t>(std::char_traits<wchar_t>::to_int_type(wide));
        if (c == 0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            return std::nullopt;  // no file name can hold it
        }
        if (c < 0x80) {
            bytes.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            bytes.push_back(static_cast<char>(0xC0 | (c >> 6)));
            bytes.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            bytes.push_back(static_cast<char>(0xE0 | (c >> 12)));
            bytes.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            bytes.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            bytes.push_back(static_cast<char>(0xF0 | (c >> 18)));
            bytes.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            bytes.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            bytes.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return std::filesystem::path(std::move(bytes));
}

std::optional<std::string> ReadProgram(const std::wstring& path, std::wstring& why) {
    using motor_transfer::kProgramMemory;
    const std::optional<std::filesystem::path> file = PathOf(path);
    if (!file) {
        why = L"The firmware file name " + Quoted(path) + L" is not a valid file name.";
        return std::nullopt;
    }
    const int fd = platform::OpenRegularFile(*file, O_RDONLY);
    if (fd < 0 && errno == platform::kNotARegularFile) {
        why = L"The firmware path " + Quoted(path) + L" is not a file.";
        return std::nullopt;
    }
    if (fd < 0) {
        why = L"The firmware file " + Quoted(path) + L" cannot be opened: " + SystemError(errno) +
              L".";
        return std::nullopt;
    }
    std::string program;
    // One byte more than a program may have, so that a file that grew is seen to be too big.
    const int readError = platform::ReadUpTo(fd, kProgramMemory + 1, program);
    ::close(fd);
    if (readError != 0) {
        why = L"The firmware file " + Quoted(path) + L" cannot be read: " + SystemError(readError) +
              L".";
        return std::nullopt;
    }
    if (program.empty()) {
        why = L"The firmware file " + Quoted(path) + L" is empty.";
        return std::nullopt;
    }
    if (program.size() > kProgramMemory) {
        why = L"The firmware file " + Quoted(path) + L" is bigger than the " +
              std::to_wstring(kProgramMemory) + L" bytes a SmartMotor program can have.";
        return std::nullopt;
    }
    if (const size_t end = program.find(static_cast<char>(motor_transfer::kProgramEnd));
        end != std::string::npos) {
        why = L"The firmware file " + Quoted(path) + L" is not a compiled SmartMotor program: it " +
              L"holds the byte FF (at offset " + std::to_wstring(end) +
              L"), which the motor would take for the end of the program.";
        return std::nullopt;
    }
    return program;
}

CBackupFile::~CBackupFile() {
    Discard();
}

void CBackupFile::Discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
        ::unlink(path_.c_str());
    }
}

bool CBackupFile::Create(const std::wstring& path, std::wstring& why) {
    Discard();
    const std::optional<std::filesystem::path> file = PathOf(path);
    if (!file) {
        why = L"The backup file name " + Quoted(path) + L" is not a valid file name.";
        return false;
    }
    path_ = *file;
    text_ = path;
    fd_ = platform::OpenRegularFile(path_, O_WRONLY | O_CREAT | O_EXCL);
    if (fd_ < 0) {
        why = L"The backup file " + Quoted(path) + L" cannot be created: " + SystemError(errno) +
              L".";
        return false;
    }
    return true;
}

bool CBackupFile::Commit(const std::string& program, std::wstring& why) {
    if (fd_ < 0) {
        why = L"The backup file was not created.";
        return false;
    }
    // The backup counts only if it is all there.
    const int error = platform::WriteFlushAndClose(std::exchange(fd_, -1), program);
    if (error != 0) {
        ::unlink(path_.c_str());
        why = L"The backup file " + Quoted(text_) + L" cannot be written: " + SystemError(error) +
              L".";
        return false;
    }
    return true;
}

}  // namespace program_file
