#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/Report.h"
#include "cli/Terminal.h"

// The console's four tools, run from a shell on the same headless runs as their windows. Each
// prints its progress (a bar on a terminal, plain lines otherwise), records one step in the
// report and returns the exit status. Ctrl-C stops a run as the window's Cancel does; a firmware
// download is never stopped half-way.
namespace cli {

// Reads the Omega controller's registers into file.
int OmegaSave(int port, const std::string& file, CTerminal& terminal, CReport& report);
// Resets the Omega controller to a built-in configuration (configuration) or a saved settings
// file (file); exactly one of the two is given. factoryDefaults: the controller is on its
// factory line settings (7 data bits, odd parity).
int OmegaReset(int port, const std::string& configuration, const std::string& file,
               bool factoryDefaults, CTerminal& terminal, CReport& report);

// The v3.0 shutter controller's light-sensor threshold: read it, store a new one, or search for
// the one at which the shutter closes in the light present now (the search always starts from
// the lowest threshold, as the window's does).
int ThresholdGet(int port, CTerminal& terminal, CReport& report);
int ThresholdSet(int port, uint16_t threshold, CTerminal& terminal, CReport& report);
int ThresholdSearch(int port, CTerminal& terminal, CReport& report);

// The SmartMotor's motion program: save it to file (which must not exist), or load file into
// the motor after backing the old program up beside it. Loading asks first unless yes.
int MotorBackup(int port, const std::string& file, CTerminal& terminal, CReport& report);
int MotorLoad(int port, const std::string& file, bool yes, CTerminal& terminal, CReport& report);

// The configuration names omega reset takes, as the reset window lists them.
std::vector<std::string> OmegaConfigurations();

}  // namespace cli
