#include "console/PortListFill.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QPalette>
#include <QStandardItemModel>
#include <QToolTip>

namespace console {

namespace {

// Item data: the port's number, and why it cannot be used (empty when it can).
constexpr int kPortRole = Qt::UserRole;
constexpr int kProblemRole = Qt::UserRole + 1;

}  // namespace

void FillPortList(QComboBox* list, const std::vector<PortListing>& ports, std::string_view prefix,
                  int kept) {
    const QVariant chosen = list->currentData(kPortRole);
    const QSignalBlocker quiet(list);
    while (list->count() > kept) {
        list->removeItem(list->count() - 1);
    }
    const QColor greyed = list->palette().color(QPalette::Disabled, QPalette::Text);
    for (const PortListing& port : ports) {
        const QString problem = QString::fromStdString(PortListingReason(port));
        list->addItem(QString::fromStdString(PortListingText(port, prefix)), port.entry.number);
        const int index = list->count() - 1;
        if (!problem.isEmpty()) {
            list->setItemData(index, problem, kProblemRole);
            list->setItemData(index, problem, Qt::ToolTipRole);
            list->setItemData(index, greyed, Qt::ForegroundRole);
        }
    }
    const int again = chosen.isValid() ? IndexOfPort(list, chosen.toInt()) : -1;
    list->setCurrentIndex(again >= 0 ? again : (list->count() > 0 ? 0 : -1));
    // A narrow list in a busy window still opens wide enough to show each adapter whole.
    list->view()->setMinimumWidth(list->view()->sizeHintForColumn(0) + 8);
}

int IndexOfPort(const QComboBox* list, int port) {
    return list->findData(port, kPortRole);
}

int ChosenPort(const QComboBox* list) {
    const QVariant port = list->currentData(kPortRole);
    return port.isValid() ? port.toInt() : -1;
}

QString PortNameOf(const QString& entryText) {
    return entryText.section(' ', 0, 0);
}

QString ChosenPortProblem(const QComboBox* list) {
    return list->currentData(kProblemRole).toString();
}

void ExplainChoices(QComboBox* list) {
    QObject::connect(list, &QComboBox::activated, list, [list] {
        if (const QString problem = ChosenPortProblem(list); !problem.isEmpty()) {
            QToolTip::showText(list->mapToGlobal(QPoint(0, list->height())), problem, list);
        }
    });
}

}  // namespace console
