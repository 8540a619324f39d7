#include "console/omega/OmegaToolFrame.h"

#include <QDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "console/RunProgressWidgets.h"

OmegaToolFrame StartOmegaToolFrame(QDialog* window) {
    window->setWindowTitle("Omega Temperature Controller Configuration");
    auto* group = new QGroupBox("Reset Settings", window);
    group->setObjectName("settingsGroup");
    return {group, new QGridLayout(group)};
}

void FinishOmegaToolFrame(QDialog* window, OmegaToolFrame& frame, int toolRows,
                          const QString& runText, const char* runName,
                          int (*statusWidth)(const QFontMetrics& metrics)) {
    frame.run = new QPushButton(runText, frame.group);
    frame.run->setObjectName(runName);
    frame.cancel = new QPushButton("Cancel", frame.group);
    frame.cancel->setObjectName("cancelButton");
    frame.cancel->setEnabled(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(frame.run);
    buttons->addWidget(frame.cancel);

    const RunProgressWidgets progress = MakeRunProgressWidgets(frame.group, statusWidth, true);
    frame.status = progress.status;
    frame.percent = progress.percent;
    frame.progress = progress.bar;

    QGridLayout* grid = frame.grid;
    grid->addLayout(buttons, toolRows, 0, 1, 3);
    grid->addWidget(frame.status, toolRows + 1, 0, 1, 2);
    grid->addWidget(frame.percent, toolRows + 1, 2);
    grid->addWidget(frame.progress, toolRows + 2, 0, 1, 3);
    grid->setColumnStretch(1, 1);

    frame.done = new QPushButton("Done", window);
    frame.done->setObjectName("doneButton");
    frame.done->setDefault(true);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(frame.done);

    auto* layout = new QVBoxLayout(window);
    layout->addWidget(frame.group);
    layout->addLayout(bottom);
}

void ShowOmegaToolProgress(const OmegaToolFrame& frame, double percent, const std::wstring& text) {
    const double shown = std::isfinite(percent) ? std::clamp(percent, 0.0, 100.0) : 0.0;
    frame.progress->setValue(static_cast<int>(std::lround(shown)));
    frame.status->setText(QString::fromStdWString(text));
    frame.percent->setText(QString::asprintf("%.0f%%", shown));
}
