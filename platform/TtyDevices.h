#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// A serial device the system has, as udev knows it.
struct TtyDevice {
    std::string name;    // "ttyUSB0"
    std::string path;    // "/dev/ttyUSB0"
    std::string byId;    // "/dev/serial/by-id/usb-FTDI_..."; empty where udev made no link
    std::string byPath;  // "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0"
    std::string vendorId;
    std::string productId;
    std::string manufacturer;
    std::string product;
    std::string serial;
    std::string driver;  // ftdi_sio, cp210x, cdc_acm, serial, ...

    // The link that finds this very adapter again after a replug: by-id, which names it by its
    // serial number; by-path (the USB socket it is in) when it has none, because two adapters
    // of a kind without serial numbers share one by-id name. Empty when udev made neither.
    std::string Identity() const;
    // "FTDI FT232R USB UART (A50285BI)", or "... (no serial number, USB socket 0:2:1.0)" when
    // it is known by where it is plugged in; empty for a device that says nothing about itself.
    std::string AdapterName() const;
};

// Every tty with a device behind it: a /dev/ttyS* only where a UART answers, USB adapters,
// ACM modems, SoC and Bluetooth serial lines. Virtual terminals, consoles and pseudo-terminals
// are not serial devices. Sorted by name. Nothing when udev cannot be asked (no /sys).
std::optional<std::vector<TtyDevice>> ListTtyDevices();

// Tells when a serial device appears or goes. Pollable: wait for Fd() to be readable, then
// call TakeEvents().
class TtyMonitor {
public:
    TtyMonitor();
    ~TtyMonitor();
    TtyMonitor(const TtyMonitor&) = delete;
    TtyMonitor& operator=(const TtyMonitor&) = delete;

    // -1 when udev cannot be watched on this system.
    int Fd() const;
    // Reads what has arrived without waiting. True when a tty was added or removed.
    bool TakeEvents();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace platform
