#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/PortLocks.h"
#include "platform/PortTable.h"

// Finding the machine's serial ports, in the ways the program needs them.

// Empties ports, then appends in ascending order every n from 1 to 255 for which COMn exists,
// whether or not someone holds it right now (a port another program has open is still a port
// the technician may mean). Always returns true.
bool EnumerateSerialPorts(std::vector<int>& ports);

// The ports from first to last inclusive that this program can open for itself right now, in
// ascending order. Each is looked at as the listing does, changing nothing about it; a port
// someone else holds, or that the user may not open, is not among them. Numbers below 1 never
// open and are skipped.
std::vector<int> ScanOpenablePorts(int first, int last);

// What a person is shown of each port in a list.
enum class PortState {
    Free,          // this program can open it now
    Busy,          // another program holds it, or it is not working
    NoPermission,  // this user may not open it
    Unplugged,     // a mapped adapter that is not there
};

struct PortListing {
    platform::PortEntry entry;
    PortState state = PortState::Free;
    std::optional<platform::PortHolder> holder;  // who has a busy port, where it can be known
};

// Every port from first to last with something behind it, in the state a look finds it in
// (which changes nothing about it), ascending.
std::vector<PortListing> SurveyPorts(int first, int last);

// The entry text of a port list: "COM33  ttyUSB0  FTDI FT232R USB UART (A50285BI)", with what
// keeps it from use after a dash ("- in use by minicom (1234)", "- no permission"). prefix is
// "COM", or "Com" where a window spells it so; the text always starts with prefix and the number.
std::string PortListingText(const PortListing& port, std::string_view prefix = "COM");

// Why the port cannot be used now, in words a person can act on; empty for a free port.
std::string PortListingReason(const PortListing& port);
