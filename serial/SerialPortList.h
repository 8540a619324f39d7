#pragma once

#include <vector>

// Finding the machine's serial ports, in the two ways the program needs them.

// Empties ports, then appends in ascending order every n from 1 to 255 for which COMn exists,
// whether or not someone holds it right now (a port another program has open is still a port
// the technician may mean). Always returns true.
bool EnumerateSerialPorts(std::vector<int>& ports);

// The ports from first to last inclusive that this program can open for itself right now, in
// ascending order. Each is looked at as the listing does, changing nothing about it; a port
// someone else holds, or that the user may not open, is not among them. Numbers below 1 never
// open and are skipped.
std::vector<int> ScanOpenablePorts(int first, int last);
