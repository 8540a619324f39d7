#pragma once

#include <memory>
#include <string>
#include <vector>

namespace sim {

// A test bed works only in a process that umockdev's preload library was loaded into from the
// start. Called first thing in main: when the library is missing, starts the program again with
// it (and never returns); otherwise returns at once.
void RestartWithTestBedPreload(char** argv);

// A USB serial adapter as the kernel and udev lay it out: usb_device, interface, usb-serial port
// and tty, with udev's properties and /dev/serial links.
struct UsbAdapter {
    std::string tty = "ttyUSB0";
    std::string socket = "1-2";  // USB bus and port path
    std::string vendorId = "0403";
    std::string productId = "6001";
    std::string manufacturer = "FTDI";
    std::string product = "FT232R USB UART";
    std::string serial = "A50285BI";
};

// A umockdev test bed: once made, this process's libudev, /sys and the /dev nodes it adds are
// the test bed's. It works only in a process started with umockdev's preload library. The device
// nodes it adds are links to terminals the caller owns (a simulated device's pseudo-terminal),
// so that the program's real port code runs on them.
class CUsbTestBed {
public:
    CUsbTestBed();
    ~CUsbTestBed();
    CUsbTestBed(const CUsbTestBed&) = delete;
    CUsbTestBed& operator=(const CUsbTestBed&) = delete;

    // False when the preload library is missing: then nothing here is seen by udev.
    bool Valid() const { return valid_; }

    // Plugs an adapter in, its node leading to terminal; udev says "add". Returns its sysfs path.
    std::string Plug(const UsbAdapter& adapter, const std::string& terminal);
    // A UART on the PC's own serial port (type 4, a 16550A) or an empty 8250 slot (type 0).
    void AddUart(const std::string& tty, bool present, const std::string& terminal);
    // Pulls an adapter out: udev says "remove", the node and links go.
    void Unplug(const std::string& syspath);

private:
    void Node(const std::string& name, const std::string& target);

    // umockdev's own header is kept out of this one: GLib's and Qt's headers do not mix.
    struct Bed;
    std::unique_ptr<Bed> bed_;
    bool valid_ = false;
    std::string root_;
    struct Plugged {
        std::string tty;                 // sysfs paths
        std::vector<std::string> chain;  // the tty and its parents up to the USB device
        std::vector<std::string> files;  // node and links
    };
    std::vector<Plugged> plugged_;
};

}  // namespace sim
