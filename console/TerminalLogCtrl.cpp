#include "console/TerminalLogCtrl.h"

#include <QAbstractTextDocumentLayout>
#include <QColor>
#include <QFont>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextOption>
#include <algorithm>
#include <cmath>

namespace {

// Plain text has no colour of its own, so it follows the palette's text colour.
QTextCharFormat FormatFor(int code) {
    QTextCharFormat format;
    format.setFontWeight(QFont::Bold);
    switch (code) {
        case kLogSent:
            format.setForeground(QColor(0, 0, 140));
            break;
        case kLogReceived:
            format.setForeground(QColor(255, 140, 0));
            break;
        case kLogError:
            format.setForeground(QColor(200, 0, 0));
            break;
        case kLogSuccess:
            format.setForeground(QColor(0, 140, 0));
            break;
        default:
            break;
    }
    return format;
}

}  // namespace

CTerminalLogCtrl::CTerminalLogCtrl(QWidget* parent) : QTextEdit(parent) {
    setReadOnly(true);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Every insert would otherwise be kept on the undo stack for as long as the window lives.
    setUndoRedoEnabled(false);
    // Every line reads left to right. Left to guess, the layout would look up and scan each
    // line it passes for right-to-left characters, and an append lays out the last hundred or so
    // lines again: that made an append after 100,000 lines cost half as much again as the first
    // ones. Right-to-left runs inside a line are still shown the right way.
    QTextOption option = document()->defaultTextOption();
    option.setTextDirection(Qt::LeftToRight);
    document()->setDefaultTextOption(option);
    // The scroll range changes when the document reports its new height, which may come after
    // the append that caused it, and when the window is resized: a view that was showing the end
    // goes on showing it.
    connect(verticalScrollBar(), &QScrollBar::rangeChanged, this, [this](int, int max) {
        if (verticalScrollBar()->value() == lastMaximum_) {
            ScrollToEndLater();
        }
        lastMaximum_ = max;
    });
    lastMaximum_ = verticalScrollBar()->maximum();
}

void CTerminalLogCtrl::ScrollToEndLater() {
    if (scrollPending_) {
        return;
    }
    scrollPending_ = true;
    // Posted, so that a burst of appends scrolls (and repaints the view) once, not per line.
    QMetaObject::invokeMethod(
        this,
        [this] {
            scrollPending_ = false;
            verticalScrollBar()->setValue(verticalScrollBar()->maximum());
        },
        Qt::QueuedConnection);
}

void CTerminalLogCtrl::AppendLog(const QString& text, int code) {
    const std::lock_guard<std::recursive_mutex> lock(logLock_);
    QScrollBar* vertical = verticalScrollBar();
    QScrollBar* horizontal = horizontalScrollBar();
    const int verticalBefore = vertical->value();
    const int horizontalBefore = horizontal->value();
    const QTextCursor selection = textCursor();
    const int anchor = selection.anchor();
    const int position = selection.position();

    QTextCursor end(document());
    end.movePosition(QTextCursor::End);
    // The end is in view when the top of its line is not below the text area.
    const bool endVisible = cursorRect(end).top() < viewport()->height();
    end.insertText(text, FormatFor(code));

    // A selection that touched the old end was carried along by the insert.
    if (textCursor().anchor() != anchor || textCursor().position() != position) {
        QTextCursor restored(document());
        restored.setPosition(anchor);
        restored.setPosition(position, QTextCursor::KeepAnchor);
        setTextCursor(restored);
        // Setting the cursor scrolls it into view; where the view goes is decided below.
        vertical->setValue(verticalBefore);
        horizontal->setValue(horizontalBefore);
    }
    if (endVisible) {
        ScrollToEndLater();
    }
    TrimOldest();
}

void CTerminalLogCtrl::SetMaximumLines(int lines) {
    maximumLines_ = std::max(lines, 2);
}

void CTerminalLogCtrl::TrimOldest() {
    QTextDocument* log = document();
    if (log->blockCount() <= maximumLines_) {
        return;
    }
    // Every line below the removed ones moves up, and the layout moves each of them: done per
    // append at the limit that would make every append as slow as the whole log is long.
    const int keep = maximumLines_ - maximumLines_ / 10;
    const QTextBlock firstKept = log->findBlockByNumber(log->blockCount() - keep);
    QAbstractTextDocumentLayout* layout = log->documentLayout();
    const qreal removedHeight =
        layout->blockBoundingRect(firstKept).top() - layout->blockBoundingRect(log->begin()).top();
    QScrollBar* vertical = verticalScrollBar();
    const int reading = vertical->value();

    QTextCursor oldest(log);
    oldest.setPosition(firstKept.position(), QTextCursor::KeepAnchor);
    oldest.removeSelectedText();
    // A reader keeps the text they were looking at, as long as it is still there: the view moves
    // up by the height of what went. A view that follows the end is taken there by the scroll
    // already posted.
    if (!scrollPending_) {
        vertical->setValue(std::max(0, reading - static_cast<int>(std::lround(removedHeight))));
    }
}

void CTerminalLogCtrl::WriteLegend() {
    AppendLog("Green Text", kLogSuccess);
    AppendLog(" - Indicates no error\n", kLogPlain);
    AppendLog("Red Text", kLogError);
    AppendLog(" - Indicates an error\n", kLogPlain);
    AppendLog("Blue Text", kLogSent);
    AppendLog(" - Indicates transmitted (TX) data\n", kLogPlain);
    AppendLog("Orange Text", kLogReceived);
    AppendLog(" - Indicates received (RX) data\n", kLogPlain);
}
