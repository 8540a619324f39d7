#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class CTerminalLogCtrl;

// A row under the terminal log for finding text in it: a field, Previous and Next, how many
// matches there are, and a button that closes it. Hidden until asked for. Enter finds the next
// match, Shift+Enter the previous one, Escape closes the bar; typing finds as it goes.
class CLogFindBar : public QWidget {
    Q_OBJECT

public:
    explicit CLogFindBar(CTerminalLogCtrl* log, QWidget* parent = nullptr);

    // Shows the bar with its field ready to type into. A selection in the log within one line is
    // taken as the text to find.
    void Open();
    // The next or previous match of the field's text; the bar opens first when it is hidden.
    void FindNext();
    void FindPrevious();
    // Hides the bar, drops the highlights and gives the log the focus back.
    void Close();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Search(bool backward);

    CTerminalLogCtrl* log_;
    QLineEdit* field_;
    QLabel* result_;
};
