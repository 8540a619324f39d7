#include "console/firmware/SMFirmwarePathCtrl.h"

#include <QDir>
#include <QFileDialog>

void CSMFirmwarePathCtrl::OnBrowse() {
    // No initial name and no checks of our own: a name that does not exist may be typed in the
    // chooser, and the download says so when it cannot open it, as it does for a typed path.
    QFileDialog chooser(window());
    chooser.setAcceptMode(QFileDialog::AcceptOpen);
    chooser.setFileMode(QFileDialog::AnyFile);
    chooser.setDefaultSuffix("smx");
    chooser.setNameFilters({"SMI compiled programs (*.smx)", "All Files (*)"});
    if (chooser.exec() == QDialog::Accepted && !chooser.selectedFiles().isEmpty()) {
        setText(QDir::toNativeSeparators(chooser.selectedFiles().front()));
    }
}
