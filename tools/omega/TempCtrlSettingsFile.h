#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "tools/omega/RegisterTable.h"

// A settings file of the save tool: a header, one "0xRR<TAB>0xVALUE<TAB(s)>Name" line per
// register and "End of file". Names and widths are never read from it: they come from the
// vocabulary, so a file edited by hand cannot invent either.
//
// A file is taken only as a whole: every register line must name a register of the vocabulary
// with a value its width can hold, and at least one line must set a register. Anything else
// (a note, a file from another tool, a save that could not read every register) is refused
// before a controller hears of it, and the first line at fault is named.
class CTempCtrlSettingsFile {
public:
    // The largest file read. A settings file is about 1.3 KB; anything near this is not one,
    // and refusing it keeps the table and the run that writes it bounded.
    static constexpr std::uintmax_t kMaxFileSize = 1 << 20;

    CTempCtrlSettingsFile() = default;
    CTempCtrlSettingsFile(const CTempCtrlSettingsFile&) = delete;
    CTempCtrlSettingsFile& operator=(const CTempCtrlSettingsFile&) = delete;
    ~CTempCtrlSettingsFile();

    // Opens path for reading, without ever waiting on it; false when it cannot be opened, is
    // not a regular file or is larger than kMaxFileSize.
    bool Open(const std::filesystem::path& path);
    void Close();

    // Empties table and fills it from the file's register lines. False when nothing is open or
    // the file is refused; Problem() then says why, and table stays empty.
    bool ReadSettingsFile(RegisterTable& table);
    const std::wstring& Problem() const { return problem_; }

private:
    int fd_ = -1;
    std::wstring problem_;
};

namespace omega {

// Fills table from the text of a settings file, as ReadSettingsFile does; a line ends at LF,
// and a CR before it is not part of the line. Returns why the text is refused ("line 3: ..."),
// with table left empty, or an empty text when every register line can be written.
std::wstring ReadSettingsText(std::string_view text, RegisterTable& table);

// The text of a settings file for table: CR LF line breaks, no break after "End of file".
std::string FormatSettingsFile(const RegisterTable& table);

}  // namespace omega
