#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/TtyDevices.h"

namespace platform {

// What stands behind each COM number right now. In order of precedence:
//  1. an entry COMn in the port folder (a simulated device, or a link a technician made);
//  2. the port map: an adapter bound to n by its /dev/serial link, present or unplugged;
//  3. a device udev lists that the map does not bind, under its default number: ttyS<k> is
//     COM<k+1>, ttyUSB<k> COM<33+k>, ttyACM<k> COM<65+k>, others from COM97 up.
// An adapter with a /dev/serial link seen for the first time is bound in the map to its default
// number when that is free, else to the lowest free number of its range (COM33-64 for ttyUSB,
// COM65-96 for ttyACM, COM97-255 for the rest), and keeps it from then on.
struct PortEntry {
    int number = 0;
    std::string path;      // what an open opens: the folder's entry, the adapter's link, /dev/ttyX
    std::string device;    // the device it leads to now ("/dev/ttyUSB0"); empty while unplugged
    std::string adapter;   // "FTDI FT232R USB UART (A50285BI)", "pseudo-terminal", ...
    std::string identity;  // the /dev/serial link the map binds it by, when it does
    bool inFolder = false;
    TtyDevice tty;  // what udev says of the device, when it is one udev lists and it is there

    bool Present() const { return !device.empty(); }
    // "ttyUSB0", "pts/3", "unplugged".
    std::string DeviceName() const;
};

// Every number with something behind it, ordered by number. A folder entry whose device is
// gone is left out (it still keeps its number from others); a mapped adapter that is unplugged
// is listed, not present.
std::vector<PortEntry> ListPortEntries();

// The entry for one number, or nothing when no device has it. A folder entry is returned
// without asking udev.
std::optional<PortEntry> FindPortEntry(int number);

// Moves the adapter bound to from to the number to, or unbinds it; in the map file, for every
// program that reads it. False, with a sentence for the person in error, when that cannot be.
bool RenumberPort(int from, int to, std::string& error);
bool ForgetPort(int number, std::string& error);

// The device a port number has by default (COM1 /dev/ttyS0, COM33 /dev/ttyUSB0, COM65
// /dev/ttyACM0, ...), whether or not it is there; nothing above COM96.
std::optional<std::string> DefaultPortDevicePath(int portNumber);

// What went wrong with the port map file since the last call; empty when nothing did. Also
// written to stderr once.
std::string TakePortMapWarning();

}  // namespace platform
