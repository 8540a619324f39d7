// pravik-demo: drives the console through a whole test session on its own, against whatever
// devices the port directory publishes, and leaves the terminal log and a screenshot behind.
// It is what scripts/demo runs where there is no display, and how the README's picture is made.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTextStream>
#include <QThread>
#include <cstdio>

#include "console/MessageBox.h"
#include "console/PortListFill.h"
#include "console/PortsDlg.h"
#include "console/PravikDlg.h"

namespace {

struct Options {
    int motorPort = 0;
    int controllerPort = 0;
    // Left empty, both go into a fresh private folder rather than wherever the caller stands.
    QString log;
    QString screenshot;
    QString ports;  // a picture of the Ports window, when given
};

bool Choose(CPravikDlg& window, const char* list, int port) {
    auto* combo = window.findChild<QComboBox*>(list);
    const int index = combo ? console::IndexOfPort(combo, port) : -1;
    if (index < 0) {
        std::fprintf(stderr, "pravik-demo: COM%d is not in the port list\n", port);
        return false;
    }
    combo->setCurrentIndex(index);
    emit combo->activated(index);
    return true;
}

void Click(CPravikDlg& window, const char* name) {
    if (auto* button = window.findChild<QAbstractButton*>(name)) {
        button->click();
        // Until nothing is left, what was posted meanwhile included: on a busy machine the log
        // takes the traffic in slices, and the rest must be in before the next click writes.
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1000);
    }
}

// The last replies' echoes come from the ports' threads a moment after the commands they answer
// have returned, and the log scrolls after them: the picture waits until the log has been quiet
// for a while (at most a few seconds), so that it always shows the session's end the same way.
void LetTheLogSettle(CPravikDlg& window) {
    auto* log = window.findChild<QTextEdit*>("terminal");
    if (log == nullptr) {
        return;
    }
    QElapsedTimer total;
    total.start();
    QElapsedTimer quiet;
    quiet.start();
    QString last = log->toPlainText();
    while (quiet.elapsed() < 300 && total.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
        if (const QString now = log->toPlainText(); now != last) {
            last = now;
            quiet.restart();
        }
    }
    QCoreApplication::processEvents();
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("Drives the console through a test session by itself.");
    parser.addHelpOption();
    const QCommandLineOption motor("motor", "The motor's port number.", "N");
    const QCommandLineOption controller("controller", "The controller's port number.", "N");
    const QCommandLineOption log("log", "Where the terminal log goes.", "FILE");
    const QCommandLineOption screenshot("screenshot", "Where the console's picture goes.", "FILE");
    const QCommandLineOption ports("ports", "Also a picture of the Ports window, here.", "FILE");
    parser.addOptions({motor, controller, log, screenshot, ports});
    parser.process(app);
    Options options{parser.value(motor).toInt(), parser.value(controller).toInt(),
                    parser.value(log), parser.value(screenshot), parser.value(ports)};
    if (options.motorPort <= 0 || options.controllerPort <= 0) {
        std::fprintf(stderr, "%s", qPrintable(parser.helpText()));
        return 2;
    }
    if (options.log.isEmpty() || options.screenshot.isEmpty()) {
        QTemporaryDir folder(QDir::tempPath() + "/pravik-demo-XXXXXX");
        if (!folder.isValid()) {
            std::fprintf(stderr, "pravik-demo: cannot make a folder for the session's files\n");
            return 1;
        }
        folder.setAutoRemove(false);
        if (options.log.isEmpty()) {
            options.log = folder.filePath("terminal.log");
        }
        if (options.screenshot.isEmpty()) {
            options.screenshot = folder.filePath("console.png");
        }
    }
    // Nobody is there to answer a message box: note it in the output and go on.
    console::SetMessageBoxHandler([](const console::MessageRequest& request) {
        std::printf("message box: %s\n", qPrintable(request.text));
        return QMessageBox::Ok;
    });

    CPravikDlg window;
    window.resize(1400, 1100);
    window.show();
    QCoreApplication::processEvents();

    Click(window, "multiFilterRadio");
    if (!Choose(window, "instrumentPortList", options.motorPort) ||
        !Choose(window, "controllerPortList", options.controllerPort)) {
        return 1;
    }
    Click(window, "connectButton");
    const bool connected = window.IsConnected();
    if (!connected) {
        std::fprintf(stderr, "pravik-demo: the console did not connect\n");
    }
    // Each line with its time of day, a reply with the time it took and what it means.
    if (auto* times = window.findChild<QAction*>("timeOfDayAction")) {
        times->trigger();
    }
    // A new set point, and the controller settling on it, read a few times a second.
    if (auto* desired = window.findChild<QLineEdit*>("desiredTempEdit")) {
        desired->setText("30.0");
    }
    Click(window, "setTempButton");
    QElapsedTimer settling;
    settling.start();
    while (connected && settling.elapsed() < 12000) {
        Click(window, "getTempButton");
        QThread::msleep(250);
    }
    for (const char* button :
         {"openShutterButton", "shutterGetButton", "closeShutterButton", "filterGetButton"}) {
        Click(window, button);
    }
    if (auto* desired = window.findChild<QComboBox*>("desiredFilterList")) {
        desired->setCurrentIndex(std::min(2, desired->count() - 1));
    }
    for (const char* button :
         {"changeFilterButton", "filterGetButton", "lightGetButton", "getTempButton"}) {
        Click(window, button);
    }
    LetTheLogSettle(window);
    window.grab().save(options.screenshot);
    Click(window, "disconnectButton");
    QCoreApplication::processEvents();
    if (!options.ports.isEmpty()) {
        CPortsDlg dialog(&window);
        dialog.show();
        QCoreApplication::processEvents();
        dialog.grab().save(options.ports);
    }

    QFile file(options.log);
    if (file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        QTextStream(&file) << window.findChild<QTextEdit*>("terminal")->toPlainText();
    }
    std::printf("terminal log: %s\nscreenshot:   %s\n", qPrintable(options.log),
                qPrintable(options.screenshot));
    // A session that never connected, or that did not disconnect at the end, is a failed demo.
    return connected && !window.IsConnected() ? 0 : 1;
}
