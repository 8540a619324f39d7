#pragma once

#include <QApplication>

// The application: it runs the console window modally and ends when the window closes. The
// program reads no command line of its own, no environment and no stored settings.
class CPravikApp : public QApplication {
    Q_OBJECT

public:
    CPravikApp(int& argc, char** argv);
    // Builds the console and runs it; returns when it closes.
    int Run();
};
