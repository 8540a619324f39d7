#pragma once

#include <vector>

class QComboBox;
class QWidget;

// The port list of a tool that runs against one device: "-- Select One --" ahead of an entry per
// port number, each written with format ("COM%d", or "Com%d" where the tool spells it so), and
// "-- Select One --" chosen. The list is sorted as text, as such lists are: COM10 comes before
// COM2, and "-- Select One --" ahead of every port. The list's object name is "portList".
QComboBox* MakePortChoiceList(const char* format, const std::vector<int>& ports, QWidget* parent);
