// Ports as udev sees them: real adapters by name, numbers that follow an adapter, hot-plug.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/PortHandle.h"
#include "platform/PortTable.h"
#include "platform/TtyDevices.h"
#include "serial/SerialPortList.h"
#include "udev/TestBed.h"

namespace {

using testing::ElementsAre;
using testing::HasSubstr;

class UdevPorts : public testing_support::UdevTestBed {
protected:
    // Number -> list text, as every port list shows them.
    static std::map<int, std::string> Shown() {
        std::map<int, std::string> shown;
        for (const PortListing& port : SurveyPorts(1, 255)) {
            shown[port.entry.number] = PortListingText(port);
        }
        return shown;
    }
    static std::string File(const std::string& path) {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
};

// What the machine has, named as a technician knows it: UARTs only where one answers, each
// adapter with its maker, product and serial number; two adapters without serial numbers told
// apart by the socket they are in; every adapter bound in the map at its default number.
TEST_F(UdevPorts, ListsRealDevicesByNameAndBindsEachAdapterToItsDefaultNumber) {
    AddUart("ttyS0", true);
    AddUart("ttyS1", false);
    Plug();
    Plug({.tty = "ttyUSB1",
          .socket = "1-3",
          .vendorId = "1a86",
          .productId = "7523",
          .manufacturer = "QinHeng",
          .product = "USB Serial",
          .serial = ""});
    Plug({.tty = "ttyUSB2",
          .socket = "1-4",
          .vendorId = "1a86",
          .productId = "7523",
          .manufacturer = "QinHeng",
          .product = "USB Serial",
          .serial = ""});
    Plug({.tty = "ttyACM0",
          .socket = "1-5",
          .vendorId = "2341",
          .productId = "0043",
          .manufacturer = "Arduino",
          .product = "Uno",
          .serial = "7563"});
    // A map that is not one is set aside whole, with one warning, and the defaults apply.
    std::filesystem::create_directories(std::filesystem::path(MapFile()).parent_path());
    std::ofstream(MapFile()) << "COM33 /dev/ttyUSB0\n";

    const auto devices = platform::ListTtyDevices();
    ASSERT_TRUE(devices);
    ASSERT_EQ(devices->size(), 5u) << "ttyS1 has no UART behind it";
    const platform::TtyDevice& ftdi = (*devices)[2];
    EXPECT_EQ(ftdi.name, "ttyUSB0");
    EXPECT_EQ(ftdi.vendorId + ":" + ftdi.productId + " " + ftdi.driver, "0403:6001 ftdi_sio");
    EXPECT_EQ(ftdi.Identity(), "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");

    EXPECT_THAT(Shown(),
                ElementsAre(std::pair(1, "COM1  ttyS0"),
                            std::pair(33, "COM33  ttyUSB0  FTDI FT232R USB UART (A50285BI)"),
                            std::pair(34,
                                      "COM34  ttyUSB1  QinHeng USB Serial (no serial number, "
                                      "USB socket 0:3:1.0)"),
                            std::pair(35,
                                      "COM35  ttyUSB2  QinHeng USB Serial (no serial number, "
                                      "USB socket 0:4:1.0)"),
                            std::pair(65, "COM65  ttyACM0  Arduino Uno (7563)")));
    EXPECT_THAT(platform::TakePortMapWarning(), HasSubstr("moved to " + MapFile() + ".bad"));
    EXPECT_EQ(File(MapFile() + ".bad"), "COM33 /dev/ttyUSB0\n");
    EXPECT_THAT(File(MapFile()),
                HasSubstr("COM34 /dev/serial/by-path/pci-0000:00:14.0-usb-0:3:1.0-port0"));
}

// An adapter keeps the number it was given, wherever it is plugged in and whatever ttyUSB it
// gets; while it is away its number shows it unplugged and no other adapter takes it.
TEST_F(UdevPorts, AnAdapterKeepsItsNumberAcrossRenumberingUnplugAndReplug) {
    platform::TtyMonitor monitor;
    ASSERT_GE(monitor.Fd(), 0);
    const auto changed = [&monitor] {
        pollfd p{monitor.Fd(), POLLIN, 0};
        return ::poll(&p, 1, 5000) == 1 && monitor.TakeEvents();
    };
    const std::string first = Plug();
    EXPECT_TRUE(changed()) << "plugging in is seen";
    ASSERT_EQ(Shown().count(33), 1u);
    std::string error;
    ASSERT_TRUE(platform::RenumberPort(33, 40, error)) << error;
    EXPECT_FALSE(platform::RenumberPort(40, 256, error));
    EXPECT_THAT(Shown(),
                ElementsAre(std::pair(40, "COM40  ttyUSB0  FTDI FT232R USB UART (A50285BI)")));
    {
        // The number leads to the adapter: the simulated controller behind it answers.
        platform::FailureKind failure;
        int sysError = 0;
        platform::PortHandle port = platform::PortHandle::Open(40, failure, sysError);
        ASSERT_TRUE(port.IsOpen()) << platform::DescribePortError(failure, 40, sysError);
    }

    Unplug(first);
    EXPECT_TRUE(changed()) << "pulling out is seen";
    const auto gone = SurveyPorts(40, 40);
    ASSERT_EQ(gone.size(), 1u);
    EXPECT_EQ(PortListingText(gone[0]), "COM40  unplugged  FTDI FT232R USB UART (A50285BI)");
    EXPECT_EQ(PortListingReason(gone[0]),
              "COM40 (FTDI FT232R USB UART (A50285BI)) is unplugged. Plug the adapter in and try "
              "again.");

    const std::string other = Plug({.serial = "B0000001"});
    Plug({.tty = "ttyUSB1", .socket = "1-3"});
    EXPECT_THAT(Shown(),
                ElementsAre(std::pair(33, "COM33  ttyUSB0  FTDI FT232R USB UART (B0000001)"),
                            std::pair(40, "COM40  ttyUSB1  FTDI FT232R USB UART (A50285BI)")));

    ASSERT_TRUE(platform::ForgetPort(40, error)) << error;
    EXPECT_THAT(Shown()[34], HasSubstr("A50285BI")) << "forgotten, it is numbered anew";
    EXPECT_EQ(Shown().count(40), 0u);
}

}  // namespace
