#pragma once

#include <filesystem>
#include <optional>
#include <string>

// The updater's two files.
//
// A program file (".smx") holds a compiled SmartMotor program exactly as the motor's "LOAD"
// takes it and its "UP" gives it back: at least one byte, at most the motor's program memory,
// and never the byte FF, which ends a program on the wire. A backup (".sms") is what "UP" gave,
// byte for byte, so it is itself a program file that can be loaded again.
namespace program_file {

// The path a window text names, its characters as UTF-8 the way file names are kept here;
// nothing when the text cannot be a file name.
std::optional<std::filesystem::path> PathOf(const std::wstring& text);

// Reads and checks a program file. On failure, why says what is wrong with it, in words for the
// technician ("... is empty.").
std::optional<std::string> ReadProgram(const std::wstring& path, std::wstring& why);

// A backup file being made. It is created new (an existing file is never overwritten) before
// the motor is asked for anything, so that a path that cannot be written costs no motor time,
// and it is removed again unless the whole program went into it.
class CBackupFile {
public:
    CBackupFile() = default;
    CBackupFile(const CBackupFile&) = delete;
    CBackupFile& operator=(const CBackupFile&) = delete;
    ~CBackupFile();

    bool Create(const std::wstring& path, std::wstring& why);
    // Writes the program and closes the file; it is kept from then on.
    bool Commit(const std::string& program, std::wstring& why);

private:
    void Discard();

    std::filesystem::path path_;
    std::wstring text_;  // the path as the caller gave it, for messages
    int fd_ = -1;
};

}  // namespace program_file
