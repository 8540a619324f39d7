#include "console/NumberEdit.h"

#include <QKeyEvent>
#include <QLocale>

CNumberEdit::CNumberEdit(QWidget* parent)
    : QLineEdit(parent),
      decimal_(QLocale().decimalPoint().isEmpty() ? QChar('.') : QLocale().decimalPoint().at(0)),
      negative_(QLocale().negativeSign().isEmpty() ? QChar('-') : QLocale().negativeSign().at(0)) {}

void CNumberEdit::keyPressEvent(QKeyEvent* event) {
    const QString typed = event->text();
    if (typed.size() != 1 || !typed.at(0).isPrint()) {
        QLineEdit::keyPressEvent(event);  // editing and navigation keys
        return;
    }
    const QChar c = typed.at(0);
    const int start = hasSelectedText() ? selectionStart() : cursorPosition();
    const qsizetype length = hasSelectedText() ? selectedText().size() : 0;
    const QString outside = text().left(start) + text().mid(start + length);
    if (c == decimal_) {
        if (!outside.contains(decimal_)) {
            insert(QString(decimal_));
        }
        return;
    }
    if (c == negative_) {
        // Only at the very start, and only once.
        if (start == 0 && (length > 0 || !text().startsWith(negative_))) {
            insert(QString(negative_));
        }
        return;
    }
    if (c.isDigit()) {
        QLineEdit::keyPressEvent(event);
    }
}
