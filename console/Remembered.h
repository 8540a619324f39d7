#pragma once

#include <QString>
#include <memory>
#include <optional>

#include "serial/CommSettings.h"

class QComboBox;
class QDialog;
class QLineEdit;
class QSettings;

// What the console and its tools remember between runs: the bench a technician sets up again
// every morning. Everything is read back field by field, and a value no window could have stored
// (hand-edited, or a damaged file) counts as not stored, so it never reaches a device.
namespace console {

// The application's settings (for the console, ~/.config/Pravik/Pravik.conf, under
// $XDG_CONFIG_HOME when set), each window under a group of its own. Null in a program that has
// named no organisation, such as the demo and the benchmarks: the simulated bench they set up must
// not become the technician's.
std::unique_ptr<QSettings> OpenRemembered();

// The integer stored under key when it is one from lowest to highest.
std::optional<int> RememberedInt(const QSettings& store, const QString& key, int lowest,
                                 int highest);

// settings with the line settings stored under group (baud rate, data bits, parity, stop bits,
// flow control) that the COM settings dialog could have chosen; the port number is the port
// list's, below.
CommSettings RememberedLineSettings(const QSettings& store, const QString& group,
                                    CommSettings settings);
void RememberLineSettings(QSettings& store, const QString& group, const CommSettings& settings);

// Selects the entry of list for the port stored under key and returns that port, or 0 when none
// is stored. A port missing from today's list leaves the list as it is, and stays stored, so it
// comes back with the port.
int RestorePortChoice(const QSettings& store, const QString& key, QComboBox* list);
// Stores the port list shows; while it shows none, the one stored stays.
void RememberPortChoice(QSettings& store, const QString& key, const QComboBox* list);

// A tool window's port and file (file may be null): set from group now, stored there again each
// time the window closes.
void RememberToolChoices(QDialog* window, const QString& group, QComboBox* port, QLineEdit* file);

}  // namespace console
