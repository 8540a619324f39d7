#include "console/RunProgressWidgets.h"

#include <QFontMetrics>
#include <QLabel>
#include <QProgressBar>
#include <QSizePolicy>

namespace {

void KeepSpaceWhenHidden(QWidget* widget) {
    QSizePolicy policy = widget->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    widget->setSizePolicy(policy);
}

}  // namespace

RunProgressWidgets MakeRunProgressWidgets(QWidget* parent,
                                          int (*statusWidth)(const QFontMetrics& metrics),
                                          bool fixedStatusWidth) {
    auto* status = new QLabel("Status", parent);
    status->setObjectName("statusText");
    status->setMinimumWidth(statusWidth(status->fontMetrics()));
    if (fixedStatusWidth) {
        status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        // A step fits on one line; a longer text (why a settings file was refused, and where)
        // takes more lines rather than losing its end at the window's edge.
        status->setWordWrap(true);
    }
    status->hide();
    KeepSpaceWhenHidden(status);

    auto* percent = new QLabel("0%", parent);
    percent->setObjectName("percentText");
    percent->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    percent->setMinimumWidth(percent->fontMetrics().horizontalAdvance("100%"));
    percent->hide();
    KeepSpaceWhenHidden(percent);

    auto* bar = new QProgressBar(parent);
    bar->setObjectName("progressBar");
    bar->setRange(0, 100);
    bar->setValue(0);
    // The percentage says it already.
    bar->setTextVisible(false);
    KeepSpaceWhenHidden(bar);
    return {status, percent, bar};
}
