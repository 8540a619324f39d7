#include "tools/omega/TempCtrlSettingsFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/RegularFile.h"
#include "serial/ReplyScan.h"
#include "serial/WireText.h"
#include "tools/omega/RegisterHex.h"

CTempCtrlSettingsFile::~CTempCtrlSettingsFile() {
    Close();
}

bool CTempCtrlSettingsFile::Open(const std::filesystem::path& path) {
    Close();
    problem_.clear();
    fd_ = platform::OpenRegularFile(path, O_RDONLY);
    if (fd_ < 0) {
        const int error = errno;
        problem_ = error == platform::kNotARegularFile
                       ? L"The path does not name a file."
                       : L"The file cannot be opened: " + wire::Widen(std::strerror(error)) + L".";
        return false;
    }
    struct stat info {};
    if (::fstat(fd_, &info) != 0 || static_cast<std::uintmax_t>(info.st_size) > kMaxFileSize) {
        Close();
        problem_ = L"The file is larger than a settings file can be.";
        return false;
    }
    return true;
}

void CTempCtrlSettingsFile::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool CTempCtrlSettingsFile::ReadSettingsFile(RegisterTable& table) {
    table.clear();
    problem_.clear();
    if (fd_ < 0) {
        problem_ = L"No file is open.";
        return false;
    }
    // The size was checked at open, but the file may have grown since: one byte past the cap
    // shows that it did.
    std::string text;
    if (platform::ReadUpTo(fd_, kMaxFileSize + 1, text) != 0) {
        problem_ = L"The file cannot be read.";
        return false;
    }
    if (text.size() > kMaxFileSize) {
        problem_ = L"The file is larger than a settings file can be.";
        return false;
    }
    problem_ = omega::ReadSettingsText(text, table);
    return problem_.empty();
}

namespace omega {

namespace {

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// A line as a status text can show it: TABs and other control bytes as blanks, and not so long
// that a file of one endless line fills the window.
std::wstring Shown(std::string_view line) {
    constexpr size_t kShown = 60;
    std::wstring shown = wire::Widen(line.substr(0, kShown));
    for (wchar_t& c : shown) {
        if (c < L' ' || c == 0x7F) {
            c = L' ';
        }
    }
    return L"\"" + shown + (line.size() > kShown ? L"...\"" : L"\"");
}

// Reads one line into table. Returns why the line cannot be written to a controller; an empty
// text when it can or when it is not a register line at all.
std::wstring ReadLine(std::string_view line, size_t number, const RegisterTable& reference,
                      RegisterTable& table) {
    std::string copy(line);
    for (char& c : copy) {
        c = Lower(c);
    }
    // Only register lines start with "0x": the header, "End of file" and blank lines do not.
    if (copy.size() < 2 || copy.compare(0, 2, "0x") != 0) {
        return {};
    }
    const size_t p = copy.find("0x", 2);
    if (p == std::string::npos) {
        return {};
    }
    // The separator in front of the value is not part of the register, and the value stops one
    // character short of the line's end, where the register's name ends in a file we wrote.
    const std::string_view registerText = std::string_view(copy).substr(0, p - 1);
    const std::string_view valueText = std::string_view(copy).substr(p, copy.size() - 1 - p);
    RegisterEntry entry;
    entry.Register = wire::ScanHex(registerText).value_or(0);
    entry.Value = wire::ScanHex(valueText).value_or(0);
    const std::wstring where = L"line " + std::to_wstring(number) + L": " + Shown(line);
    const RegisterEntry* known = reference.Find(entry.Register);
    if (known == nullptr) {
        // The controller has no command for it; writing the rest would leave it half set.
        return where + L" names register 0x" + WideHex(entry.Register, 2) +
               L", which the controller does not have.";
    }
    entry.Width = known->Width;
    entry.Name = known->Name;
    // A value wider than its register would go out whole and be taken as other settings by
    // the controller; a save that could not read a register leaves FFFFFFFF, which none holds.
    if (entry.Width < 8 && entry.Value >> (4 * entry.Width) != 0) {
        return where + L" sets register 0x" + WideHex(entry.Register, 2) + L" (" + entry.Name +
               L") to 0x" + WideHex(entry.Value, 0) + L", more than its " +
               std::to_wstring(entry.Width) + L" hex digits hold.";
    }
    table.Set(std::move(entry));
    return {};
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

std::wstring ReadSettingsText(std::string_view text, RegisterTable& table) {
    static const RegisterTable reference = RtdHeatFilterwheelTable();
    table.clear();
    for (size_t number = 1; !text.empty(); ++number) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        // Read as text: a CR LF break is one line break, and a line, like any C string, ends at
        // its first NUL.
        if (end != std::string_view::npos && !line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        line = line.substr(0, line.find('\0'));
        if (std::wstring problem = ReadLine(line, number, reference, table); !problem.empty()) {
            table.clear();
            return problem;
        }
    }
    // A note, an empty file or one from another tool: restarting the controller on nothing
    // would only hide that the wrong file was chosen.
    if (table.empty()) {
        return L"No line of the file sets a register.";
    }
    return {};
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
