// The files a connected site has not confirmed yet: the row's marker and menu open them, each shows its
// state, and a refused one can be sent again or its copy shown. A private bus plays the helper's part.

#include "GuiTestSupport.h"
#include "WindowDesk.h"

#include "BusNames.h"
#include "Paths.h"
#include "PendingFiles.h"
#include "core/HelperProcess.h"
#include "core/PendingFilesWatch.h"
#include "testkit/BusRecorder.h"
#include "testkit/TestSession.h"
#include "ui/PendingFilesDialog.h"
#include "ui/SiteListModel.h"
#include "ui/SiteListView.h"
#include "ui/SiteListWindow.h"
#include "ui/SiteRowWidget.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>

using namespace folvane;
using namespace folvane::ui;

namespace {

QPushButton* buttonIn(QWidget* row, const QString& text) {
    for (QPushButton* button : row->findChildren<QPushButton*>())
        if (button->text() == text)
            return button;
    return nullptr;
}

QStringList labelsIn(QWidget* row) {
    QStringList texts;
    for (const QLabel* label : row->findChildren<QLabel*>())
        texts << label->text();
    return texts;
}

} // namespace

class PendingFilesTest : public QObject {
    Q_OBJECT
private slots:
    void theMarkerListsTheFilesAndARefusedOneCanBeSentAgainOrShown() {
        const testkit::TestSession session;
        testkit::BusRecorder helper(session.bus());
        guitest::Desk desk({}, session.bus());
        PendingFilesWatch watch(desk.bus);
        desk.window.setPendingFilesWatch(&watch);
        SiteListWindow& window = desk.window;
        const auto site = desk.add("Company Website", "https://www.example.com/admin.php");
        site->siteConnection = std::make_shared<HelperProcess>();
        site->finishedConnecting = true;
        site->pendingUploads = 3;
        window.model().redraw();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QToolButton* marker = window.rowWidgetAt(0)->pendingUploadsButton();
        QVERIFY(marker->isVisible());
        QCOMPARE(marker->text(), QStringLiteral("↑ 3"));

        QTest::mouseClick(marker, Qt::LeftButton);
        PendingFilesDialog* dialog = window.pendingFilesDialog();
        QVERIFY(dialog && dialog->isVisible());
        QVERIFY(helper.waitFor(QStringLiteral("list-pending-Company Website")));

        const QList<PendingFile> files = {
            {QStringLiteral("/news/article.html"), PendingFile::State::refused,
             QStringLiteral("Template is locked.")},
            {QStringLiteral("/site/index.html"), PendingFile::State::sending, {}},
            {QStringLiteral("/styles/main.css"), PendingFile::State::retrying, {}},
            {QStringLiteral("/site/about.html"),
             PendingFile::State::changedOnSite,
             {},
             QStringLiteral("/kept/2026-01-02T03-04-05Z/site/about.site-version.html")},
        };
        helper.post(
            QStringLiteral("pending-files-Company Website"),
            {{bus::keyTitle, QStringLiteral("Company Website")}, {bus::keyFiles, pendingFilesText(files)}});
        // Each file's row says its state; only a refused file is offered again.
        QVERIFY(QTest::qWaitFor([&] { return dialog->findChild<QWidget*>("/news/article.html"); }));
        for (const auto& [path, state] :
             {std::pair("/news/article.html", "Refused: Template is locked."),
              std::pair("/site/index.html", "Sending…"),
              std::pair("/styles/main.css", "No answer from the site; trying again")}) {
            QWidget* row = dialog->findChild<QWidget*>(path);
            QVERIFY2(row && labelsIn(row).contains(QString::fromUtf8(state)), path);
            QCOMPARE(buttonIn(row, QStringLiteral("Try again")) != nullptr, path == files[0].path);
        }
        QWidget* refused = dialog->findChild<QWidget*>("/news/article.html");
        guitest::saveScreenshot(*dialog, QStringLiteral("pending-files"));

        QTest::mouseClick(buttonIn(refused, QStringLiteral("Try again")), Qt::LeftButton);
        QVERIFY(helper.waitFor(QStringLiteral("retry-Company Website")));
        QCOMPARE(helper.signalsNamed(QStringLiteral("retry-Company Website")).front(),
                 (QVariantMap{{QStringLiteral("path"), QStringLiteral("/news/article.html")}}));

        // "Show copy": the folder on the volume while nothing is kept yet, the recovery folder once it is.
        QStringList opened;
        dialog->openFolder = [&](const QString& path) { opened << path; };
        QTest::mouseClick(buttonIn(refused, QStringLiteral("Show copy")), Qt::LeftButton);
        const QString recovered = paths::supportFolder() + QStringLiteral("/Recovered/Company Website");
        QVERIFY(QDir().mkpath(recovered));
        QTest::mouseClick(buttonIn(refused, QStringLiteral("Show copy")), Qt::LeftButton);
        QCOMPARE(opened, QStringList({QDir::cleanPath(paths::mountPointFor("Company Website") + "/news"),
                                      recovered}));
        // A file changed on the site too: its row says where the site's version is, and shows that folder.
        QWidget* changed = dialog->findChild<QWidget*>("/site/about.html");
        QVERIFY(changed);
        QVERIFY(!buttonIn(changed, QStringLiteral("Try again")));
        QTest::mouseClick(buttonIn(changed, QStringLiteral("Show copy")), Qt::LeftButton);
        QCOMPARE(opened.last(), QStringLiteral("/kept/2026-01-02T03-04-05Z/site"));

        // Everything confirmed: the list says so.
        helper.post(
            QStringLiteral("pending-files-Company Website"),
            {{bus::keyTitle, QStringLiteral("Company Website")}, {bus::keyFiles, pendingFilesText({})}});
        QVERIFY(QTest::qWaitFor([&] { return !dialog->findChild<QWidget*>("/news/article.html"); }));

        // The row's menu offers the same list for a connected site only.
        window.listView()->setCurrentIndex(window.model().index(0));
        QAction* menuEntry = nullptr;
        for (QAction* action : window.rowMenu()->actions())
            if (action->text() == QStringLiteral("Unconfirmed Files…"))
                menuEntry = action;
        QVERIFY(menuEntry);
        dialog->hide();
        menuEntry->trigger();
        QVERIFY(dialog->isVisible());
        QVERIFY(helper.waitFor(QStringLiteral("list-pending-Company Website"), testkit::defaultTimeoutMs, 2));
        site->siteConnection.reset();
    }
};

FOLVANE_GUI_TEST_MAIN(PendingFilesTest)
#include "pending_files_test.moc"
