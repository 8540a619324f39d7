#pragma once

#include <QApplication>

// The application: it runs the console window modally and ends when the window closes. Apart
// from --help and --version (answered before the application exists), the program reads no
// command line of its own. It names its organisation, which lets the console and its tools
// remember the bench between runs (console/Remembered.h).
class CPravikApp : public QApplication {
    Q_OBJECT

public:
    CPravikApp(int& argc, char** argv);
    // Builds the console and runs it; returns when it closes.
    int Run();
};
