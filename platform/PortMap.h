#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace platform {

// Which COM number each serial adapter keeps: a number bound to the adapter's stable link
// (/dev/serial/by-id/..., or by-path for one without a serial number), so that the adapter
// answers to the same number whichever /dev/ttyUSBk it gets after a replug or a reboot. The
// console and pravikctl share the file.
//
// The file is plain text, one binding a line, "#" starting a comment:
//     COM33 /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0 FTDI FT232R (A50285BI)
// the number, the link, and the adapter's name as it was last seen (shown while it is away).
struct PortBinding {
    int number = 0;
    std::string identity;
    std::string adapter;

    bool operator==(const PortBinding&) const = default;
};

class PortMap {
public:
    static constexpr int kHighestNumber = 255;

    // $XDG_CONFIG_HOME/Pravik/ports, else ~/.config/Pravik/ports.
    static std::string DefaultFile();

    // Reads the map at path; a missing file is an empty map. A file that cannot be read or is
    // not a map is renamed aside (path + ".bad", ".bad1", ...) so that nothing in it is lost,
    // the map is empty, and warning says what happened and where the file went.
    static PortMap Load(const std::string& path, std::string& warning);
    // Parses a map's text. False, with the line and what is wrong in error, when it is not one.
    static bool Parse(const std::string& text, PortMap& map, std::string& error);
    std::string Text() const;
    // Writes the map in place of the old one, whole or not at all; makes the folder if needed.
    bool Save(const std::string& path, std::string& error) const;

    const std::vector<PortBinding>& Bindings() const { return bindings_; }
    const PortBinding* At(int number) const;
    const PortBinding* Of(const std::string& identity) const;

    // Binds an adapter seen for the first time: to preferred when that number is free, else to
    // the lowest free number from first to last. A number is free when nothing in the map has it
    // and it is not in taken. Returns the number, or nothing when the range is full.
    std::optional<int> Bind(const std::string& identity, const std::string& adapter, int preferred,
                            int first, int last, const std::set<int>& taken);
    // Keeps the adapter's name up to date. True when it changed.
    bool Rename(const std::string& identity, const std::string& adapter);
    // Moves a binding to another number. Fails, saying why, when there is no binding at from,
    // to is out of 1 to 255, or to is bound already or in taken.
    bool Renumber(int from, int to, const std::set<int>& taken, std::string& error);
    // Drops a binding; the adapter gets a number anew when it is next seen.
    bool Forget(int number);

private:
    std::vector<PortBinding> bindings_;  // ordered by number
    // Set when a file that could not be read could not be moved aside either: saving would
    // overwrite what is in it.
    bool readOnly_ = false;
};

}  // namespace platform
