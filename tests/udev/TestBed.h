#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "sim/ShutterControllerSim.h"
#include "support/TestPortDirectory.h"

typedef struct _UMockdevTestbed UMockdevTestbed;

namespace testing_support {

// A USB serial adapter as the kernel and udev lay it out: usb_device, interface, usb-serial port
// and tty, with udev's properties and /dev/serial links, its node a pseudo-terminal with a
// simulated v3.0 shutter controller on the far end.
struct Adapter {
    std::string tty = "ttyUSB0";
    std::string socket = "1-2";  // USB bus and port path
    std::string vendorId = "0403";
    std::string productId = "6001";
    std::string manufacturer = "FTDI";
    std::string product = "FT232R USB UART";
    std::string serial = "A50285BI";
};

// A umockdev test bed that the process's libudev, /sys and /dev look into, with a port folder
// and a configuration folder of the test's own (so the port map starts empty).
class UdevTestBed : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Plugs an adapter in; returns its sysfs path.
    std::string Plug(const Adapter& adapter);
    // A UART on the PC's own serial port (type 4, a 16550A) or an empty 8250 slot (type 0).
    void AddUart(const std::string& tty, bool present);
    // Pulls an adapter out: udev says "remove", the node and links go.
    void Unplug(const std::string& syspath);
    std::string MapFile() const { return config_ + "/Pravik/ports"; }

private:
    std::string Simulate();  // a simulated device's terminal, for a node to lead to
    void Node(const std::string& name, const std::string& target);
    UMockdevTestbed* bed_ = nullptr;
    std::string root_;
    std::string config_;
    std::string ports_;
    std::vector<std::unique_ptr<sim::CShutterControllerSim>> devices_;
    struct Plugged {
        std::string tty;                 // sysfs paths
        std::vector<std::string> chain;  // the tty and its parents up to the USB device
        std::vector<std::string> files;  // node and links
    };
    std::vector<Plugged> nodes_;
};

}  // namespace testing_support
