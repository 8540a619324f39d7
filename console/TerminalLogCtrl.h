#pragma once

#include <QString>
#include <QTextEdit>
#include <mutex>

// The terminal log: a read-only rich-text box the console writes its progress and the port
// traffic into, bold, in the colour of a code. It follows the end while the end is in view and
// leaves a reader who has scrolled back where they are.
class CTerminalLogCtrl : public QTextEdit {
    Q_OBJECT

public:
    // The colour codes AppendLog takes; any other value is plain.
    enum Code { Plain = 0, Sent = 1, Received = 2, Error = 3, Success = 4 };

    explicit CTerminalLogCtrl(QWidget* parent = nullptr);

    // Appends text at the end, bold, in the colour of code. The user's selection is kept.
    void AppendLog(const QString& text, int code);

    // What each colour means, written once when the console starts.
    void WriteLegend();

private:
    void ScrollToEndLater();

    // Each append is one step as far as any other caller is concerned. Recursive, so that a slot
    // reached from inside an append that logs again cannot lock the window up.
    std::recursive_mutex logLock_;
    // The scroll bar's maximum as last reported: a view sitting there is showing the end.
    int lastMaximum_ = 0;
    bool scrollPending_ = false;
};
