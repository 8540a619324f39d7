#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/PortMap.h"

namespace {

using platform::PortBinding;
using platform::PortMap;
using testing::HasSubstr;

constexpr const char* kFtdi = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
constexpr const char* kSocket = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:3:1.0-port0";

// A hand-edited or damaged map is refused whole, saying where, rather than half believed: a
// wrong binding would put a technician's command on another instrument.
TEST(PortMap, ReadsWhatItWritesAndRefusesAnythingElseSayingWhere) {
    PortMap map;
    std::string error;
    ASSERT_TRUE(map.Bind(kFtdi, "FTDI FT232R\n(A50285BI)", 33, 33, 64, {}));
    ASSERT_TRUE(map.Bind(kSocket, "", 0, 33, 64, {}));
    PortMap read;
    ASSERT_TRUE(PortMap::Parse(map.Text() + "\n  # a comment\n", read, error)) << error;
    EXPECT_EQ(read.Bindings(),
              (std::vector<PortBinding>{{33, kFtdi, "FTDI FT232R?(A50285BI)"}, {34, kSocket, ""}}));

    const struct {
        const char* text;
        const char* says;
    } bad[] = {
        {"COM0 /dev/serial/by-id/x\n", "line 1: \"COM0\" is not COM1 to COM255"},
        {"\nCOM256 /dev/serial/by-id/x\n", "line 2"},
        {"COM+3 /dev/serial/by-id/x\n", "not COM1"},
        {"COM3\n", "no /dev/serial link"},
        {"COM3 /dev/ttyUSB0\n", "no /dev/serial link"},
        {"COM3 /dev/serial/by-id/x\nCOM3 /dev/serial/by-id/y\n", "line 2: COM3 or its adapter"},
        {"COM3 /dev/serial/by-id/x\nCOM4 /dev/serial/by-id/x\n", "bound twice"},
        {"\x01\xff", "not COM1"},
    };
    for (const auto& row : bad) {
        SCOPED_TRACE(row.text);
        EXPECT_FALSE(PortMap::Parse(row.text, read, error));
        EXPECT_THAT(error, HasSubstr(row.says));
    }
}

// A new adapter takes its default number when that is free, else the lowest free number of its
// range; numbers the map binds or something else has (taken) are never given twice.
TEST(PortMap, BindsRenumbersAndForgetsWithoutEverGivingANumberTwice) {
    PortMap map;
    std::string error;
    EXPECT_EQ(map.Bind(kFtdi, "", 35, 33, 64, {}), 35);
    EXPECT_EQ(map.Bind(kFtdi, "", 40, 33, 64, {}), 35) << "known adapters keep their number";
    EXPECT_EQ(map.Bind(kSocket, "", 35, 33, 64, {33}), 34);
    EXPECT_EQ(map.Bind("/dev/serial/by-id/c", "", 0, 33, 35, {33}), std::nullopt) << "range full";
    EXPECT_EQ(map.Bind("/dev/ttyUSB0", "", 36, 33, 64, {}), std::nullopt) << "not a stable link";

    EXPECT_FALSE(map.Renumber(35, 34, {}, error));
    EXPECT_EQ(error, "COM34 is already in use.");
    EXPECT_FALSE(map.Renumber(35, 50, {50}, error));
    EXPECT_FALSE(map.Renumber(35, 0, {}, error));
    EXPECT_FALSE(map.Renumber(36, 50, {}, error));
    ASSERT_TRUE(map.Renumber(35, 3, {}, error));
    EXPECT_EQ(map.At(3)->identity, kFtdi);
    EXPECT_EQ(map.Bindings().front().number, 3) << "kept in order";
    EXPECT_TRUE(map.Forget(3));
    EXPECT_FALSE(map.Forget(3));
    EXPECT_EQ(map.Of(kFtdi), nullptr);
}

}  // namespace
