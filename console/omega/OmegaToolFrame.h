#pragma once

#include <string>

class QDialog;
class QFontMetrics;
class QGridLayout;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QString;

// What the two Omega tool windows share: the "Reset Settings" group, whose first rows are each
// tool's own, then the tool's run button beside "Cancel", the run's step text, percentage and
// bar, and "Done" under the group.
struct OmegaToolFrame {
    QGroupBox* group = nullptr;
    // The group's layout: rows from 0 up are the tool's until FinishOmegaToolFrame.
    QGridLayout* grid = nullptr;
    QPushButton* run = nullptr;
    QPushButton* cancel = nullptr;
    QLabel* status = nullptr;
    QLabel* percent = nullptr;
    QProgressBar* progress = nullptr;
    QPushButton* done = nullptr;
};

// The group, for the tool's controls: made before them so that they come first in the order the
// Tab key follows.
OmegaToolFrame StartOmegaToolFrame(QDialog* window);

// Everything below the tool's rows (rows 0 to toolRows - 1), made in this order after them. The
// run button is runText, named runName; statusWidth gives the room for the longest step, which
// the window does not grow past.
void FinishOmegaToolFrame(QDialog* window, OmegaToolFrame& frame, int toolRows,
                          const QString& runText, const char* runName,
                          int (*statusWidth)(const QFontMetrics& metrics));

// The run's step and how far it is: the bar and the percentage at percent rounded, within 0 to
// 100 (0 for a number that is none). On the window's thread.
void ShowOmegaToolProgress(const OmegaToolFrame& frame, double percent, const std::wstring& text);
