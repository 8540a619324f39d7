#include "serial/SerialPortList.h"

#include <cerrno>

#include "platform/PortHandle.h"

namespace {

constexpr int kHighestEnumeratedPort = 255;

}  // namespace

std::vector<PortListing> SurveyPorts(int first, int last) {
    std::vector<PortListing> ports;
    if (last < 1 || first > last) {
        return ports;
    }
    for (platform::PortEntry& entry : platform::ListPortEntries()) {
        if (entry.number < first || entry.number > last) {
            continue;
        }
        PortListing port{std::move(entry), PortState::Free, std::nullopt};
        if (!port.entry.Present()) {
            port.state = PortState::Unplugged;
        } else {
            // Not opened and configured to find out: that would leave a console line raw and
            // another program's port at 9600 baud. The probe asks what an open would meet, of
            // the device itself: a by-id link may not be there yet when the device is.
            switch (platform::ProbePortPath(port.entry.device)) {
                case platform::PortPresence::Absent:
                    continue;
                case platform::PortPresence::Available:
                    port.state = PortState::Free;
                    break;
                case platform::PortPresence::Busy:
                    port.state = PortState::Busy;
                    port.holder = platform::FindPortHolder(port.entry.device);
                    break;
                case platform::PortPresence::Forbidden:
                    port.state = PortState::NoPermission;
                    break;
            }
        }
        ports.push_back(std::move(port));
    }
    return ports;
}

bool EnumerateSerialPorts(std::vector<int>& ports) {
    ports.clear();
    for (const PortListing& port : SurveyPorts(1, kHighestEnumeratedPort)) {
        if (port.state != PortState::Unplugged) {
            ports.push_back(port.entry.number);
        }
    }
    return true;
}

std::vector<int> ScanOpenablePorts(int first, int last) {
    std::vector<int> ports;
    for (const PortListing& port : SurveyPorts(first, last)) {
        if (port.state == PortState::Free) {
            ports.push_back(port.entry.number);
        }
    }
    return ports;
}

std::string PortListingText(const PortListing& port, std::string_view prefix) {
    std::string text =
        std::string(prefix) + std::to_string(port.entry.number) + "  " + port.entry.DeviceName();
    if (!port.entry.adapter.empty()) {
        text += "  " + port.entry.adapter;
    }
    switch (port.state) {
        case PortState::Busy:
            text += "  - " + (port.holder ? platform::InUseBy(*port.holder) : "in use");
            break;
        case PortState::NoPermission:
            text += "  - no permission";
            break;
        case PortState::Free:
        case PortState::Unplugged:  // said where the device would be
            break;
    }
    return text;
}

std::string PortListingReason(const PortListing& port) {
    const int n = port.entry.number;
    switch (port.state) {
        case PortState::Free:
            return {};
        case PortState::Busy:
            return platform::DescribePortError(platform::FailureKind::Busy, n, EBUSY);
        case PortState::NoPermission:
            return platform::DescribePortError(platform::FailureKind::NoPermission, n, EACCES);
        case PortState::Unplugged:
            return platform::DescribePortError(platform::FailureKind::NoSuchPort, n, ENOENT);
    }
    return {};
}
