#include <QApplication>

#include "console/PravikDlg.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    CPravikDlg console;
    console.exec();
    return 0;
}
