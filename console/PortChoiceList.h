#pragma once

#include <string_view>

class QComboBox;
class QWidget;

// The port list of a tool that runs against one device: "-- Select One --" ahead of an entry per
// port from first to last (see PortListFill.h; prefix "COM", or "Com" where the tool spells it
// so), "-- Select One --" chosen, made anew whenever a serial device appears or goes. The list's
// object name is "portList".
QComboBox* MakePortChoiceList(std::string_view prefix, int first, int last, QWidget* parent);
