// The gui suite runs offscreen: no display is needed, and nothing flashes on a developer's
// screen. One QApplication serves every test.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

int main(int argc, char** argv) {
    // A screen the size of a technician's monitor (1600 x 1000), where the console must open
    // whole, without scroll bars.
    QTemporaryDir folder;
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if ((platform.isEmpty() || platform == "offscreen") && folder.isValid()) {
        QFile config(folder.filePath("screens.json"));
        if (config.open(QIODevice::WriteOnly)) {
            config.write(R"({"screens": [{"name": "bench", "x": 0, "y": 0, "width": 1600,
                "height": 1000, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
            config.close();
            qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + config.fileName()).toLocal8Bit());
        }
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
