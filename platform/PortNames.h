#pragma once

#include <optional>
#include <string>

namespace platform {

// The program speaks of ports as numbers n and shows them as COMn. On this system a number is
// mapped to a device path: an entry named COMn in the port directory wins (normally a symlink a
// technician or the simulator put there); otherwise COM1-32 are /dev/ttyS0-31, COM33-64
// /dev/ttyUSB0-31 and COM65-96 /dev/ttyACM0-31.

// $PRAVIK_PORT_DIR, else $XDG_RUNTIME_DIR/pravik/ports, else /tmp/pravik-<uid>/ports.
std::string PortDirectory();

// The device path of COMn, or nothing for port 0, negative numbers and unmapped numbers.
std::optional<std::string> PortDevicePath(int portNumber);

// The path a port number would have by default, ignoring the port directory.
std::optional<std::string> DefaultPortDevicePath(int portNumber);

}  // namespace platform
