#include "serial/SerialPortList.h"

#include <algorithm>
#include <cstdint>

#include "platform/PortHandle.h"

namespace {

constexpr int kHighestEnumeratedPort = 255;

}  // namespace

bool EnumerateSerialPorts(std::vector<int>& ports) {
    ports.clear();
    for (int n = 1; n <= kHighestEnumeratedPort; ++n) {
        if (platform::ProbePort(n) != platform::PortPresence::Absent) {
            ports.push_back(n);
        }
    }
    return true;
}

std::vector<int> ScanOpenablePorts(int first, int last) {
    std::vector<int> ports;
    // Not opened and configured to find out: that would leave a console line raw and another
    // program's port at 9600 baud. The probe asks what an open would be refused for instead.
    // 64-bit count so that last == INT_MAX cannot wrap the loop around.
    for (int64_t n = std::max(first, 1); n <= last; ++n) {
        const int port = static_cast<int>(n);
        if (platform::ProbePort(port) == platform::PortPresence::Available) {
            ports.push_back(port);
        }
    }
    return ports;
}
