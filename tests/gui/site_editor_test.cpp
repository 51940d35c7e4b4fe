// The site editor: a refused save and its line, cancel, the Return chain, the connection test against the
// add-on simulator, the http notice, the deep-link mode, and the icon fetched on the first save.

#include "GuiTestSupport.h"
#include "TinyWebServer.h"

#include "core/BaseWebsite.h"
#include "core/ConnectionCheck.h"
#include "core/SiteListManager.h"
#include "testkit/AddonSim.h"
#include "ui/IconFetcher.h"
#include "ui/SiteEditor.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QUrlQuery>

using namespace folvane;
using namespace folvane::ui;

namespace {

using testsupport::TinyWebServer;

using guitest::pngOf;

QColor colourOf(const std::optional<QByteArray>& icon) {
    return icon ? QImage::fromData(*icon).pixelColor(26, 26) : QColor();
}

// Refused at once (nothing listens there), so a save that fetches an icon finishes quickly and offline.
const QString offline = QStringLiteral("http://127.0.0.1:1/admin.php");

struct Sheet {
    explicit Sheet(const QString& serviceBase = QString()) : icons(serviceBase), editor(sites, icons) {}

    std::shared_ptr<BaseWebsite> add(const QString& title, const QString& url) {
        auto site = std::make_shared<BaseWebsite>();
        site->setNewValues(title, url, QStringLiteral("me"), QStringLiteral("pw"));
        site->favIcon = pngOf(Qt::blue);
        sites.addNewSite(site);
        return site;
    }
    void openToAdd(const QString& title, const QString& url) {
        editor.prepareToAdd(static_cast<int>(sites.siteList().size()));
        editor.open();
        editor.fieldTitle()->setText(title);
        editor.fieldSiteUrl()->setText(url);
        editor.fieldUsername()->setText(QStringLiteral("someone"));
    }
    // Saves and waits for the sheet to end or to show its error line.
    void save() {
        editor.saveEdition();
        QTRY_VERIFY_WITH_TIMEOUT(!editor.isVisible() || editor.errorShown(), testkit::defaultTimeoutMs);
    }

    QTemporaryDir folder;
    guitest::MapSecretStore secrets;
    SiteListManager sites{secrets, folder.path()};
    IconFetcher icons;
    SiteEditor editor;
};

} // namespace

class SiteEditorTest : public QObject {
    Q_OBJECT
private slots:
    // Editing reads the site's password for the sheet only; the list keeps none. A refused save keeps the
    // sheet open with its line, grown once; cancel leaves the record and the list alone and gives the height
    // back; a correct save closes the sheet.
    void aRefusedSaveShowsItsLineAndCancelLeavesEverythingAlone() {
        Sheet sheet;
        const auto site = sheet.add("Alpha", "http://alpha.test");
        sheet.editor.prepareToEdit(*site, 0);
        QCOMPARE(sheet.editor.fieldPassword()->text(), QStringLiteral("pw"));
        QCOMPARE(sheet.sites.siteList()[0]->password, QString());
        sheet.editor.open();
        const int height = sheet.editor.height();
        for (const QString& title : {QString(), QStringLiteral("Changed")}) {
            sheet.editor.fieldTitle()->setText(title);
            sheet.editor.fieldSiteUrl()->setText(title.isEmpty() ? offline : QString());
            sheet.save();
            QVERIFY(sheet.editor.isVisible());
            QCOMPARE(sheet.editor.errorText(), missingFieldsText);
            QCOMPARE(sheet.editor.height(), height + 50);
        }
        QSignalSpy finished(&sheet.editor, &QDialog::finished);
        sheet.editor.cancelButton()->click();
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished[0][0].toInt(), 0);
        QVERIFY(!sheet.editor.errorShown());
        QCOMPARE(sheet.editor.height(), height);
        QVERIFY(!sheet.editor.editing());
        QCOMPARE(site->cleanName, QStringLiteral("Alpha"));
        QCOMPARE(sheet.sites.siteList()[0]->dirtyURL, QStringLiteral("http://alpha.test"));

        sheet.openToAdd("Title", offline);
        sheet.save();
        QVERIFY(!sheet.editor.isVisible());
        QCOMPARE(sheet.editor.result(), 1);
        QCOMPARE(sheet.sites.siteList().size(), size_t(2));
    }

    void returnMovesThroughTheFieldsThenSaves() {
        Sheet sheet;
        sheet.editor.prepareToAdd(0);
        sheet.editor.show();
        QVERIFY(QTest::qWaitForWindowActive(&sheet.editor));
        QCOMPARE(QApplication::focusWidget(), sheet.editor.fieldTitle());
        QTest::keyClicks(sheet.editor.fieldTitle(), "Keyboard");
        QTest::keyClick(sheet.editor.fieldTitle(), Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), sheet.editor.fieldSiteUrl());
        QTest::keyClicks(sheet.editor.fieldSiteUrl(), offline);
        QTest::keyClick(sheet.editor.fieldSiteUrl(), Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), sheet.editor.fieldUsername());
        QTest::keyClick(sheet.editor.fieldUsername(), Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), sheet.editor.fieldPassword());
        QVERIFY(sheet.sites.siteList().empty());
        QTest::keyClicks(sheet.editor.fieldPassword(), "secret");
        QTest::keyClick(sheet.editor.fieldPassword(), Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(!sheet.editor.isVisible(), testkit::defaultTimeoutMs);
        QCOMPARE(sheet.sites.siteList().size(), size_t(1));
        QCOMPARE(sheet.secrets.passwordOf(*sheet.sites.siteList()[0]), QStringLiteral("secret"));
    }

    // (Which answers count as a refusal, a site that does not answer among them: the command line's checks.)
    void connectionTestShowsItsMark() {
        testkit::AddonSim sim;
        Sheet sheet;
        sheet.openToAdd("Sim", sim.baseUrl());
        sheet.editor.fieldUsername()->setText("admin");
        sheet.editor.fieldPassword()->setText("password");
        sheet.editor.testConnectionToSite();
        QCOMPARE(sheet.editor.mark(), std::optional<bool>(true));
        // A new test shows no mark until its own answers are in.
        bool looked = false;
        std::optional<bool> markWhileTesting;
        QTimer::singleShot(0, &sheet.editor, [&] {
            looked = true;
            markWhileTesting = sheet.editor.mark();
        });
        sheet.editor.fieldPassword()->setText("wrong");
        sheet.editor.testConnectionToSite();
        QVERIFY(looked);
        QCOMPARE(markWhileTesting, std::nullopt);
        QCOMPARE(sheet.editor.mark(), std::optional<bool>(false));
        // A save clears the mark; the test changed nothing in the list.
        sheet.editor.fieldTitle()->clear();
        sheet.save();
        QCOMPARE(sheet.editor.mark(), std::nullopt);
        QVERIFY(sheet.sites.siteList().empty());
    }

    void anHttpAddressIsNotedAndAllowed() {
        Sheet sheet;
        sheet.openToAdd("Plain", QStringLiteral("http://www.site.test/admin.php"));
        QVERIFY(!sheet.editor.unencryptedNotice()->isHidden());
        QCOMPARE(sheet.editor.unencryptedNotice()->text(), unencryptedShortNotice);
        QCOMPARE(sheet.editor.unencryptedNotice()->toolTip(), unencryptedPasswordNotice);
        QVERIFY(QTest::qWaitForWindowExposed(&sheet.editor));
        guitest::saveScreenshot(sheet.editor, "site-editor-http");
        // Typing never resizes the sheet: the notice keeps its room.
        const int height = sheet.editor.height();
        sheet.editor.fieldSiteUrl()->setText(QStringLiteral("https://www.site.test/admin.php"));
        QVERIFY(sheet.editor.unencryptedNotice()->isHidden());
        QCOMPARE(sheet.editor.height(), height);
        QVERIFY(!sheet.editor.errorShown()); // allowed, not blocking: the other cases save http addresses
    }

    // The first save takes the icon the page names (scaled to 52 pixels), else the service's (told the site's
    // scheme and host only); an answer that is no image, or an address no service can be asked about,
    // leaves the site without one. Editing a site that has an icon fetches nothing, even with a new URL.
    void theFirstSaveFetchesTheIcon() {
        TinyWebServer web;
        web.answers["/branded.php"] = {200, "text/html", "<link rel=\"icon\" href=\"/brand.png\">"};
        web.answers["/brand.png"] = {200, "image/png", pngOf(Qt::red, 32)};
        web.answers["/plain.php"] = {200, "text/html", "<html>no icon named</html>"};
        const QString service =
            "/s2/favicons?" + QUrlQuery({{"domain", "http://www.127.0.0.1"}}).toString(QUrl::FullyEncoded);
        web.answers[service] = {200, "image/png", pngOf(Qt::green, 16)};
        Sheet sheet(web.base());
        const auto iconAdding = [&](const QString& title, const QString& url) {
            sheet.openToAdd(title, url);
            sheet.save();
            return sheet.editor.isVisible() ? QColor(Qt::black)
                                            : colourOf(sheet.sites.siteList().back()->favIcon);
        };
        QCOMPARE(iconAdding("Branded", web.base() + "/branded.php"), QColor(Qt::red));
        QCOMPARE(QImage::fromData(*sheet.sites.siteList()[0]->favIcon).size(), QSize(52, 52));
        QCOMPARE(iconAdding("From service", web.base() + "/plain.php"), QColor(Qt::green));
        QVERIFY(web.requested.contains("/favicon.ico"));
        web.answers[service] = {200, "text/plain", "no image"};
        QCOMPARE(iconAdding("Not an image", web.base() + "/plain.php?site=2"), QColor());
        web.requested.clear();
        QCOMPARE(iconAdding("Not asked", "ftp://files.test/admin.php"), QColor());

        sheet.editor.prepareToEdit(*sheet.sites.siteList()[0], 0);
        sheet.editor.open();
        sheet.editor.fieldSiteUrl()->setText(web.base() + QStringLiteral("/elsewhere.php"));
        sheet.save();
        QVERIFY(!sheet.editor.isVisible());
        QVERIFY(web.requested.isEmpty());
    }

    void screenshot() {
        Sheet sheet;
        sheet.add("Company Website", "https://www.example.com/admin.php");
        sheet.openToAdd("Company Website", "https://www.example.com/admin.php");
        sheet.editor.fieldUsername()->setText("jane");
        sheet.editor.fieldPassword()->setText("password");
        sheet.save();
        QVERIFY(QTest::qWaitForWindowExposed(&sheet.editor));
        QCOMPARE(sheet.editor.errorText(), duplicateSiteText);
        guitest::saveScreenshot(sheet.editor, "site-editor-error");
    }
};

FOLVANE_GUI_TEST_MAIN(SiteEditorTest)
#include "site_editor_test.moc"
