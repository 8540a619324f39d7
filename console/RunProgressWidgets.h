#pragma once

class QFontMetrics;
class QLabel;
class QProgressBar;
class QWidget;

// The three widgets a tool window shows a run's progress in: a step text ("statusText"), a
// percentage ("percentText") and a bar without text of its own ("progressBar", 0 to 100). The
// two texts start hidden; all three keep their place in the layout while hidden, so that nothing
// moves when a run shows them.
struct RunProgressWidgets {
    QLabel* status;
    QLabel* percent;
    QProgressBar* bar;
};

// statusWidth gives, in the step text's own font, the room for the longest step. With
// fixedStatusWidth the window does not grow with a longer text either.
RunProgressWidgets MakeRunProgressWidgets(QWidget* parent,
                                          int (*statusWidth)(const QFontMetrics& metrics),
                                          bool fixedStatusWidth);
