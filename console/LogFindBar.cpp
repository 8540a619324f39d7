#include "console/LogFindBar.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QTextCursor>
#include <QToolButton>

#include "console/TerminalLogCtrl.h"

CLogFindBar::CLogFindBar(CTerminalLogCtrl* log, QWidget* parent) : QWidget(parent), log_(log) {
    setObjectName("findBar");
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    auto* label = new QLabel("Find:", this);
    field_ = new QLineEdit(this);
    field_->setObjectName("findEdit");
    field_->setClearButtonEnabled(true);
    field_->setPlaceholderText("Text in the log");
    label->setBuddy(field_);
    // Tool buttons, not push buttons: in a dialog a push button would take Enter for itself.
    const auto button = [this](const QString& text, const char* name, const QString& tip) {
        auto* made = new QToolButton(this);
        made->setText(text);
        made->setObjectName(name);
        made->setToolTip(tip);
        made->setAutoRaise(true);
        return made;
    };
    QToolButton* previous = button("Previous", "findPreviousButton", "Previous match (Shift+F3)");
    QToolButton* next = button("Next", "findNextButton", "Next match (F3)");
    QToolButton* close = button(QString(), "findCloseButton", "Close (Escape)");
    close->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    result_ = new QLabel(this);
    result_->setObjectName("findResultLabel");
    result_->setMinimumWidth(result_->fontMetrics().horizontalAdvance("10,000 of 50,000"));
    row->addWidget(label);
    row->addWidget(field_, 1);
    row->addWidget(previous);
    row->addWidget(next);
    row->addWidget(result_);
    row->addWidget(close);
    connect(previous, &QToolButton::clicked, this, &CLogFindBar::FindPrevious);
    connect(next, &QToolButton::clicked, this, &CLogFindBar::FindNext);
    connect(close, &QToolButton::clicked, this, &CLogFindBar::Close);
    connect(field_, &QLineEdit::textEdited, this, [this] { Search(false); });
    field_->installEventFilter(this);
    hide();
}

void CLogFindBar::Open() {
    const QString selected = log_->textCursor().selectedText();
    // A selection that runs over a line break holds a paragraph separator, which no line does.
    if (!selected.isEmpty() && !selected.contains(QChar::ParagraphSeparator)) {
        field_->setText(selected);
    }
    show();
    field_->setFocus(Qt::ShortcutFocusReason);
    field_->selectAll();
    if (!field_->text().isEmpty()) {
        Search(false);
    }
}

void CLogFindBar::FindNext() {
    if (isHidden()) {
        Open();
        return;
    }
    Search(false);
}

void CLogFindBar::FindPrevious() {
    if (isHidden()) {
        show();
        field_->setFocus(Qt::ShortcutFocusReason);
    }
    Search(true);
}

void CLogFindBar::Close() {
    hide();
    log_->ClearHighlights();
    result_->clear();
    log_->setFocus(Qt::OtherFocusReason);
}

void CLogFindBar::Search(bool backward) {
    const QString text = field_->text();
    const CTerminalLogCtrl::FindResult found = log_->Find(text, backward);
    if (text.isEmpty()) {
        result_->clear();
    } else if (found.matches == 0) {
        result_->setText("Not found");
        result_->setStyleSheet("color: #c00000;");
    } else {
        result_->setText(QString("%L1 of %L2").arg(found.current).arg(found.matches));
        result_->setStyleSheet(QString());
    }
}

bool CLogFindBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == field_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            Search(key->modifiers().testFlag(Qt::ShiftModifier));
            return true;
        }
        // Taken here, or the console, a dialog, would close on it.
        if (key->key() == Qt::Key_Escape) {
            Close();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
