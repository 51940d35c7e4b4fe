#pragma once

// What the window tests share: a private home for the whole program, a map for the secret store, prompts that
// answer themselves, and screenshots.

#include "MapSecretStore.h"
#include "ui/UserPrompts.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>
#include <vector>

namespace folvane::guitest {

using testsupport::MapSecretStore;

// Alerts are recorded; questions get the answer the test set.
class RecordingPrompts : public ui::UserPrompts {
public:
    struct Shown {
        QString message, informativeText;
    };
    void alert(QWidget*, const QString& message, const QString& informativeText) override {
        alerts.push_back({message, informativeText});
    }
    bool confirm(QWidget*, const QString& message, const QString& informativeText, const QString&,
                 const QString&) override {
        questions.push_back({message, informativeText});
        return answer;
    }
    std::vector<Shown> alerts;
    std::vector<Shown> questions;
    bool answer = true;
};

// A square of one colour, as a site's stored icon.
inline QByteArray pngOf(QColor colour, int side = 52) {
    QImage image(side, side, QImage::Format_ARGB32);
    image.fill(colour);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

// Writes the widget as it is drawn into the build's screenshots folder.
inline void saveScreenshot(QWidget& widget, const QString& name) {
    QDir().mkpath(QStringLiteral(FOLVANE_SCREENSHOT_DIR));
    const QString path = QDir(QStringLiteral(FOLVANE_SCREENSHOT_DIR)).filePath(name + QStringLiteral(".png"));
    QVERIFY2(widget.grab().save(path), qPrintable(path));
}

// Runs the test class with the offscreen platform, in a home folder of its own (so no test touches the user's
// files), and away from the user's session bus.
inline int runGuiTest(QObject& test, int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    for (const char* variable :
         {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"})
        qputenv(variable, QDir(home.path()).filePath(QString::fromLatin1(variable)).toUtf8());
    qputenv("FOLVANE_MOUNT_ROOT", QDir(home.path()).filePath(QStringLiteral("mounts")).toUtf8());
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/folvane-gui-test");
    QApplication application(argc, argv);
    return QTest::qExec(&test, argc, argv);
}

} // namespace folvane::guitest

#define FOLVANE_GUI_TEST_MAIN(TestClass)                                                                     \
    int main(int argc, char** argv) {                                                                        \
        TestClass test;                                                                                      \
        return folvane::guitest::runGuiTest(test, argc, argv);                                               \
    }
