#include "console/PortEntry.h"

#include <QComboBox>
#include <QString>

namespace {

// Nine digits always fit an int; no port number comes near.
constexpr qsizetype kMostDigits = 9;

}  // namespace

int PortOfEntry(const QString& text) {
    if (!text.startsWith(QStringLiteral("COM"), Qt::CaseInsensitive)) {
        return -1;
    }
    qsizetype end = 3;
    while (end < text.size() && text[end].isDigit() && text[end].unicode() < 0x80) {
        ++end;
    }
    if (end == 3 || end - 3 > kMostDigits) {
        return -1;
    }
    return text.mid(3, end - 3).toInt();
}

int FindPortEntry(const QComboBox* list, int port) {
    if (port <= 0) {
        return -1;
    }
    for (int i = 0; i < list->count(); ++i) {
        if (PortOfEntry(list->itemText(i)) == port) {
            return i;
        }
    }
    return -1;
}
