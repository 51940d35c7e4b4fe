// The preferences pane: its boxes and titles, storing each click, undoing a click that cannot be stored,
// the update and usage-data signals, and the notification-settings button.

#include "FileText.h"
#include "GuiTestSupport.h"

#include "core/SharedPreferences.h"
#include "ui/NotificationSettings.h"
#include "ui/PreferencesWindow.h"

#include <QCheckBox>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>

using namespace folvane;
using namespace folvane::ui;

class PreferencesWindowTest : public QObject {
    Q_OBJECT
private slots:
    void startAtLoginWritesAValidAutostartEntryAndRemovesIt() {
        QTemporaryDir folder;
        SharedPreferences preferences(folder.path());
        const QString entry = qEnvironmentVariable("XDG_CONFIG_HOME") + "/autostart/folvane3.desktop";
        QVERIFY(!QFile::exists(entry));
        PreferencesWindow window(preferences, std::nullopt);
        QVERIFY2(!window.startAtLogin()->isChecked(), "off by default");
        window.startAtLogin()->click();
        QVERIFY(QFile::exists(entry));
        QProcess validate;
        validate.start("desktop-file-validate", {entry});
        QVERIFY(validate.waitForFinished());
        QVERIFY2(validate.exitCode() == 0 && validate.readAll().isEmpty(), qPrintable(entry));
        const QString text = QString::fromUtf8(testsupport::readAll(entry));
        QVERIFY2(text.contains("Exec=\"" + QCoreApplication::applicationFilePath() + "\" --at-login\n"),
                 qPrintable(text));
        QVERIFY(PreferencesWindow(preferences, std::nullopt).startAtLogin()->isChecked());

        window.startAtLogin()->click();
        QVERIFY(!QFile::exists(entry));
        QVERIFY(window.problem().isEmpty());

        // A folder that cannot be made: the box goes back and says why.
        QFile blocker(qEnvironmentVariable("XDG_CONFIG_HOME") + "/autostart");
        QVERIFY(QDir().rmdir(blocker.fileName()) || !blocker.exists());
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        window.startAtLogin()->click();
        QVERIFY(!window.startAtLogin()->isChecked());
        QVERIFY2(window.problem().contains("autostart"), qPrintable(window.problem()));
        QVERIFY(blocker.remove());
    }

    // Each box shows what is stored and each click is stored under its title; the usage and update boxes and
    // the check button tell the rest. A click that cannot be stored is undone, and the updater set back too.
    void clicksAreStoredUnderTheTitleOrUndone() {
        QTemporaryDir folder;
        SharedPreferences preferences(folder.path());
        preferences.changePreference(SharedPreferences::enableCaching, 0);
        PreferencesWindow window(preferences, std::nullopt);
        QCheckBox* caching = window.checkBox(SharedPreferences::enableCaching);
        QVERIFY(!caching->isChecked());
        // The usage box is untitled but named for screen readers.
        QVERIFY(!window.checkBox(QString())->accessibleName().isEmpty());
        caching->click();
        QCOMPARE(SharedPreferences(folder.path()).strPreferences("Enable caching"), QStringLiteral("1"));

        QSignalSpy usage(&window, &PreferencesWindow::usageDataToggled);
        const bool usageWas = window.checkBox(QString())->isChecked();
        window.checkBox(QString())->click();
        QCOMPARE(usage.size(), 1);
        QCOMPARE(SharedPreferences(folder.path()).value(QString()), std::optional<qint64>(usageWas ? 0 : 1));

        QSignalSpy toggled(&window, &PreferencesWindow::checkAutomaticallyToggled);
        QSignalSpy checkNow(&window, &PreferencesWindow::checkNowRequested);
        QCheckBox* automatic = window.checkBox(SharedPreferences::autoCheckUpdates);
        automatic->click();
        window.checkUpdates()->click();
        QCOMPARE(toggled.size(), 1);
        QCOMPARE(checkNow.size(), 1);

        // The support folder becomes a file: nothing can be written there any more.
        QVERIFY(QDir(folder.path()).removeRecursively());
        QFile blocker(folder.path());
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        caching->click();
        QVERIFY(caching->isChecked());
        QCOMPARE(preferences.value(SharedPreferences::enableCaching), std::optional<qint64>(1));
        QVERIFY(!window.problem().isEmpty());
        const bool automaticWas = automatic->isChecked();
        automatic->click();
        QCOMPARE(automatic->isChecked(), automaticWas);
        QCOMPARE(toggled.size(), 3);
        QCOMPARE(toggled[2][0].toBool(), automaticWas);
        QFile::remove(folder.path());
    }

    void notificationSettingsOnlyWhereKnown() {
        const auto found = [](const QString& name) {
            return name == QStringLiteral("gnome-control-center") ? QStringLiteral("/usr/bin/") + name
                                                                  : QString();
        };
        QCOMPARE(NotificationSettings::forDesktop("ubuntu:GNOME", found),
                 std::optional(NotificationSettings{"/usr/bin/gnome-control-center", {"notifications"}}));
        // A known desktop whose settings program is not installed.
        QCOMPARE(NotificationSettings::forDesktop("KDE", found), std::nullopt);

        QTemporaryDir folder;
        SharedPreferences preferences(folder.path());
        QVERIFY(PreferencesWindow(preferences, std::nullopt).notificationPreferences()->isHidden());
        PreferencesWindow known(preferences, NotificationSettings{"/bin/true", {}});
        QVERIFY(!known.notificationPreferences()->isHidden());
        known.show(); // as a first start shows it, drawn for the README
        QVERIFY(QTest::qWaitForWindowExposed(&known));
        guitest::saveScreenshot(known, "preferences-window");
    }
};

FOLVANE_GUI_TEST_MAIN(PreferencesWindowTest)
#include "preferences_window_test.moc"
