#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "tools/omega/RegisterTable.h"

// A settings file of the save tool: a header, one "0xRR<TAB>0xVALUE<TAB(s)>Name" line per
// register and "End of file". Names and widths are never read from it: they come from the
// vocabulary, so a file edited by hand cannot invent either.
class CTempCtrlSettingsFile {
public:
    // The largest file read. A settings file is about 1.3 KB; anything near this is not one,
    // and refusing it keeps the table and the run that writes it bounded.
    static constexpr std::uintmax_t kMaxFileSize = 1 << 20;

    CTempCtrlSettingsFile() = default;
    CTempCtrlSettingsFile(const CTempCtrlSettingsFile&) = delete;
    CTempCtrlSettingsFile& operator=(const CTempCtrlSettingsFile&) = delete;
    ~CTempCtrlSettingsFile();

    // Opens path for reading; false when it cannot be opened, is not a regular file or is
    // larger than kMaxFileSize.
    bool Open(const std::filesystem::path& path);
    void Close();

    // Empties table and fills it from the file's register lines. True once the file is open.
    bool ReadSettingsFile(RegisterTable& table);

private:
    std::FILE* file_ = nullptr;
};

namespace omega {

// Fills table from the text of a settings file, as ReadSettingsFile does; a line ends at LF,
// and a CR before it is not part of the line.
void ReadSettingsText(std::string_view text, RegisterTable& table);

// The text of a settings file for table: CR LF line breaks, no break after "End of file".
std::string FormatSettingsFile(const RegisterTable& table);

}  // namespace omega
