#include "tools/omega/TempCtrlSettingsFile.h"

#include <sys/stat.h>

#include <string>

#include "serial/ReplyScan.h"
#include "tools/omega/RegisterHex.h"

CTempCtrlSettingsFile::~CTempCtrlSettingsFile() {
    Close();
}

bool CTempCtrlSettingsFile::Open(const std::filesystem::path& path) {
    Close();
    file_ = std::fopen(path.c_str(), "rb");
    if (file_ == nullptr) {
        return false;
    }
    struct stat info {};
    if (fstat(fileno(file_), &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<std::uintmax_t>(info.st_size) > kMaxFileSize) {
        Close();
        return false;
    }
    return true;
}

void CTempCtrlSettingsFile::Close() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
}

bool CTempCtrlSettingsFile::ReadSettingsFile(RegisterTable& table) {
    table.clear();
    if (file_ == nullptr) {
        return false;
    }
    // The size was checked at open, but the file may have grown since; never read past the cap.
    std::string text;
    char chunk[4096];
    size_t got = 0;
    while (text.size() < kMaxFileSize &&
           (got = std::fread(chunk, 1, sizeof chunk, file_)) > 0) {
        text.append(chunk, got);
    }
    if (text.size() > kMaxFileSize) {
        text.resize(kMaxFileSize);
    }
    omega::ReadSettingsText(text, table);
    return true;
}

namespace omega {

namespace {

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

void ReadLine(std::string_view line, const RegisterTable& reference, RegisterTable& table) {
    std::string copy(line);
    for (char& c : copy) {
        c = Lower(c);
    }
    // Only register lines start with "0x": the header, "End of file" and blank lines do not.
    if (copy.size() < 2 || copy.compare(0, 2, "0x") != 0) {
        return;
    }
    const size_t p = copy.find("0x", 2);
    if (p == std::string::npos) {
        return;
    }
    // The separator in front of the value is not part of the register, and the value stops one
    // character short of the line's end, where the register's name ends in a file we wrote.
    const std::string_view registerText = std::string_view(copy).substr(0, p - 1);
    const std::string_view valueText = std::string_view(copy).substr(p, copy.size() - 1 - p);
    RegisterEntry entry;
    entry.Register = wire::ScanHex(registerText).value_or(0);
    entry.Value = wire::ScanHex(valueText).value_or(0);
    if (const RegisterEntry* known = reference.Find(entry.Register)) {
        entry.Width = known->Width;
        entry.Name = known->Name;
    }
    table.Set(std::move(entry));
}

std::string Narrow(const std::wstring& text) {
    std::string narrow;
    narrow.reserve(text.size());
    for (const wchar_t c : text) {
        narrow.push_back(c >= 0 && c <= 0xFF ? static_cast<char>(c) : '?');
    }
    return narrow;
}

}  // namespace

void ReadSettingsText(std::string_view text, RegisterTable& table) {
    const RegisterTable reference = RtdHeatFilterwheelTable();
    table.clear();
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        // Read as text: a CR LF break is one line break, and a line, like any C string, ends at
        // its first NUL.
        if (end != std::string_view::npos && !line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        line = line.substr(0, line.find('\0'));
        ReadLine(line, reference, table);
    }
}

std::string FormatSettingsFile(const RegisterTable& table) {
    std::string text = "Reg\tValue\t\tDescription\r\n";
    for (const RegisterEntry& entry : table) {
        // One TAB after a six-digit value and two after shorter ones line the names up under
        // "Description".
        text += "0x" + Hex(entry.Register, 2) + "\t0x" + Hex(entry.Value, entry.Width) +
                (entry.Width <= 4 ? "\t\t" : "\t") + Narrow(entry.Name) + "\r\n";
    }
    text += "End of file";
    return text;
}

}  // namespace omega
