#pragma once

#include <QDialog>

// The console window: choose an instrument, its ports, connect, and test it.
class CPravikDlg : public QDialog {
    Q_OBJECT

public:
    explicit CPravikDlg(QWidget* parent = nullptr);
    ~CPravikDlg() override;
};
