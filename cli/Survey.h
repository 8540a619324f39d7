#pragma once

#include "cli/Report.h"
#include "cli/Terminal.h"

// The commands that look at ports rather than run an instrument.
namespace cli {

// Every port as the console's lists show it: number, device, adapter and state.
int ListPorts(bool json, CTerminal& terminal);

// Which kinds of device answer on port (every free port when port is 0) and what each said
// about itself. Never opens a port that someone holds.
int IdentifyPorts(int port, int baud, CTerminal& terminal, CReport& report);

}  // namespace cli
