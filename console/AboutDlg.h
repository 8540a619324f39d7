#pragma once

#include <QDialog>

// The About box: the program's icon, name, a notice and its version.
class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};
