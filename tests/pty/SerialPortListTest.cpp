// Finding ports: the full listing (held ports count) and the scan for ports this program can open.
// Only numbers from kFirstTestPort up are asserted on: they have no default device, so whatever
// /dev/ttyS* the machine running the tests has cannot change the outcome.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <fstream>
#include <memory>
#include <vector>

#include "platform/PortHandle.h"
#include "serial/SerialPort.h"
#include "serial/SerialPortList.h"
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

// Both ways find the published ports in ascending order; the listing stops at 255, a scan goes
// where it is told, and a range without ports gives nothing.
TEST_F(SerialPortList, PublishedPortsAreFoundInAscendingOrderByBothWaysWithinTheirRanges) {
    for (const int port : {kFirstTestPort + 4, kFirstTestPort, 255, 256}) {
        Publish(port);
    }
    std::vector<int> ports{999, kFirstTestPort + 1};  // left over from a caller: emptied first
    ASSERT_TRUE(EnumerateSerialPorts(ports));
    EXPECT_EQ(TestPortsIn(ports), (std::vector<int>{kFirstTestPort, kFirstTestPort + 4, 255}));
    EXPECT_TRUE(std::is_sorted(ports.begin(), ports.end()));
    EXPECT_EQ(std::adjacent_find(ports.begin(), ports.end()), ports.end()) << "no duplicates";

    EXPECT_EQ(ScanOpenablePorts(kFirstTestPort, kFirstTestPort + 10),
              (std::vector<int>{kFirstTestPort, kFirstTestPort + 4}));
    EXPECT_EQ(ScanOpenablePorts(250, 256), (std::vector<int>{255, 256}));
    EXPECT_TRUE(ScanOpenablePorts(kFirstTestPort + 1, kFirstTestPort).empty()) << "reversed";
    EXPECT_TRUE(ScanOpenablePorts(INT_MIN, 0).empty()) << "port 0 and below never open";
    EXPECT_TRUE(ScanOpenablePorts(INT_MAX - 2, INT_MAX).empty()) << "must end at INT_MAX";
}

// The bytes of a terminal's settings, padding zeroed, so that "unchanged" means byte-identical.
std::string Settings(int fd) {
    termios tio;
    std::memset(&tio, 0, sizeof tio);
    EXPECT_EQ(::tcgetattr(fd, &tio), 0);
    return std::string(reinterpret_cast<const char*>(&tio), sizeof tio);
}

// Another program's session on a port: its line settings (115200, line mode, echo) and its hold.
// Listing changes nothing about any port; a held port is listed but neither scanned as openable
// nor opened, even by root, who gets past the exclusive flag; a port the program does open is
// handed back in the settings it had.
TEST_F(SerialPortList, ListingChangesNoPortAndAHeldPortIsLeftAsItsHolderSetIt) {
    enum class Hold { None, ExclusiveFlag, Flock };
    const std::pair<const char*, Hold> cases[] = {
        {"not held", Hold::None},
        {"exclusive flag", Hold::ExclusiveFlag},
        {"flock", Hold::Flock},
    };
    int port = kFirstTestPort;
    for (const auto& [what, hold] : cases) {
        SCOPED_TRACE(what);
        auto& device = Publish(++port);
        const int holder =
            ::open(device.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(holder, 0);
        termios tio;
        ASSERT_EQ(::tcgetattr(holder, &tio), 0);
        ::cfsetspeed(&tio, B115200);
        tio.c_lflag |= ICANON | ECHO;
        ASSERT_EQ(::tcsetattr(holder, TCSANOW, &tio), 0);
        if (hold == Hold::ExclusiveFlag) {
            ASSERT_EQ(::ioctl(holder, TIOCEXCL), 0);
        } else if (hold == Hold::Flock) {
            ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
        }
        const std::string before = Settings(holder);
        const bool held = hold != Hold::None;

        EXPECT_TRUE(Contains(Enumerated(), port));
        EXPECT_EQ(ScanOpenablePorts(port, port).size(), held ? 0u : 1u);
        // What a person sees of it in a list, and why it cannot be chosen.
        const auto listed = SurveyPorts(port, port);
        ASSERT_EQ(listed.size(), 1u);
        const std::string text = PortListingText(listed[0]);
        EXPECT_TRUE(text.starts_with("COM" + std::to_string(port) + "  " +
                                     device.SlavePath().substr(5) + "  pseudo-terminal" +
                                     (held ? "  - in use" : "")))
            << text;
        // An flock names its holder: this very test.
        EXPECT_EQ(text.ends_with(" (" + std::to_string(::getpid()) + ")"), hold == Hold::Flock);
        EXPECT_EQ(PortListingReason(listed[0]).find(" is in use by ") != std::string::npos, held);
        EXPECT_EQ(Settings(holder), before) << "listing changed the port";

        CSerialPort program;
        EXPECT_EQ(program.Open(port, 9600, 0, 8, 0), !held);
        if (held) {
            EXPECT_EQ(program.LastFailure().Kind, platform::FailureKind::Busy);
        } else {
            EXPECT_NE(Settings(holder), before) << "an open port is raw, at 9600";
        }
        program.Close();
        EXPECT_EQ(Settings(holder), before);
        int exclusive = 0;
        ASSERT_EQ(::ioctl(holder, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive != 0, hold == Hold::ExclusiveFlag) << "only its setter clears it";
        ::close(holder);
    }
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
    const auto listed = SurveyPorts(kFirstTestPort, kFirstTestPort);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_TRUE(PortListingText(listed[0]).ends_with("  - no permission"));
    EXPECT_NE(PortListingReason(listed[0]).find("\"dialout\""), std::string::npos);
    CSerialPort port;
    EXPECT_FALSE(port.Open(kFirstTestPort, 9600, 0, 8, 0));
    EXPECT_EQ(port.LastFailure().Kind, platform::FailureKind::NoPermission);
    EXPECT_NE(port.LastFailure().Text.find("\"dialout\""), std::string::npos);
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

}  // namespace
