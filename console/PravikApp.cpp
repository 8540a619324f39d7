#include "console/PravikApp.h"

#include "console/InstrumentPictures.h"
#include "console/PravikDlg.h"
#include "platform/Version.h"

CPravikApp::CPravikApp(int& argc, char** argv) : QApplication(argc, argv) {
    // The bench the console and its tools remember lives under these names.
    setOrganizationName("Pravik");
    setApplicationName("Pravik");
    setApplicationVersion(QString::fromStdString(ProgramVersion()));
    setWindowIcon(ProgramIcon());
    // The installed desktop entry: a Wayland panel finds the name and icon through it.
    setDesktopFileName("org.pravik.Pravik");
}

int CPravikApp::Run() {
    CPravikDlg console;
    console.exec();
    return 0;
}
