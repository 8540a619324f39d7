#include "console/omega/OmegaSettingsOutputFileBrowseCtrl.h"

#include <QDir>
#include <QFileDialog>

void COmegaSettingsOutputFileBrowseCtrl::OnBrowse() {
    QFileDialog chooser(nullptr);
    chooser.setAcceptMode(QFileDialog::AcceptSave);
    chooser.setFileMode(QFileDialog::AnyFile);
    // A name typed without an extension becomes a .txt file; the overwrite question is the
    // chooser's own and stays on.
    chooser.setDefaultSuffix("txt");
    chooser.setNameFilters({"Output File (*.txt)", "All Files (*)"});
    if (chooser.exec() == QDialog::Accepted && !chooser.selectedFiles().isEmpty()) {
        setText(QDir::toNativeSeparators(chooser.selectedFiles().front()));
    }
}
