#include "console/EditBrowseCtrl.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QResizeEvent>
#include <QStyle>
#include <QToolButton>

CEditBrowseCtrl::CEditBrowseCtrl(QWidget* parent) : QLineEdit(parent) {
    browse_ = new QToolButton(this);
    browse_->setObjectName("browseButton");
    browse_->setText("...");
    browse_->setToolTip("Browse");
    browse_->setCursor(Qt::ArrowCursor);
    // Tab goes from field to field; the button is for the mouse, as the typed path is the
    // keyboard's way.
    browse_->setFocusPolicy(Qt::NoFocus);
    connect(browse_, &QToolButton::clicked, this, [this] { OnBrowse(); });
    // The text stops short of the button, and the field's size hint makes room for it.
    setTextMargins(0, 0, browse_->sizeHint().width(), 0);
}

void CEditBrowseCtrl::OnBrowse() {
    const QFileInfo current(text());
    QFileDialog chooser(window(), QString(), text().isEmpty() ? QString() : current.absolutePath());
    chooser.setAcceptMode(QFileDialog::AcceptOpen);
    chooser.setFileMode(QFileDialog::ExistingFile);
    if (!text().isEmpty()) {
        chooser.selectFile(current.fileName());
    }
    if (chooser.exec() == QDialog::Accepted && !chooser.selectedFiles().isEmpty()) {
        setText(QDir::toNativeSeparators(chooser.selectedFiles().front()));
    }
}

void CEditBrowseCtrl::resizeEvent(QResizeEvent* event) {
    QLineEdit::resizeEvent(event);
    const int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    const int width = browse_->sizeHint().width();
    browse_->setGeometry(rect().right() - frame - width + 1, frame, width, height() - 2 * frame);
}
