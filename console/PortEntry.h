#pragma once

class QComboBox;
class QString;

// A port list's entry begins with its port: "COM7", "Com7", or "COM33" followed by more about the
// port. Entries are found by that number, never by their whole text, which says more than the
// number and may change from one day to the next.

// The digits right after a leading "COM" (in any case), up to the first non-digit; -1 for an
// entry that names no port, such as "-- Select One --".
int PortOfEntry(const QString& text);

// The index of the first entry of list for port; -1 when the list has none, or port is no port
// number (0 or below).
int FindPortEntry(const QComboBox* list, int port);
