// The status item: a tray icon where the desktop has a tray host (a stand-in StatusNotifierWatcher on a
// private bus, under Xvfb), an ordinary window where it has none. Each case runs in a child process of its
// own, because Qt decides once per process whether a tray exists.

#include "GuiTestSupport.h"

#include "testkit/ChildProcess.h"
#include "testkit/TestSession.h"
#include "ui/GuiLaunch.h"
#include "ui/StatusItem.h"

#include <QMenu>
#include <QStandardPaths>
#include <QTextStream>
#include <cstring>

using namespace folvane;
using namespace folvane::testkit;

namespace {

const char* probeArgument = "--probe";

// The child: a window with its status item. Prints what it became and how the item's clicks act, then keeps
// running (so the tray can register) until it is stopped.
int probe(int argc, char** argv) {
    QApplication application(argc, argv);
    QWidget window;
    window.resize(320, 240);
    QMenu menu;
    menu.addAction(QStringLiteral("Quit"), &application, &QCoreApplication::quit);
    ui::StatusItem item(window, &menu);
    item.showWindow();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    QTextStream out(stdout);
    out << (item.usesTray() ? "tray" : "window") << " visible=" << window.isVisible()
        << " quitOnClose=" << QApplication::quitOnLastWindowClosed();
    if (item.usesTray()) {
        window.close();
        out << " afterClose=" << window.isVisible();
        item.clickedStatusBar();
        out << " afterClick=" << window.isVisible();
    }
    out << Qt::endl;
    return QApplication::exec();
}

struct Probe {
    QString result;
    QString watcherOutput;
};

// A desktop session of the test's own (a home, a private bus, no display), to which an X server and a tray
// host can be added.
class Desktop {
public:
    // An X server of the test's own; false when Xvfb is not installed.
    bool startX() {
        if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
            return false;
        x_ = std::make_unique<ChildProcess>(
            launch("Xvfb", {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1280x800x24"}, "xvfb"));
        const std::optional<QString> display = x_->waitForOutputLine(QString());
        if (!display)
            qFatal("Xvfb did not start: %s", qPrintable(x_->errors()));
        environment_.insert(QStringLiteral("DISPLAY"), u':' + display->trimmed());
        environment_.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        return true;
    }

    void startTrayHost() {
        watcher_ = std::make_unique<ChildProcess>(
            launch("/usr/bin/python3", {FOLVANE_GUI_TEST_DIR "/status_notifier_watcher.py"}, "watcher"));
        if (!watcher_->waitForOutputLine(QStringLiteral("READY")))
            qFatal("the tray host did not start: %s", qPrintable(watcher_->errors()));
    }

    Probe run() {
        ChildProcess child(launch(QCoreApplication::applicationFilePath(), {probeArgument}, "probe"));
        Probe probe;
        const auto line = child.waitForOutputLine(QString());
        probe.result = line.value_or(QStringLiteral("no answer: ") + child.errors());
        if (watcher_ && probe.result.startsWith(QStringLiteral("tray")))
            probe.watcherOutput = watcher_->waitForOutputLine(QStringLiteral("REGISTER")).value_or(QString());
        child.stop();
        return probe;
    }

private:
    // Output and errors go to files named after the process; it ends with the test process at the latest.
    ChildProcess::Launch launch(const QString& program, const QStringList& arguments, const QString& name) {
        return {.program = program,
                .arguments = arguments,
                .environment = environment_,
                .outputPath = session_.newLogPath(name + "-out"),
                .errorPath = session_.newLogPath(name + "-err"),
                .input = std::nullopt,
                .endsWithTestProcess = true};
    }

    TestSession session_;
    QProcessEnvironment environment_ = session_.environment();
    std::unique_ptr<ChildProcess> x_;
    std::unique_ptr<ChildProcess> watcher_;
};

} // namespace

class StatusItemTest : public QObject {
    Q_OBJECT
private slots:
    void withoutATrayTheWindowIsOrdinary() {
        Desktop desktop;
        desktop.startTrayHost(); // the offscreen platform has no tray, host or not
        QCOMPARE(desktop.run().result, QStringLiteral("window visible=1 quitOnClose=1"));
    }

    void withATrayHostTheItemRegistersAndTogglesTheWindow() {
        Desktop desktop;
        if (!desktop.startX())
            QSKIP("Xvfb is not installed");
        desktop.startTrayHost();
        const Probe probe = desktop.run();
        QCOMPARE(probe.result, QStringLiteral("tray visible=1 quitOnClose=0 afterClose=0 afterClick=1"));
        QVERIFY2(probe.watcherOutput.startsWith(QStringLiteral("REGISTER ")),
                 qPrintable(probe.watcherOutput));
    }

    void windowGoesUnderTheIconInsideTheScreen() {
        const QRect screen(0, 32, 1280, 768); // a 32-pixel top panel
        const QSize window(400, 500);
        QCOMPARE(ui::windowPlacement(screen, {1000, 16}, window), QPoint(800, 32));
        QCOMPARE(ui::windowPlacement(screen, {1260, 16}, window), QPoint(880, 32));
        QCOMPARE(ui::windowPlacement(screen, {100, 40}, window), QPoint(0, 48));
        // A bottom panel: above the icon.
        QCOMPARE(ui::windowPlacement(QRect(0, 0, 1280, 768), {640, 760}, window), QPoint(440, 252));
    }

    void guiOnlyWithoutArgumentsOnADesktop() {
        QProcessEnvironment desktop;
        desktop.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-0"));
        const QProcessEnvironment console;
        QVERIFY(ui::wantsGui({}, desktop));
        QVERIFY(ui::wantsGui({QStringLiteral("folvane://add_site?title=A")}, desktop));
        QVERIFY(!ui::wantsGui({QStringLiteral("--help")}, desktop));
        QVERIFY2(ui::wantsGui({QStringLiteral("-v")}, desktop), "the windows, with the helpers' logs shown");
        QVERIFY2(ui::wantsGui({QStringLiteral("--at-login")}, desktop), "the autostart entry's start");
        QVERIFY(!ui::wantsGui({QStringLiteral("sites"), QStringLiteral("list")}, desktop));
        QVERIFY(!ui::wantsGui({}, console));
    }
};

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], probeArgument) == 0)
        return probe(argc, argv);
    StatusItemTest test;
    return folvane::guitest::runGuiTest(test, argc, argv);
}

#include "status_item_test.moc"
