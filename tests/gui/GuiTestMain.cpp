// The gui suite runs offscreen: no display is needed, and nothing flashes on a developer's
// screen. One QApplication serves every test.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

// Each test starts with nothing remembered, whatever the tests before it stored.
class ForgetTheBench : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo& /*test*/) override { QSettings().clear(); }
};

int main(int argc, char** argv) {
    // What the windows remember, and the sessions they trace, go into this run's own folder,
    // never the user's ~/.config or ~/.local/state.
    QTemporaryDir folder;
    if (!folder.isValid() || !qputenv("XDG_CONFIG_HOME", folder.path().toLocal8Bit()) ||
        !qputenv("XDG_STATE_HOME", folder.path().toLocal8Bit())) {
        return 1;
    }
    // A screen the size of a technician's monitor (1600 x 1000), where the console must open
    // whole, without scroll bars.
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform.isEmpty() || platform == "offscreen") {
        QFile config(folder.filePath("screens.json"));
        if (config.open(QIODevice::WriteOnly)) {
            config.write(R"({"screens": [{"name": "bench", "x": 0, "y": 0, "width": 1600,
                "height": 1000, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
            config.close();
            qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + config.fileName()).toLocal8Bit());
        }
    }
    QApplication app(argc, argv);
    // The names the console runs under, so that the windows remember as they do for a person.
    QApplication::setOrganizationName("Pravik");
    QApplication::setApplicationName("Pravik");
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new ForgetTheBench);
    return RUN_ALL_TESTS();
}
