#pragma once

#include <QByteArray>
#include <QString>
#include <QTextEdit>
#include <deque>
#include <mutex>

#include "serial/TrafficEcho.h"

// The terminal log: a read-only rich-text box the console writes its progress and the port
// traffic into, bold, in the colour of a code. It follows the end while the end is in view and
// leaves a reader who has scrolled back where they are. It keeps a bounded number of lines. It
// can be saved, cleared and searched.
class CTerminalLogCtrl : public QTextEdit {
    Q_OBJECT

public:
    // A line costs the log about 0.7 KiB whatever its length (a short one too: most of it is the
    // line's layout), so a full log takes some 35 MiB. That is a day of a technician's work and
    // minutes of a device that floods lines at 115200 baud; a device that floods faster fills it
    // within seconds, and twice this many lines would take more memory than such a flood may
    // cost the console.
    static constexpr int kDefaultMaximumLines = 50000;

    explicit CTerminalLogCtrl(QWidget* parent = nullptr);

    // Appends text at the end, bold, in the colour of code (a LogCode; any other value is plain).
    // The user's selection is kept.
    void AppendLog(const QString& text, int code);

    // What each colour means, written once when the console starts.
    void WriteLegend();

    // Once the log holds more than this many lines, the oldest tenth goes in one step, so that
    // removing them costs next to nothing per append. At least 2; takes effect at the next
    // append.
    void SetMaximumLines(int lines);
    int MaximumLines() const { return maximumLines_; }

    enum class FileFormat { Text, Html };
    // The whole log as a file: UTF-8 text, or an HTML page in which every run keeps its colour.
    QByteArray Export(FileFormat format) const;
    // Writes Export(format) to path. The file there is replaced only by a complete one, so a
    // failed save leaves it as it was. Returns why the save failed; empty when it did not.
    QString SaveTo(const QString& path, FileFormat format) const;

    // Empties the log, its highlights too.
    void ClearLog();

    // Where a search landed: the number of matches, and which of them (from 1) is selected now.
    struct FindResult {
        int matches = 0;
        int current = 0;
    };
    // Highlights every match of text (any case) and selects the first match after the selection,
    // or with backward the last one before it, going round the end of the log. With no match,
    // the selection stays as it was.
    FindResult Find(const QString& text, bool backward);
    void ClearHighlights();
    // Matches beyond this many are counted and found, but not highlighted: each highlight follows
    // every later edit of the log.
    static constexpr int kHighlightLimit = 10000;

private:
    void ScrollToEndLater();
    void TrimOldest();

    // Each append is one step as far as any other caller is concerned. Recursive, so that a slot
    // reached from inside an append that logs again cannot lock the window up.
    std::recursive_mutex logLock_;
    // The scroll bar's maximum as last reported: a view sitting there is showing the end.
    int lastMaximum_ = 0;
    bool scrollPending_ = false;
    int maximumLines_ = kDefaultMaximumLines;
    // The log's text as runs of one code each, in order, for a save to colour without asking the
    // document run by run.
    struct Run {
        int length;
        int code;
    };
    std::deque<Run> runs_;
};
