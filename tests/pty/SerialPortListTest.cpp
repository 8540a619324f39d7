// Finding ports: the full listing (held ports count) and the scan for ports this program can open.
// Only numbers from kFirstTestPort up are asserted on: they have no default device, so whatever
// /dev/ttyS* the machine running the tests has cannot change the outcome.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <fstream>
#include <memory>
#include <vector>

#include "console/SerialPortList.h"
#include "platform/PortHandle.h"
#include "serial/SerialPort.h"
#include "sim/ShutterControllerSim.h"
#include "support/TestPortDirectory.h"

namespace {

using testing_support::kFirstTestPort;

bool Contains(const std::vector<int>& ports, int n) {
    return std::find(ports.begin(), ports.end(), n) != ports.end();
}

// The listed ports among the test numbers, in the order listed.
std::vector<int> TestPortsIn(const std::vector<int>& ports) {
    std::vector<int> mine;
    std::copy_if(ports.begin(), ports.end(), std::back_inserter(mine),
                 [](int n) { return n >= kFirstTestPort; });
    return mine;
}

std::vector<int> Enumerated() {
    std::vector<int> ports;
    EXPECT_TRUE(EnumerateSerialPorts(ports));
    return ports;
}

class SerialPortList : public testing_support::PortDirectoryTest {
protected:
    sim::CShutterControllerSim& Publish(int port) {
        devices.push_back(std::make_unique<sim::CShutterControllerSim>(port, PortDir()));
        EXPECT_TRUE(devices.back()->Start());
        return *devices.back();
    }
    void Link(int port, const std::string& target) {
        const std::string entry = PortDir() + "/COM" + std::to_string(port);
        ASSERT_EQ(::symlink(target.c_str(), entry.c_str()), 0);
    }
    void TearDown() override {
        devices.clear();
        PortDirectoryTest::TearDown();
    }

    std::vector<std::unique_ptr<sim::CShutterControllerSim>> devices;
};

TEST_F(SerialPortList, PublishedPortsAreFoundInAscendingOrderByBothWays) {
    Publish(kFirstTestPort + 4);
    Publish(kFirstTestPort);

    std::vector<int> ports{999, kFirstTestPort + 1};  // left over from a caller: emptied first
    ASSERT_TRUE(EnumerateSerialPorts(ports));
    EXPECT_EQ(TestPortsIn(ports), (std::vector<int>{kFirstTestPort, kFirstTestPort + 4}));
    EXPECT_TRUE(std::is_sorted(ports.begin(), ports.end()));
    EXPECT_EQ(std::adjacent_find(ports.begin(), ports.end()), ports.end()) << "no duplicates";

    EXPECT_EQ(ScanOpenablePorts(kFirstTestPort, kFirstTestPort + 10),
              (std::vector<int>{kFirstTestPort, kFirstTestPort + 4}));
}

TEST_F(SerialPortList, OnlyPortsUpTo255AreListedButTheScanGoesWhereItIsTold) {
    Publish(255);
    Publish(256);
    const auto ports = Enumerated();
    EXPECT_TRUE(Contains(ports, 255));
    EXPECT_FALSE(Contains(ports, 256));
    EXPECT_EQ(ScanOpenablePorts(250, 256), (std::vector<int>{255, 256}));
}

TEST_F(SerialPortList, ScanningLeavesNoPortHeld) {
    Publish(kFirstTestPort);
    Publish(kFirstTestPort + 2);
    ASSERT_EQ(ScanOpenablePorts(kFirstTestPort, kFirstTestPort + 2).size(), 2u);
    // The scratch port held the last one it opened until it went away.
    CSerialPort first;
    CSerialPort last;
    EXPECT_TRUE(first.Open(kFirstTestPort, 9600, 0, 8, 0));
    EXPECT_TRUE(last.Open(kFirstTestPort + 2, 9600, 0, 8, 0));
}

TEST_F(SerialPortList, APortHeldByAnotherOwnerIsListedButNotOpenable) {
    Publish(kFirstTestPort);
    Publish(kFirstTestPort + 1);
    CSerialPort holder;
    ASSERT_TRUE(holder.Open(kFirstTestPort, 9600, 0, 8, 0));

    EXPECT_EQ(TestPortsIn(Enumerated()), (std::vector<int>{kFirstTestPort, kFirstTestPort + 1}));
    EXPECT_EQ(platform::ProbePort(kFirstTestPort), platform::PortPresence::Busy);
    EXPECT_EQ(platform::ProbePort(kFirstTestPort + 1), platform::PortPresence::Available);
    EXPECT_EQ(ScanOpenablePorts(kFirstTestPort, kFirstTestPort + 1),
              (std::vector<int>{kFirstTestPort + 1}));
    // Looking must not loosen the holder's grip: its exclusive mode keeps other users out.
    int exclusive = 0;
    ASSERT_EQ(::ioctl(holder.PortHandle.NativeHandle(), TIOCGEXCL, &exclusive), 0);
    EXPECT_NE(exclusive, 0);

    holder.Close();
    EXPECT_EQ(ScanOpenablePorts(kFirstTestPort, kFirstTestPort + 1),
              (std::vector<int>{kFirstTestPort, kFirstTestPort + 1}));
}

TEST_F(SerialPortList, APortThatExistsButIsNotWorkingIsListedButNotOpenable) {
    // A pseudo-terminal whose master never unlocked it refuses every open with EIO, as a
    // device that is there but unwell does.
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    char name[128];
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::ptsname_r(master, name, sizeof name), 0);
    Link(kFirstTestPort + 3, name);

    EXPECT_TRUE(Contains(Enumerated(), kFirstTestPort + 3));
    EXPECT_TRUE(ScanOpenablePorts(kFirstTestPort + 3, kFirstTestPort + 3).empty());
    ::close(master);
}

TEST_F(SerialPortList, APortTheUserMayNotOpenIsListedButNotOpenable) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permissions do not stop root";
    }
    auto& device = Publish(kFirstTestPort);
    ASSERT_EQ(::chmod(device.SlavePath().c_str(), 0), 0);
    EXPECT_TRUE(Contains(Enumerated(), kFirstTestPort));
    EXPECT_TRUE(ScanOpenablePorts(kFirstTestPort, kFirstTestPort).empty());
}

TEST_F(SerialPortList, EntriesThatAreNotPortsAreNeitherListedNorOpened) {
    Publish(kFirstTestPort);
    Link(kFirstTestPort + 1, "/nonexistent/device");  // an adapter that was pulled out
    std::ofstream(PortDir() + "/COM" + std::to_string(kFirstTestPort + 2)) << "not a device";
    ASSERT_EQ(::mkdir((PortDir() + "/COM" + std::to_string(kFirstTestPort + 3)).c_str(), 0700), 0);
    Link(kFirstTestPort + 4, "/dev/null");  // a device, but no terminal
    const std::string fifo = PortDir() + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    Link(kFirstTestPort + 5, fifo);
    auto& unplugged = Publish(kFirstTestPort + 6);
    unplugged.HangUp();

    EXPECT_EQ(TestPortsIn(Enumerated()), (std::vector<int>{kFirstTestPort}));
    EXPECT_EQ(ScanOpenablePorts(kFirstTestPort, kFirstTestPort + 6),
              (std::vector<int>{kFirstTestPort}));
}

TEST_F(SerialPortList, ScanRangesWithoutPortsGiveNothing) {
    Publish(kFirstTestPort);
    EXPECT_TRUE(ScanOpenablePorts(kFirstTestPort + 1, kFirstTestPort).empty()) << "reversed";
    EXPECT_TRUE(ScanOpenablePorts(INT_MIN, 0).empty()) << "port 0 and below never open";
    EXPECT_TRUE(ScanOpenablePorts(INT_MAX - 2, INT_MAX).empty()) << "must end at INT_MAX";
}

}  // namespace
