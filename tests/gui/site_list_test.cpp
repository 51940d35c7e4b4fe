// The main window's site list: search, rows and their states, the row menu, add/edit/duplicate/remove, and
// connecting through the real check and a stand-in helper process.

#include "GuiTestSupport.h"
#include "WindowDesk.h"

#include "Paths.h"
#include "core/HelperProcess.h"
#include "testkit/AddonSim.h"
#include "ui/Icons.h"
#include "ui/RefreshButton.h"
#include "ui/SiteEditor.h"
#include "ui/SiteListModel.h"
#include "ui/SiteListView.h"
#include "ui/SiteRowWidget.h"

#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>
#include <QToolButton>

using namespace folvane;
using namespace folvane::ui;

namespace {

using guitest::Desk;
using guitest::pngOf;

// The colour of an icon beside its initial: left of the middle.
QColor backgroundOf(const QPixmap& icon) {
    const QImage image = icon.toImage();
    return image.pixelColor(image.width() / 8, image.height() / 2);
}

QStringList titlesOf(const SiteRecords& sites) {
    QStringList titles;
    for (const auto& site : sites)
        titles << site->cleanName;
    return titles;
}

void select(SiteListWindow& window, int row) {
    window.listView()->setCurrentIndex(window.model().index(row));
}

void rightClick(SiteListView& list, QPoint at) {
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, list.viewport()->mapToGlobal(at));
    QApplication::sendEvent(list.viewport(), &event);
}

// Each row as the user sees it: its state and the buttons it shows.
QStringList rowsShown(SiteListWindow& window) {
    const char* const states[] = {"connecting", "connected", "error", "idle"}; // ConnectionState's order
    QStringList rows;
    for (int at = 0; at < window.model().rowCount(); ++at) {
        const SiteRowWidget& row = *window.rowWidgetAt(at);
        QString shown = QString::fromLatin1(states[static_cast<int>(row.state())]) + u':';
        for (const auto& [button, name] : {std::pair<QWidget*, const char*>(row.refreshButton(), " refresh"),
                                           {row.editButton(), " edit"},
                                           {row.ejectButton(), " eject"}})
            if (!button->isHidden())
                shown += QLatin1String(name);
        rows << shown;
    }
    return rows;
}

// A stand-in helper that runs until it is terminated, whatever its arguments.
const QByteArray sleeper = "exec sleep 300";

} // namespace

class SiteListTest : public QObject {
    Q_OBJECT
private slots:
    void searchMatchesTitleOrCleanedURL() {
        auto site = [](const QString& title, const QString& url, const QString& login) {
            auto record = std::make_shared<BaseWebsite>();
            record->setNewValues(title, url, login, QString());
            return record;
        };
        const SiteRecords all = {site("my example site", "http://one.test", "carol"),
                                 site("Shop", "shop.test/admin.php", "example"),
                                 site("Blog", "www.blog.test", "dave")};
        QCOMPARE(titlesOf(filteredSites(all, QString())), QStringList({"my example site", "Shop", "Blog"}));
        QCOMPARE(titlesOf(filteredSites(all, "EXAMPLE")), QStringList({"my example site"}));
        // "www." is only in the cleaned URL of a site typed without it.
        QCOMPARE(titlesOf(filteredSites(all, "www.shop")), QStringList({"Shop"}));
        // The typed URL does not count: "http://one" is typed, but the cleaned URL reads "http://www.one".
        QCOMPARE(titlesOf(filteredSites(all, "http://one")), QStringList());
    }

    // The search filters the rows; the prompt to add a site shows only while the list itself is empty.
    void searchAndThePromptWhileTheListIsEmpty() {
        Desk desk;
        QVERIFY(desk.window.promptShown());
        QCOMPARE(desk.window.searchField()->placeholderText(), QStringLiteral("Search              "));
        desk.add("Alpha Blog", "http://alpha.test");
        QVERIFY(!desk.window.promptShown());
        desk.add("Beta Shop", "http://beta.test");
        // A search that matches nothing is an empty table, not an empty list.
        desk.window.searchField()->setText("nothing like it");
        QVERIFY(!desk.window.promptShown());
        QCOMPARE(desk.window.model().rowCount(), 0);
        desk.window.searchField()->clear();
        select(desk.window, 1);
        desk.window.removeWebsite();
        select(desk.window, 0);
        desk.prompts.answer = false; // a refused removal keeps the site
        desk.window.removeWebsite();
        QCOMPARE(desk.prompts.questions.back().informativeText,
                 QStringLiteral("This will remove \"Alpha Blog\" from Folvane"));
        QCOMPARE(desk.sites.siteList().size(), size_t(1));
        desk.prompts.answer = true;
        desk.window.removeWebsite();
        QCOMPARE(desk.prompts.questions.size(), size_t(3));
        QVERIFY(desk.prompts.alerts.empty());
        QVERIFY(desk.sites.siteList().empty());
        QVERIFY(desk.window.promptShown());
    }

    // Under a search the editor opens on the site the row shows. A duplicate is appended as a copy with the
    // address, user, password and icon, its title kept unique.
    void editingUnderASearchAndDuplicating() {
        Desk desk;
        desk.add("Alpha Blog", "http://alpha.test", "tess", "secret", pngOf(Qt::red));
        desk.add("Beta Shop", "http://beta.test");
        desk.add("Alpha Shop", "http://alphashop.test", "me", "pw", pngOf(Qt::blue)); // a save fetches none
        desk.window.show();
        desk.window.searchField()->setText("alpha");
        QCOMPARE(desk.window.model().rowCount(), 2);
        select(desk.window, 1);
        desk.window.editSelectedWebsite();
        SiteEditor& editor = *desk.window.editor();
        QVERIFY(editor.isVisible());
        QCOMPARE(editor.fieldTitle()->text(), QStringLiteral("Alpha Shop"));
        QCOMPARE(editor.sitePositionToEdit(), 2);
        editor.fieldSiteUrl()->setText("http://alpha-shop.test");
        editor.saveEdition();
        QVERIFY(!editor.isVisible());
        const auto& list = desk.sites.siteList();
        QCOMPARE(list[2]->dirtyURL, QStringLiteral("http://alpha-shop.test"));
        QCOMPARE(desk.window.rowWidgetAt(1)->typedURL(), QStringLiteral("http://alpha-shop.test"));

        desk.window.searchField()->clear();
        for (int copy = 0; copy < 2; ++copy) {
            select(desk.window, 0);
            desk.window.duplicateSelectedWebsite();
        }
        QCOMPARE(titlesOf(list), QStringList({"Alpha Blog", "Beta Shop", "Alpha Shop", "Alpha Blog Copy",
                                              "Alpha Blog Copy 2"}));
        QCOMPARE(list[3]->dirtyURL, QStringLiteral("http://alpha.test"));
        QCOMPARE(list[3]->login, QStringLiteral("tess"));
        QCOMPARE(desk.secrets.passwordOf(*list[3]), QStringLiteral("secret"));
        QCOMPARE(list[3]->favIcon, list[0]->favIcon);
        QCOMPARE(desk.window.model().rowCount(), 5);
    }

    void aSiteWithoutAnIconShowsItsInitialOnAColourOfItsTitle() {
        const std::vector<std::pair<QString, QString>> initials = {
            {"demo shop", "D"}, {"  “Quoted” site", "Q"}, {"élan", "É"}, {"", ""}};
        for (const auto& [title, initial] : initials)
            QCOMPARE(icons::siteInitial(title), initial);
        // The colour is the title's own, the same in every run (a per-run seeded hash would not be).
        Desk desk;
        auto site = desk.add("Demo Shop", "http://shop.test");
        QCOMPARE(backgroundOf(desk.window.rowWidgetAt(0)->icon()).rgb(),
                 QColor::fromHsv(350, 140, 185).rgb());
        // Once an icon arrives it takes the face's place.
        site->favIcon = pngOf(Qt::green);
        QVERIFY(desk.sites.finishedEditingSite(std::make_shared<BaseWebsite>(*site), 0));
        desk.window.refreshSiteList();
        QCOMPARE(backgroundOf(desk.window.rowWidgetAt(0)->icon()).rgb(), QColor(Qt::green).rgb());
    }

    // The list holds no passwords: connecting reads the site's, and a site without one opens the editor.
    void connectingASiteWithoutAStoredPasswordAsksForIt() {
        Desk desk;
        desk.add("Keyless", "http://127.0.0.1:1/admin.php", "me", "");
        desk.window.connectToSite(0);
        QCOMPARE(desk.prompts.alerts.size(), size_t(1));
        QCOMPARE(desk.prompts.alerts[0].message, QStringLiteral("No Password Stored"));
        QVERIFY(desk.window.editor()->isVisible());
        QCOMPARE(desk.window.editor()->fieldTitle()->text(), QStringLiteral("Keyless"));
        QCOMPARE(desk.window.rowWidgetAt(0)->state(), ConnectionState::idle);
    }

    // With a stand-in helper that runs until it is ended (the states a row shows: the rows' case and the
    // connection control's end-to-end one): a refresh the helper kept the files through says why; a second
    // press of the refresh button offers to cancel, and "Yes" ejects; a helper that finds the site served by
    // another one leaves it idle and says so. (A new connection after an eject starts as connecting: the
    // connection control's end-to-end case.)
    void connectRefreshAndEjectWithAStandInHelper() {
        testkit::AddonSim sim;
        Desk desk(sleeper);
        desk.add("Live", sim.baseUrl(), "admin", "password");
        const auto row = [&] { return desk.window.rowWidgetAt(0); };
        const auto site = desk.sites.siteList()[0];
        desk.window.connectToSelectedSite(); // nothing selected: nothing happens
        QVERIFY(!site->siteConnection);
        select(desk.window, 0);
        desk.window.connectToSelectedSite();
        QVERIFY(desk.prompts.alerts.empty());
        QVERIFY(site->siteConnection && site->siteConnection->isRunning());

        desk.window.switchRefreshingStates("Live");
        QCOMPARE(row()->refreshButton()->refreshing(), 1);
        // The helper's answers, as ConnectionControl hands them on.
        emit desk.control.refreshFinished("Live", 0, "changes are still on their way to the site");
        QCOMPARE(row()->refreshButton()->refreshing(), 0);
        QCOMPARE(desk.window.noticeText(),
                 QStringLiteral("“Live” was not refreshed: changes are still on their way to the site. Its "
                                "files are as they were; try again in a moment."));
        desk.window.switchRefreshingStates("Live");
        QVERIFY(desk.window.noticeText().isEmpty()); // a new refresh clears it
        emit desk.control.refreshFinished("Live", 0, QString());
        QVERIFY(desk.window.noticeText().isEmpty());
        desk.window.switchRefreshingStates("Live");
        desk.prompts.answer = false;
        desk.window.switchRefreshingStates("Live");
        QCOMPARE(desk.prompts.questions.back().message, QStringLiteral("Cancel Template Refreshing?"));
        QCOMPARE(row()->refreshButton()->refreshing(), 1);
        QVERIFY(site->siteConnection);
        desk.prompts.answer = true;
        desk.window.switchRefreshingStates("Live");
        QVERIFY(!site->siteConnection && !site->siteConnectionRefresher);
        QCOMPARE(row()->state(), ConnectionState::idle);
        QVERIFY(row()->ejectButton()->isHidden());
        QCOMPARE(row()->refreshButton()->refreshing(), 0);

        // Ends at once, as a helper does when another one serves the site: no error dot.
        desk.scriptIn("exit " + QByteArray::number(HelperCommandLine::exitAlreadyConnected));
        desk.window.connectToSite(0);
        QTRY_VERIFY_WITH_TIMEOUT(!site->siteConnection, testkit::defaultTimeoutMs);
        QVERIFY2(desk.window.noticeText().contains("“Live” is already connected"),
                 qPrintable(desk.window.noticeText()));
        QVERIFY(desk.window.noticeText().contains(QDir::cleanPath(paths::mountPointFor("Live"))));
        QVERIFY(desk.prompts.alerts.empty());
        QCOMPARE(row()->state(), ConnectionState::idle);
    }

    // The check runs the event loop while it waits; the site it checks must stay the listed record, or the
    // helper started after it would belong to a site nobody sees.
    void aSiteBeingCheckedIsNeitherEditedNorRemoved() {
        testkit::AddonSim sim;
        Desk desk;
        sim.config({{"login", "refuse"}});
        desk.add("Checked", sim.baseUrl(), "admin", "password");
        desk.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&desk.window));
        select(desk.window, 0);
        QTimer::singleShot(0, &desk.window, [&] {
            SiteListView& list = *desk.window.listView();
            rightClick(list, list.visualRect(desk.window.model().index(0)).center());
            QVERIFY(desk.window.rowMenu()->isVisible());
            for (QAction* action : desk.window.rowMenu()->actions())
                if (action->text() == "Edit…" || action->text() == "Delete…")
                    QVERIFY2(!action->isEnabled(), qPrintable(action->text()));
            desk.window.rowMenu()->hide();
            desk.window.editSelectedWebsite();
            desk.window.removeWebsite();
        });
        desk.window.connectToSite(0);
        QVERIFY(!desk.window.editor()->isVisible());
        QCOMPARE(titlesOf(desk.sites.siteList()), QStringList{"Checked"});
        QVERIFY(desk.prompts.questions.empty());
        QCOMPARE(desk.prompts.alerts.size(), size_t(3)); // the edit's, the removal's and the check's own
        QCOMPARE(desk.prompts.alerts[2].message, QStringLiteral("Mount Failed"));

        // Once the check has ended, both are possible again.
        desk.window.editSelectedWebsite();
        QVERIFY(desk.window.editor()->isVisible());
        desk.window.editor()->cancelEdition();
        desk.window.removeWebsite();
        QVERIFY(desk.sites.siteList().empty());
    }

    // Quitting while a check waits for the add-on ends the event loop, so the application can stop its
    // helpers and exit; the check gives up and starts no helper.
    void quittingDuringACheckEndsTheEventLoop() {
        testkit::AddonSim sim;
        Desk desk(sleeper);
        desk.add("Slow", sim.baseUrl(), "admin", "password");
        sim.fault({{"action", "*"}, {"kind", "delay"}, {"ms", 600'000}});
        bool checkEnded = false;
        QTimer::singleShot(0, &desk.window, [&] {
            // Handled inside the check's wait.
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
            desk.window.connectToSite(0);
            checkEnded = true;
        });
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(checkEnded);
        QVERIFY(!desk.sites.siteList()[0]->siteConnection);
    }

    // An open editor keeps what the user entered, a save under way included: "Add Site…" only brings it to
    // the front, and a deep link opens once it has ended, ready for the password, and adds a site.
    void deepLinksWaitForTheOpenEditor() {
        Desk desk;
        SiteEditor& editor = *desk.window.editor();
        desk.window.addWebsite();
        editor.fieldTitle()->setText("Typed");
        editor.fieldSiteUrl()->setText("http://127.0.0.1:1/admin.php");
        editor.saveEdition(); // the icon is still being fetched
        QVERIFY(editor.isVisible());
        desk.window.loadDeepLinkSite("Linked", "http://linked.test/admin.php", "jane");
        desk.window.addWebsite();
        QCOMPARE(editor.fieldTitle()->text(), QStringLiteral("Typed"));

        QTRY_COMPARE_WITH_TIMEOUT(titlesOf(desk.sites.siteList()), QStringList{"Typed"},
                                  testkit::defaultTimeoutMs);
        QVERIFY(editor.isVisible());
        QCOMPARE(editor.fieldTitle()->text(), QStringLiteral("Linked"));
        QCOMPARE(editor.fieldSiteUrl()->text(), QStringLiteral("http://linked.test/admin.php"));
        QCOMPARE(editor.fieldUsername()->text(), QStringLiteral("jane"));
        QCOMPARE(editor.focusWidget(), editor.fieldPassword());
        editor.fieldSiteUrl()->setText("http://127.0.0.1:1/linked.php");
        editor.saveEdition();
        QTRY_COMPARE_WITH_TIMEOUT(titlesOf(desk.sites.siteList()), QStringList({"Typed", "Linked"}),
                                  testkit::defaultTimeoutMs);
    }

    // Each row shows its site's state, drawn for the README: a site with a helper (connecting or connected)
    // can be ejected and refreshed, and an error shows until the next redraw.
    void rowsShowTheConnectionState() {
        QMenu applicationMenu;
        applicationMenu.addAction("Preferences…");
        {
            Desk desk;
            desk.window.setApplicationMenu(&applicationMenu);
            desk.window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&desk.window));
            guitest::saveScreenshot(desk.window, "main-window-empty");
        }
        Desk desk;
        auto connected = desk.add("Company Website", "https://www.example.com/admin.php");
        auto connecting = desk.add("Staging Blog", "staging.example.org/wp-admin");
        auto failed = desk.add("Shop", "http://shop.example.net/system/index.php");
        desk.add("Portfolio", "https://portfolio.example.com/admin.php");
        desk.window.setApplicationMenu(&applicationMenu);
        connected->siteConnection = std::make_shared<HelperProcess>();
        connected->finishedConnecting = true;
        connected->pendingUploads = 2;
        connecting->siteConnection = std::make_shared<HelperProcess>();
        failed->connectingError = true;
        desk.window.model().redraw();
        desk.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&desk.window));
        select(desk.window, 3);
        guitest::saveScreenshot(desk.window, "main-window-sites");
        QCOMPARE(rowsShown(desk.window), QStringList({"connected: refresh eject", "connecting: refresh eject",
                                                      "error:", "idle: edit"}));
        // Only the selected idle row can be edited: a connected site keeps its title and address.
        select(desk.window, 0);
        desk.window.editSelectedWebsite();
        QVERIFY(!desk.window.editor()->isVisible());

        // The failed check shows once; a helper's announced end shows the error until the next redraw.
        desk.window.model().showTerminated("Company Website");
        QCOMPARE(desk.window.rowWidgetAt(0)->state(), ConnectionState::error);
        desk.window.model().redraw();
        QCOMPARE(rowsShown(desk.window),
                 QStringList({"connected: refresh eject", "connecting: refresh eject", "idle:", "idle:"}));
        connected->siteConnection.reset();
        connecting->siteConnection.reset();
    }
};

FOLVANE_GUI_TEST_MAIN(SiteListTest)
#include "site_list_test.moc"
