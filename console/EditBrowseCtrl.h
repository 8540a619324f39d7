#pragma once

#include <QLineEdit>

class QResizeEvent;
class QToolButton;

// A path field: a line edit with a browse button at its right end. The path may be typed or
// chosen; by default the button chooses an existing file to read. Subclasses change only what
// the button does.
class CEditBrowseCtrl : public QLineEdit {
    Q_OBJECT

public:
    explicit CEditBrowseCtrl(QWidget* parent = nullptr);

    QToolButton* BrowseButton() const { return browse_; }

protected:
    // The browse button's action: a file chooser for reading, starting at the path shown; the
    // field takes the chosen path, and keeps its text when the choice is cancelled.
    virtual void OnBrowse();

    void resizeEvent(QResizeEvent* event) override;

private:
    QToolButton* browse_;
};
