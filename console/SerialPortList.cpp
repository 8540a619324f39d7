#include "console/SerialPortList.h"

#include <algorithm>
#include <cstdint>

#include "platform/PortHandle.h"
#include "serial/SerialPort.h"

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
    // One object for the whole scan: each Open closes what the previous one held, and the
    // destructor closes the last, so nothing stays held once the list is made.
    CSerialPort scratch;
    // 64-bit count so that last == INT_MAX cannot wrap the loop around.
    for (int64_t n = std::max(first, 1); n <= last; ++n) {
        const int port = static_cast<int>(n);
        if (scratch.Open(port, 9600, 0, 8, 0)) {
            ports.push_back(port);
        }
    }
    return ports;
}
