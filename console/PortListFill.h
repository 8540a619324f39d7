#pragma once

#include <QString>
#include <string_view>
#include <vector>

#include "serial/SerialPortList.h"

class QComboBox;

// Port lists as every window shows them: one entry a port, ordered by number, written
// "COM33  ttyUSB0  FTDI FT232R USB UART (A50285BI)", so that a person sees which adapter a
// number is. A port another program holds, that the user may not open or whose adapter is
// unplugged stays in the list, greyed, with the reason as its tool tip, instead of vanishing.
// The text still starts with the port's name, which is what the windows read back.
namespace console {

// Replaces the entries after the first `kept` ones (a "-- Select One --") with one per port,
// each written with prefix ("COM", or "Com" where a window spells it so). The port that was
// chosen stays chosen when it is still listed; otherwise the first entry is chosen.
void FillPortList(QComboBox* list, const std::vector<PortListing>& ports, std::string_view prefix,
                  int kept);

// The index of port's entry, or -1.
int IndexOfPort(const QComboBox* list, int port);
// The chosen entry's port, or -1 when the entry is no port ("-- Select One --") or none is chosen.
int ChosenPort(const QComboBox* list);

// The port's name in an entry's text, as windows and tools parse it: "COM33".
QString PortNameOf(const QString& entryText);

// Why the chosen entry's port cannot be used now, in words; empty when it can.
QString ChosenPortProblem(const QComboBox* list);

// From now on, choosing a port that cannot be used shows why beside the list.
void ExplainChoices(QComboBox* list);

}  // namespace console
