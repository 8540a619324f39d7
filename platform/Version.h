#pragma once

#include <string>
#include <string_view>

// The version the About box shows, from the file version the build recorded: up to four dotted
// numbers; the fourth is shown only when it is above 0 ("3.1.4.0" shows as "3.1.4"). Numbers
// that are missing count as 0; text that is no version gives what could be read.
std::string FormatVersion(std::string_view fileVersion);

// The program's own version text, computed once and kept for the rest of the run.
const std::string& ProgramVersion();
