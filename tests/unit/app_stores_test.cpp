// The site list and preference stores over real files in a temporary folder, with a map for the Secret
// Service.
#include "FileText.h"
#include "MapSecretStore.h"
#include "QtPrinters.h"
#include "core/BaseWebsite.h"
#include "core/HelperProcess.h"
#include "core/SecretStore.h"
#include "core/SharedPreferences.h"
#include "core/SiteListManager.h"
#include "testkit/Wait.h"

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <map>
#include <unistd.h>

using namespace folvane;

namespace {

using testsupport::MapSecretStore;
using testsupport::permissionsOf;
using testsupport::readAll;
using testsupport::writeAll;

struct CountingDelegate : SiteListManagerDelegate, PreferencesManagerDelegate {
    void didFinishTask(SiteListManager&) override { ++sites; }
    void updatePreferences() override { ++preferences; }
    int sites = 0;
    int preferences = 0;
};

std::shared_ptr<BaseWebsite> site(const QString& title, const QString& url, const QString& password = "pw",
                                  const QString& login = "admin") {
    auto record = std::make_shared<BaseWebsite>();
    record->setNewValues(title, url, login, password);
    return record;
}

// What the site's password is when it is needed (the record itself keeps none).
QString passwordOf(SiteListManager& manager, const BaseWebsite& site) {
    BaseWebsite copy = site;
    manager.loadPassword(copy);
    return copy.password;
}

QStringList titlesOf(const SiteRecords& sites) {
    QStringList all;
    for (const auto& s : sites)
        all << s->cleanName;
    return all;
}

QStringList titles(const SiteListManager& manager) {
    return titlesOf(manager.siteList());
}

// Every file write of this process beyond a few bytes fails while it lives (the file size limit binds root
// too, unlike permissions); the list is still read and locked as usual.
class SavesFail {
public:
    SavesFail() {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit tiny{8, saved_.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &tiny);
    }
    ~SavesFail() { ::setrlimit(RLIMIT_FSIZE, &saved_); }

private:
    rlimit saved_{};
};

class Stores : public ::testing::Test {
protected:
    QTemporaryDir root;
    QString folder() const { return root.filePath(QStringLiteral("missing parent/Folvane 3")); }
    QString listFile() const { return folder() + QStringLiteral("/sites.plist"); }
    MapSecretStore secrets;
    CountingDelegate delegate;
};

} // namespace

TEST_F(Stores, FirstStartCreatesTheFolderAndAnEmptyListThatReadsBack) {
    {
        SiteListManager manager(secrets, folder());
        EXPECT_TRUE(manager.siteList().empty());
        SharedPreferences preferences(folder());
    }
    SiteListManager again(secrets, folder());
    EXPECT_TRUE(again.siteList().empty());
    // Readable by this user only: the folder holds template sources and the site list.
    EXPECT_EQ(permissionsOf(folder()), 0700u);
    EXPECT_EQ(permissionsOf(listFile()), 0600u);
    EXPECT_EQ(permissionsOf(folder() + "/preferences.plist"), 0600u);
}

// (The list's order, its records and icons, and no password in the file: the command line's end-to-end case
// and the property-list fuzz target's round trip.) Passwords are read when they are needed, one by one.
TEST_F(Stores, AnUnreadablePasswordCostsOnlyThatSite) {
    {
        SiteListManager manager(secrets, folder());
        ASSERT_TRUE(manager.addNewSite(site("A", "a.example", "pa", "locked-user")));
        ASSERT_TRUE(manager.addNewSite(site("B", "b.example", "pb")));
    }
    secrets.unreadableAccount = "locked-user";
    SiteListManager loaded(secrets, folder());
    for (const auto& record : loaded.siteList())
        EXPECT_EQ(record->password, "") << "not read with the list";
    EXPECT_EQ(passwordOf(loaded, *loaded.siteList()[0]), "");
    EXPECT_EQ(passwordOf(loaded, *loaded.siteList()[1]), "pb");
}

TEST_F(Stores, AnUnreadableListIsKeptAsideBeforeAnythingOverwritesIt) {
    ASSERT_TRUE(QDir().mkpath(folder()));
    // Not a property list at all, a property list of the wrong shape (a record without its login), and an
    // empty file, which has nothing to keep.
    SiteListManager seeded(secrets, root.filePath("seed"));
    ASSERT_TRUE(seeded.addNewSite(site("Seed", "seed.example")));
    QByteArray wrongShape = readAll(seeded.getSiteListFilePath());
    wrongShape.replace("login", "lOgin");
    for (const QByteArray& unreadable : {QByteArray("<html>not a list</html>"), wrongShape, QByteArray()}) {
        ASSERT_TRUE(writeAll(listFile(), unreadable));
        SiteListManager manager(secrets, folder());
        EXPECT_TRUE(manager.siteList().empty());
        ASSERT_EQ(manager.keptAsidePath().isEmpty(), unreadable.isEmpty());
        ASSERT_TRUE(manager.addNewSite(site("New", "new.example")));
        EXPECT_TRUE(unreadable.isEmpty() || readAll(manager.keptAsidePath()) == unreadable);
        EXPECT_EQ(titles(SiteListManager(secrets, folder())), QStringList{"New"});
        QFile::remove(manager.keptAsidePath());
    }
}

TEST_F(Stores, AChangeThatCannotBeSavedOrWhosePasswordCannotBeStoredIsUndone) {
    SiteListManager manager(secrets, folder());
    manager.delegate = &delegate;
    ASSERT_TRUE(manager.addNewSite(site("A", "a.example", "pa")));
    ASSERT_TRUE(manager.addNewSite(site("B", "b.example", "pb")));
    ASSERT_EQ(delegate.sites, 2);

    // The Secret Service refuses: the list is as before, in memory and on disk.
    secrets.failStores = true;
    EXPECT_FALSE(manager.addNewSite(site("C", "c.example", "pc")));
    EXPECT_FALSE(manager.finishedEditingSite(site("B2", "b2.example", "pb2"), 1));
    EXPECT_EQ(titles(manager), (QStringList{"A", "B"}));
    EXPECT_TRUE(manager.lastError().contains("no Secret Service"));
    EXPECT_EQ(titles(SiteListManager(secrets, folder())), (QStringList{"A", "B"}));
    secrets.failStores = false;

    const SavesFail savesFail;
    EXPECT_FALSE(manager.addNewSite(site("D", "d.example", "pd")));
    EXPECT_FALSE(manager.finishedEditingSite(site("A2", "a.example", "pa"), 0));
    EXPECT_EQ(titles(manager), (QStringList{"A", "B"}));
    manager.dialogDelete = [](const QString&, const QString&) { return true; };
    EXPECT_FALSE(manager.removeSite(*manager.siteList()[1]));
    EXPECT_EQ(titles(manager), (QStringList{"A", "B"}));
    EXPECT_EQ(titles(SiteListManager(secrets, folder())), (QStringList{"A", "B"}))
        << "a write that fails half-way leaves the file as it was";
    EXPECT_EQ(delegate.sites, 2);
    EXPECT_EQ(secrets.items.count(MapSecretStore::key(SecretAttributes::of(*site("D", "d.example")))), 0u);

    EXPECT_FALSE(manager.addNewSite(site("E", "e.example"), 5)) << "no such position";
}

// (Asking first and the removed site's own item going: the window's and the site store's cases.)
TEST_F(Stores, RemovalEndsTheHelperAndRemovesThePasswordNoCopyUses) {
    SiteListManager manager(secrets, folder());
    manager.delegate = &delegate;
    ASSERT_TRUE(manager.addNewSite(site("Twin", "one.example", "p1")));
    ASSERT_TRUE(manager.addNewSite(site("Other", "two.example", "p2")));
    ASSERT_TRUE(manager.addNewSite(site("Twin", "three.example", "p3")));
    manager.dialogDelete = [](const QString&, const QString&) { return true; };

    auto helper = std::make_shared<HelperProcess>();
    ASSERT_TRUE(helper->start("sleep", {"600"}, "pw", QProcessEnvironment::systemEnvironment(), nullptr));
    manager.siteList()[0]->siteConnection = helper;
    // Titles are looked up: of two equal titles the first goes.
    ASSERT_TRUE(manager.removeSite(*manager.siteList()[2]));
    EXPECT_EQ(manager.siteList()[0]->dirtyURL, "two.example");
    EXPECT_EQ(manager.siteList()[1]->dirtyURL, "three.example");
    EXPECT_TRUE(testkit::waitUntil([&] { return !helper->isRunning(); }));
    EXPECT_EQ(delegate.sites, 4);
    EXPECT_EQ(secrets.items.size(), 2u);

    // A copy of a site (same address and user) has an item of its own: removing one leaves the other's.
    ASSERT_TRUE(manager.addNewSite(site("Other Copy", "two.example", "p2")));
    ASSERT_TRUE(manager.removeSite(*manager.siteList()[0]));
    EXPECT_EQ(manager.siteList()[1]->cleanName, "Other Copy");
    EXPECT_EQ(secrets.items.size(), 2u);
    EXPECT_EQ(passwordOf(manager, *manager.siteList()[1]), "p2");

    const BaseWebsite stranger("x.example", "admin", "", "Stranger", "x.example");
    EXPECT_FALSE(manager.removeSite(stranger));
}

TEST_F(Stores, APreferenceThatCannotBeSavedIsRolledBack) {
    SharedPreferences preferences(folder());
    preferences.delegate = &delegate;
    const SavesFail savesFail;
    EXPECT_FALSE(preferences.changePreference("Enable caching", 0));
    EXPECT_EQ(preferences.value("Enable caching"), 1);
    EXPECT_FALSE(preferences.changePreference("A new one", 1));
    EXPECT_FALSE(preferences.isPrefInList("A new one"));
    EXPECT_EQ(delegate.preferences, 0);
}

// This program read [A, B]; another one has since removed A and appended C. Each change meets the list as
// it is now.
TEST(SiteListMerge, EachChangeIsAppliedToTheListAsItIsNow) {
    const auto a = site("A", "a.example"), b = site("B", "b.example"), c = site("C", "c.example");
    const SiteRecords known{a, b}, now{site("B", "b.example"), c};
    using Kind = SiteListChange::Kind;
    struct Case {
        SiteListChange change;
        QStringList after;   // the list after the change (not checked when empty)
        const char* refusal; // a part of the refusal ("" for none)
    };
    const Case cases[] = {
        {{Kind::add, site("D", "d.example"), nullptr, -1}, {"B", "C", "D"}, ""},
        {{Kind::replace, site("B2", "b.example"), b, 1}, {"B2", "C"}, ""},
        {{Kind::remove, nullptr, b, 1}, {"C"}, ""},
        // A site removed meanwhile: an edit is refused, a removal has nothing left to do.
        {{Kind::replace, site("A2", "a.example"), a, 0},
         {"B", "C"},
         "\"A\" was changed or removed by another program"},
        {{Kind::remove, nullptr, a, 0}, {"B", "C"}, ""},
        // A title or URL another program took meanwhile is refused; one this program knew is the caller's
        // business (its own duplicate check).
        {{Kind::add, site("C", "other.example"), nullptr, -1}, {}, "another program added \"C\" (c.example)"},
        {{Kind::add, site("New", "c.example"), nullptr, -1}, {}, "another program"},
        {{Kind::add, site("B", "elsewhere.example"), nullptr, -1}, {}, ""},
    };
    for (const Case& test : cases) {
        const MergedSiteList merged = mergedSiteList(now, test.change, known);
        const QString what = test.change.site ? test.change.site->cleanName : QStringLiteral("removal");
        EXPECT_TRUE(test.after.isEmpty() || titlesOf(merged.sites) == test.after)
            << what.toStdString() << ": " << titlesOf(merged.sites).join(u',').toStdString();
        EXPECT_EQ(*test.refusal ? merged.refusal.contains(test.refusal) : merged.refusal.isEmpty(), true)
            << what.toStdString() << ": " << merged.refusal.toStdString();
    }
    // An edit of a site onto its own entry is no clash.
    EXPECT_TRUE(mergedSiteList(now, {Kind::replace, site("C", "c.example"), c, 1}, SiteRecords{b, c})
                    .refusal.isEmpty());
    // A site whose user another program changed meanwhile is another site: its edit is refused.
    EXPECT_FALSE(mergedSiteList(SiteRecords{site("B", "b.example", "pw", "editor")},
                                {Kind::replace, site("B2", "b.example"), b, 0}, known)
                     .refusal.isEmpty());
    // Of two equal entries the one at the given position is edited.
    const SiteRecords twins{site("T", "t.example"), site("T", "t.example")};
    EXPECT_EQ(
        titlesOf(mergedSiteList(twins, {Kind::replace, site("T2", "t.example"), twins[1], 1}, twins).sites),
        (QStringList{"T", "T2"}));
}

TEST_F(Stores, AnEditOpenedBeforeAnotherProgramsChangeStaysWithItsSite) {
    SiteListManager app(secrets, folder());
    for (const char* title : {"A", "B", "C"})
        ASSERT_TRUE(app.addNewSite(site(title, QStringLiteral("%1.example").arg(title), "")));
    // The editor works on a copy of B, at position 1.
    auto edited = std::make_shared<BaseWebsite>(*app.siteList()[1]);
    {
        SiteListManager cli(secrets, folder());
        cli.dialogDelete = [](const QString&, const QString&) { return true; };
        ASSERT_TRUE(cli.removeSite(*cli.siteList()[0]));
    }
    ASSERT_TRUE(app.reloadIfChanged());
    ASSERT_EQ(titles(app), (QStringList{"B", "C"}));
    edited->setNewValues("B edited", std::nullopt, std::nullopt, std::nullopt);
    ASSERT_TRUE(app.finishedEditingSite(edited, 1));
    EXPECT_EQ(titles(app), (QStringList{"B edited", "C"}));
    EXPECT_EQ(titles(SiteListManager(secrets, folder())), (QStringList{"B edited", "C"}));
}

TEST_F(Stores, TwoProgramsChangingPreferencesLoseNothing) {
    SharedPreferences app(folder());
    SharedPreferences cli(folder());
    ASSERT_TRUE(app.changePreference(SharedPreferences::enableCaching, 0));
    ASSERT_TRUE(cli.changePreference(SharedPreferences::enableNotifications, 0));
    EXPECT_EQ(cli.value(SharedPreferences::enableCaching), 0);
    SharedPreferences reread(folder());
    EXPECT_EQ(reread.value(SharedPreferences::enableCaching), 0);
    EXPECT_EQ(reread.value(SharedPreferences::enableNotifications), 0);
    // The application sees the command's change once its event loop turns, and tells its delegate.
    app.delegate = &delegate;
    EXPECT_TRUE(testkit::waitUntil([&] { return delegate.preferences > 0; }));
    EXPECT_EQ(app.value(SharedPreferences::enableNotifications), 0);
}

// A password item is keyed on where the password goes and whose it is: an edit of the address, the user or
// the title moves it. (Addresses told apart by their scheme or path: the command line's and the site
// store's end-to-end cases.)
TEST_F(Stores, AnEditedAddressUserOrTitleTakesItsPasswordAlong) {
    SiteListManager manager(secrets, folder());
    ASSERT_TRUE(manager.addNewSite(site("Blog", "https://a.example/cp", "secret")));
    ASSERT_TRUE(manager.addNewSite(site("Shop", "https://s.example/cp", "shop secret")));
    struct Edit {
        const char* title;
        const char* url;
        const char* login;
    };
    // Each edit as the command line makes it: the record without its password, one value changed.
    for (const Edit& edit :
         {Edit{"Blog", "https://b.example/cp", "admin"}, Edit{"Blog", "https://b.example/cp", "editor"},
          Edit{"Blog 2", "https://b.example/cp", "editor"}}) {
        auto edited = std::make_shared<BaseWebsite>(*manager.siteList()[0]);
        edited->setNewValues(QString(edit.title), QString(edit.url), QString(edit.login), std::nullopt);
        ASSERT_TRUE(manager.finishedEditingSite(edited, 0)) << manager.lastError().toStdString();
        EXPECT_EQ(passwordOf(manager, *manager.siteList()[0]), "secret")
            << edit.title << edit.url << edit.login;
        EXPECT_EQ(secrets.items.size(), 2u) << "the old item went: " << edit.title << edit.url << edit.login;
    }
    // An edit with a new password stores that one, under the new key only.
    ASSERT_TRUE(
        manager.finishedEditingSite(site("Blog 3", "https://b.example/cp", "new secret", "editor"), 0));
    EXPECT_EQ(passwordOf(manager, *manager.siteList()[0]), "new secret");
    EXPECT_EQ(passwordOf(manager, *manager.siteList()[1]), "shop secret");
    EXPECT_EQ(secrets.items.size(), 2u);
}

// Which site takes an older version's item over is checked end to end (SiteStore). Removing a site takes an
// older item that was its alone, leaves one stored for another address, and gives one that two sites shared
// to the one left.
TEST_F(Stores, RemovingASiteSettlesTheOlderItemsItCouldUse) {
    const auto olderKey = [&](const char* typed) {
        return MapSecretStore::key(*SecretAttributes::olderKeyOf(*site("x", typed), true));
    };
    secrets.items[olderKey("http://www.two.example/admin.php")] = "two";
    // What an older version stored for https://four.example/admin.php: under the cleaned address.
    secrets.items[olderKey("http://www.four.example/admin.php")] = "four";
    secrets.items[olderKey("http://www.five.example/cp")] = "five";
    SiteListManager manager(secrets, folder());
    for (const auto& added :
         {site("Two", "http://www.two.example/admin.php?D=cp", ""),
          site("Two again", "http://www.two.example/admin.php?D=cp&x=1", ""),
          site("Four", "https://four.example/admin.php", ""), site("Five", "http://www.five.example/cp", "")})
        ASSERT_TRUE(manager.addNewSite(added));
    EXPECT_EQ(passwordOf(manager, *manager.siteList()[0]), "") << "two sites share the older key";
    manager.dialogDelete = [](const QString&, const QString&) { return true; };
    ASSERT_TRUE(manager.removeSite(*manager.siteList()[3]));
    EXPECT_EQ(secrets.items.count(olderKey("http://www.five.example/cp")), 0u);
    ASSERT_TRUE(manager.removeSite(*manager.siteList()[2]));
    EXPECT_EQ(secrets.items.count(olderKey("http://www.four.example/admin.php")), 1u);
    ASSERT_TRUE(manager.removeSite(*manager.siteList()[1]));
    EXPECT_EQ(passwordOf(manager, *manager.siteList()[0]), "two");
}
