#include "cli/Tools.h"

#include "tools/omega/SettingsResetRun.h"

// Placeholder until the tools are wired: each says it is not there.
namespace cli {

namespace {
int NotYet(CTerminal& terminal) {
    terminal.Error("this command is not available yet");
    return kExitUsage;
}
}  // namespace

int OmegaSave(int, const std::string&, CTerminal& t, CReport&) {
    return NotYet(t);
}
int OmegaReset(int, const std::string&, const std::string&, bool, CTerminal& t, CReport&) {
    return NotYet(t);
}
int ThresholdGet(int, CTerminal& t, CReport&) {
    return NotYet(t);
}
int ThresholdSet(int, uint16_t, CTerminal& t, CReport&) {
    return NotYet(t);
}
int ThresholdSearch(int, uint16_t, CTerminal& t, CReport&) {
    return NotYet(t);
}
int MotorBackup(int, const std::string&, CTerminal& t, CReport&) {
    return NotYet(t);
}
int MotorLoad(int, const std::string&, bool, CTerminal& t, CReport&) {
    return NotYet(t);
}

std::vector<std::string> OmegaConfigurations() {
    std::vector<std::string> names;
    for (const std::wstring_view name : kResetConfigurations) {
        if (name != kCustomSettingsFile) {
            names.push_back(Narrow(name));
        }
    }
    return names;
}

}  // namespace cli
