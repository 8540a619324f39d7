#include "console/PravikDlg.h"

CPravikDlg::CPravikDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Pravik");
}

CPravikDlg::~CPravikDlg() = default;
