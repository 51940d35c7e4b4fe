// The shell's dialogs: an alert answers with the button the user chose (closing it counts as its last
// button), the installation's progress dialog, the About box with its credit line.

#include "GuiTestSupport.h"

#include "shell/MakerLinks.h"
#include "ui/dialogs/AboutDialog.h"
#include "ui/dialogs/DialogShellPrompts.h"

#include <QDate>
#include <QLabel>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <functional>

using namespace folvane::shell;

namespace {

const Alert upgradeOffer{
    "You have an older version of FUSE.",
    "Folvane 3 has detected that you are running an older version of FUSE. Would you like "
    "to upgrade now?",
    {"Upgrade Now", "Don't Ask Again", "Later"}};

// Runs `act` on the message box once it is up; runAlert's own loop delivers the timer.
void whenAlertShows(const std::function<void(QMessageBox&)>& act) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, act] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            box && box->isVisible()) {
            poll->stop();
            poll->deleteLater();
            act(*box);
        }
    });
    poll->start(10);
}

QPushButton* buttonTitled(QMessageBox& box, const QString& title) {
    for (QAbstractButton* button : box.buttons())
        if (button->text() == title)
            return qobject_cast<QPushButton*>(button);
    return nullptr;
}

} // namespace

class ShellDialogsTest : public QObject {
    Q_OBJECT
private slots:
    void alertAnswersWithTheChosenButtonAndClosingCountsAsTheLast() {
        DialogShellPrompts prompts;
        whenAlertShows([](QMessageBox& box) {
            QCOMPARE(box.defaultButton()->text(), QStringLiteral("Upgrade Now"));
            buttonTitled(box, QStringLiteral("Don't Ask Again"))->click();
        });
        QCOMPARE(prompts.runAlert(upgradeOffer), 1);
        whenAlertShows([](QMessageBox& box) { box.reject(); });
        QCOMPARE(prompts.runAlert(upgradeOffer), 2);
    }

    void progressShowsWhileInstallingAndGoesAway() {
        DialogShellPrompts prompts;
        prompts.showProgress(QStringLiteral("Installing FUSE…"));
        prompts.setProgress(-1);
        prompts.setProgress(40);
        auto* dialog = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        QCOMPARE(dialog->labelText(), QStringLiteral("Installing FUSE…"));
        QCOMPARE(dialog->value(), 40);
        QPointer<QProgressDialog> watched(dialog);
        prompts.hideProgress();
        QTRY_VERIFY(!watched);
    }

    void aboutNamesTheYearAndTheMaker() {
        AboutDialog about;
        about.show();
        auto* credit = about.findChild<QLabel*>(QStringLiteral("credit"));
        QVERIFY(credit);
        QVERIFY(credit->text().contains(QString::number(QDate::currentDate().year())));
        QVERIFY(credit->text().contains(makerName()));
    }
};

FOLVANE_GUI_TEST_MAIN(ShellDialogsTest)
#include "shell_dialogs_test.moc"
