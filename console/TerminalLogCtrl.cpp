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
#include <array>
#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "platform/RegularFile.h"
#include "platform/ReplacementFile.h"

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

// Everything in the log reads left to right; see the constructor.
void SetLeftToRight(QTextDocument* document) {
    QTextOption option = document->defaultTextOption();
    option.setTextDirection(Qt::LeftToRight);
    document->setDefaultTextOption(option);
}

// The colour a run of code is saved in, as HTML writes it; nothing for plain text.
const char* HtmlColour(int code) {
    static const std::array<std::string, kLogSuccess + 1> colours = [] {
        std::array<std::string, kLogSuccess + 1> names;
        for (int each = kLogSent; each <= kLogSuccess; ++each) {
            names[static_cast<std::size_t>(each)] =
                FormatFor(each).foreground().color().name().toStdString();
        }
        return names;
    }();
    return code >= kLogSent && code <= kLogSuccess ? colours[static_cast<std::size_t>(code)].c_str()
                                                   : nullptr;
}

char* Put(char* out, std::string_view text) {
    return std::copy(text.begin(), text.end(), out);
}

// The most bytes PutUtf8 writes for one UTF-16 unit: "&amp;".
constexpr qsizetype kMostBytesPerUnit = 5;

// Writes text from out on as UTF-8, each line break of the document as "\n"; for HTML with the
// characters that mean something there escaped. Returns where it stopped. One pass straight
// into the file's bytes: a full log is two million characters.
char* PutUtf8(char* out, QStringView text, bool html) {
    const auto put = [&out](unsigned value) { *out++ = static_cast<char>(value); };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x80) {
            if (html && (c == '&' || c == '<' || c == '>')) {
                out = Put(out, c == '&' ? "&amp;" : c == '<' ? "&lt;" : "&gt;");
            } else {
                put(c);
            }
        } else if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator) {
            put('\n');
        } else if (c < 0x800) {
            put(0xC0U | (c >> 6U));
            put(0x80U | (c & 0x3FU));
        } else if (QChar::isHighSurrogate(c) && i + 1 < text.size() &&
                   QChar::isLowSurrogate(text[i + 1].unicode())) {
            const char32_t code = QChar::surrogateToUcs4(c, text[++i].unicode());
            put(0xF0U | (code >> 18U));
            put(0x80U | ((code >> 12U) & 0x3FU));
            put(0x80U | ((code >> 6U) & 0x3FU));
            put(0x80U | (code & 0x3FU));
        } else {
            // A lone surrogate has no UTF-8 of its own: it is saved as the replacement character.
            const unsigned unit = QChar::isSurrogate(c) ? 0xFFFDU : c;
            put(0xE0U | (unit >> 12U));
            put(0x80U | ((unit >> 6U) & 0x3FU));
            put(0x80U | (unit & 0x3FU));
        }
    }
    return out;
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
    SetLeftToRight(document());
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
            // Called off by a search that has shown a match since.
            if (!scrollPending_) {
                return;
            }
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
    const int before = document()->characterCount();
    end.insertText(text, FormatFor(code));
    // Counted in the document: an insert may turn two characters into one line break.
    const int added = document()->characterCount() - before;
    if (!runs_.empty() && runs_.back().code == code) {
        runs_.back().length += added;
    } else if (added > 0) {
        runs_.push_back({added, code});
    }

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

    const int removing = firstKept.position();
    QTextCursor oldest(log);
    oldest.setPosition(removing, QTextCursor::KeepAnchor);
    oldest.removeSelectedText();
    for (int removed = removing; removed > 0 && !runs_.empty();) {
        const int taken = std::min(removed, runs_.front().length);
        runs_.front().length -= taken;
        removed -= taken;
        if (runs_.front().length == 0) {
            runs_.pop_front();
        }
    }
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

QByteArray CTerminalLogCtrl::Export(FileFormat format) const {
    const QString raw = document()->toRawText();
    const QStringView text(raw);
    constexpr std::string_view kHead =
        "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n"
        "<title>Pravik terminal log</title>\n</head>\n<body>\n<pre style=\"font-weight: bold\">";
    constexpr std::string_view kSpanEnd = "</span>";
    constexpr std::string_view kTail = "</pre></body></html>";
    constexpr qsizetype kLongestSpanStart = 32;
    // Room for the worst case, left uninitialised: only what is written is ever touched.
    QByteArray out;
    out.resize(text.size() * kMostBytesPerUnit +
               static_cast<qsizetype>(kHead.size() + kTail.size()) +
               static_cast<qsizetype>(runs_.size()) * (kLongestSpanStart + 7));
    char* at = out.data();
    if (format == FileFormat::Text) {
        at = PutUtf8(at, text, false);
        out.truncate(at - out.constData());
        return out;
    }
    // The runs the log keeps beside the document, over its raw text: the document's own runs
    // would cost a look-up each, and a full log has a hundred thousand of them.
    at = Put(at, kHead);
    const char* open = nullptr;  // the colour of the span open now
    qsizetype from = 0;
    for (const Run& run : runs_) {
        const qsizetype length = std::min<qsizetype>(run.length, text.size() - from);
        if (length <= 0) {
            break;
        }
        const char* colour = HtmlColour(run.code);
        if (colour != open) {
            if (open != nullptr) {
                at = Put(at, kSpanEnd);
            }
            if (colour != nullptr) {
                at = Put(Put(Put(at, "<span style=\"color: "), colour), "\">");
            }
            open = colour;
        }
        at = PutUtf8(at, text.mid(from, length), true);
        from += length;
    }
    if (open != nullptr) {
        at = Put(at, kSpanEnd);
    }
    at = Put(at, kTail);
    out.truncate(at - out.constData());
    return out;
}

QString CTerminalLogCtrl::SaveTo(const QString& path, FileFormat format) const {
    const QByteArray contents = Export(format);
    const int error = platform::ReplaceFile(
        path.toStdString(),
        std::string_view(contents.constData(), static_cast<std::size_t>(contents.size())));
    return error == 0 ? QString() : QString::fromStdString(platform::FileErrorText(error));
}

void CTerminalLogCtrl::ClearLog() {
    const std::lock_guard<std::recursive_mutex> lock(logLock_);
    ClearHighlights();
    document()->clear();
    runs_.clear();
    SetLeftToRight(document());
}

CTerminalLogCtrl::FindResult CTerminalLogCtrl::Find(const QString& text, bool backward) {
    ClearHighlights();
    if (text.isEmpty()) {
        return {};
    }
    const QString raw = document()->toRawText();
    std::vector<qsizetype> starts;
    for (qsizetype at = raw.indexOf(text, 0, Qt::CaseInsensitive); at >= 0;
         at = raw.indexOf(text, at + 1, Qt::CaseInsensitive)) {
        starts.push_back(at);
    }
    if (starts.empty()) {
        return {};
    }
    QList<ExtraSelection> highlights;
    QTextCharFormat marked;
    marked.setBackground(QColor(255, 235, 110));
    const std::size_t shown = std::min<std::size_t>(starts.size(), kHighlightLimit);
    highlights.reserve(static_cast<qsizetype>(shown));
    for (std::size_t i = 0; i < shown; ++i) {
        QTextCursor match(document());
        match.setPosition(static_cast<int>(starts[i]));
        match.setPosition(static_cast<int>(starts[i] + text.size()), QTextCursor::KeepAnchor);
        highlights.append({match, marked});
    }
    setExtraSelections(highlights);

    // Past a match that is selected now; from the start of any other selection, so that a search
    // typed letter by letter stays on the match it has found so far.
    const QTextCursor now = textCursor();
    std::vector<qsizetype>::const_iterator chosen;
    if (backward) {
        chosen = std::lower_bound(starts.cbegin(), starts.cend(), now.selectionStart());
        chosen = chosen == starts.cbegin() ? starts.cend() - 1 : chosen - 1;
    } else {
        const bool onMatch = now.selectedText().compare(text, Qt::CaseInsensitive) == 0;
        chosen = onMatch ? std::upper_bound(starts.cbegin(), starts.cend(), now.selectionStart())
                         : std::lower_bound(starts.cbegin(), starts.cend(), now.selectionStart());
        chosen = chosen == starts.cend() ? starts.cbegin() : chosen;
    }
    QTextCursor selection(document());
    selection.setPosition(static_cast<int>(*chosen));
    selection.setPosition(static_cast<int>(*chosen + text.size()), QTextCursor::KeepAnchor);
    setTextCursor(selection);
    // The match stays in view: an append that came before the search does not take the view on
    // to the end.
    scrollPending_ = false;
    return {static_cast<int>(starts.size()), static_cast<int>(chosen - starts.cbegin()) + 1};
}

void CTerminalLogCtrl::ClearHighlights() {
    setExtraSelections({});
}
