#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// The program speaks of ports as numbers n and shows them as COMn. On this system a number is
// mapped to a device path: an entry named COMn in the port directory wins (normally a symlink a
// technician or the simulator put there); otherwise COM1-32 are /dev/ttyS0-31, COM33-64
// /dev/ttyUSB0-31 and COM65-96 /dev/ttyACM0-31.

// $PRAVIK_PORT_DIR, else $XDG_RUNTIME_DIR/pravik/ports, else pravik/ports in the user's own state
// directory ($XDG_STATE_HOME, else ~/.local/state). Never a shared folder such as /tmp, where
// another user could make the folder first and put their own device behind a port name.
std::string PortDirectory();

// The port directory's entries are used only while the folder, and every folder the program
// makes for it, is a real folder (not a symlink) that belongs to this user and that nobody else
// can write to. Empty when it is safe or does not exist yet; otherwise one line saying which
// folder is wrong and that ports use their default names. The line also goes to stderr, once.
std::string PortDirectoryWarning();

// Makes path (the port directory, or a simulator's --port-dir) ready to publish COMn entries in:
// creates what is missing, mode 0700, and checks it as above, including folders that existed
// already. False, with a message in error, when it is not safe to publish there.
bool MakePortDirectory(const std::string& path, std::string& error);

// The port folder's entry COMn, when the folder is safe to use and has one (it may dangle).
std::optional<std::string> PortDirectoryEntry(int portNumber);
// Every COMn entry of the port folder (dangling or not), number and path, ascending, when the
// folder is safe to use.
std::vector<std::pair<int, std::string>> PortDirectoryEntries();

// The device path of COMn (see PortTable.h), or nothing for port 0, negative numbers and
// numbers with nothing behind them.
std::optional<std::string> PortDevicePath(int portNumber);

}  // namespace platform
