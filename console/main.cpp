#include <QCommandLineParser>
#include <QCoreApplication>

#include "console/PravikApp.h"
#include "platform/Version.h"

namespace {

// --help and --version answer on the terminal and end the program before any window (or
// display connection) exists, so they also work over SSH and on a machine with no display. The
// toolkit's own options (-platform, -style, ...) are left for the application to take.
void AnswerInformationalOptions(int argc, char** argv) {
    QCoreApplication probe(argc, argv);
    QCoreApplication::setApplicationName("pravik");
    QCoreApplication::setApplicationVersion(QString::fromStdString(ProgramVersion()));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Pravik: the bench test console for optical instruments (shutter controllers, "
        "SmartMotor filter wheels, Omega and Athena temperature controllers) on serial ports.");
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.parse(QCoreApplication::arguments());
    if (parser.isSet(help)) {
        parser.showHelp(0);
    }
    if (parser.isSet(version)) {
        parser.showVersion();
    }
}

}  // namespace

int main(int argc, char** argv) {
    AnswerInformationalOptions(argc, argv);
    CPravikApp app(argc, argv);
    return app.Run();
}
