// The site list and preference stores over real files in a temporary folder. The Secret Service is played
// by a map here (the end-to-end tests use the real one), so that its failures can be staged.
#include "QtPrinters.h"
#include "core/BaseWebsite.h"
#include "core/ConnectionControl.h"
#include "core/HelperProcess.h"
#include "core/SecretStore.h"
#include "core/SharedPreferences.h"
#include "core/SiteListManager.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <functional>
#include <map>
#include <unistd.h>

using namespace folvane;

namespace {

class MapSecretStore : public SecretStore {
public:
    SecretLookup read(const SecretAttributes& a) override {
        if (a.account == unreadableAccount)
            return {std::nullopt, QStringLiteral("the collection is locked")};
        const auto it = items.find(key(a));
        return it == items.end() ? SecretLookup{} : SecretLookup{it->second, {}};
    }
    std::optional<QString> store(const SecretAttributes& a, const QString& password) override {
        if (failStores)
            return QStringLiteral("no Secret Service");
        items[key(a)] = password;
        return std::nullopt;
    }
    static QString key(const SecretAttributes& a) {
        return QStringLiteral("%1|%2|%3|%4")
            .arg(a.server)
            .arg(a.port)
            .arg(static_cast<int>(a.protocol))
            .arg(a.account);
    }

    std::map<QString, QString> items;
    bool failStores = false;
    QString unreadableAccount;
};

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

QStringList titles(const SiteListManager& manager) {
    QStringList all;
    for (const auto& s : manager.siteList())
        all << s->cleanName;
    return all;
}

QByteArray contentOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// Saving fails from now on: a folder stands where the file goes.
void blockSaving(const QString& path) {
    QFile::remove(path);
    ASSERT_TRUE(QDir().mkpath(path));
}

// What `action` writes to standard error (the console log).
QString consoleLogOf(const std::function<void()>& action) {
    QTemporaryFile file;
    EXPECT_TRUE(file.open());
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(file.handle(), STDERR_FILENO);
    action();
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    file.seek(0);
    return QString::fromUtf8(file.readAll());
}

class Stores : public ::testing::Test {
protected:
    QTemporaryDir root;
    QString folder() const { return root.filePath(QStringLiteral("missing parent/Folvane 3")); }
    QString listFile() const { return folder() + QStringLiteral("/sites.plist"); }
    QString preferencesFile() const { return folder() + QStringLiteral("/preferences.plist"); }
    MapSecretStore secrets;
    CountingDelegate delegate;
};

} // namespace

TEST_F(Stores, FirstStartCreatesTheFolderAndAnEmptyListThatReadsBack) {
    const QString firstLog = consoleLogOf([&] {
        SiteListManager manager(secrets, folder());
        EXPECT_TRUE(manager.siteList().empty());
        SharedPreferences preferences(folder());
    });
    EXPECT_TRUE(contentOf(listFile()).startsWith("bplist00"));
    EXPECT_EQ(firstLog.count("SiteListManager: Creating Folvane files"), 1) << firstLog.toStdString();
    EXPECT_EQ(firstLog.count("SiteListManager: Creating preferences files"), 1) << firstLog.toStdString();
    const QString secondLog = consoleLogOf([&] {
        SiteListManager again(secrets, folder());
        EXPECT_TRUE(again.siteList().empty());
        EXPECT_TRUE(again.keptAsidePath().isEmpty());
        SharedPreferences preferences(folder());
    });
    EXPECT_FALSE(secondLog.contains("Creating")) << secondLog.toStdString();
    // Readable by this user only: the folder holds template sources and the site list.
    const auto mode = [](const QString& path) {
        struct stat info {};
        return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 0777 : 0777u;
    };
    EXPECT_EQ(mode(folder()), 0700u);
    EXPECT_EQ(mode(listFile()), 0600u);
    EXPECT_EQ(mode(folder() + "/preferences.plist"), 0600u);
}

TEST_F(Stores, SitesRoundTripInOrderWithIconsAndWithoutPasswordsInTheFile) {
    {
        SiteListManager manager(secrets, folder());
        manager.delegate = &delegate;
        auto first = site("First", "https://www.one.example:8443/cp", "secret-one");
        first->favIcon = QByteArray("\x89PNG\r\n\x1a\n\0\1", 10);
        ASSERT_TRUE(manager.addNewSite(first));
        ASSERT_TRUE(manager.addNewSite(site("Second", "two.example", "")));
        ASSERT_TRUE(manager.addNewSite(site("Third", "www.three.example", "secret-three")));
        // An edited site keeps its place.
        ASSERT_TRUE(
            manager.finishedEditingSite(site("Third Renamed", "www.three.example", "secret-three"), 2));
        EXPECT_EQ(delegate.sites, 4);
        EXPECT_EQ(secrets.items.size(), 2u) << "an empty password is not stored";
        EXPECT_FALSE(contentOf(listFile()).contains("secret-"));
    }
    SiteListManager loaded(secrets, folder());
    ASSERT_EQ(titles(loaded), (QStringList{"First", "Second", "Third Renamed"}));
    const BaseWebsite& first = *loaded.siteList()[0];
    EXPECT_EQ(first.dirtyURL, "https://www.one.example:8443/cp");
    EXPECT_EQ(first.url, "https://www.one.example:8443/cp");
    EXPECT_EQ(first.login, "admin");
    EXPECT_EQ(first.password, "secret-one");
    EXPECT_EQ(first.favIcon, QByteArray("\x89PNG\r\n\x1a\n\0\1", 10));
    EXPECT_EQ(loaded.siteList()[1]->password, "");
    EXPECT_FALSE(loaded.siteList()[1]->favIcon);
    EXPECT_EQ(loaded.siteList()[2]->password, "secret-three");
}

TEST_F(Stores, AnUnreadablePasswordCostsOnlyThatSite) {
    {
        SiteListManager manager(secrets, folder());
        ASSERT_TRUE(manager.addNewSite(site("A", "a.example", "pa", "locked-user")));
        ASSERT_TRUE(manager.addNewSite(site("B", "b.example", "pb")));
    }
    secrets.unreadableAccount = "locked-user";
    SiteListManager loaded(secrets, folder());
    EXPECT_EQ(loaded.siteList()[0]->password, "");
    EXPECT_EQ(loaded.siteList()[1]->password, "pb");
}

TEST_F(Stores, AZeroByteListLoadsEmptyAndIsOverwrittenByTheNextChange) {
    ASSERT_TRUE(QDir().mkpath(folder()));
    writeFile(listFile(), {});
    SiteListManager manager(secrets, folder());
    EXPECT_TRUE(manager.siteList().empty());
    EXPECT_TRUE(manager.keptAsidePath().isEmpty()) << "nothing to keep in an empty file";
    ASSERT_TRUE(manager.addNewSite(site("A", "a.example")));
    EXPECT_EQ(titles(SiteListManager(secrets, folder())), QStringList{"A"});
}

TEST_F(Stores, AnUnreadableListIsKeptAsideBeforeAnythingOverwritesIt) {
    ASSERT_TRUE(QDir().mkpath(folder()));
    // Not a property list at all, then a property list of the wrong shape (a record without its login).
    SiteListManager seeded(secrets, root.filePath("seed"));
    ASSERT_TRUE(seeded.addNewSite(site("Seed", "seed.example")));
    QByteArray wrongShape = contentOf(seeded.getSiteListFilePath());
    wrongShape.replace("login", "lOgin");
    for (const QByteArray& unreadable : {QByteArray("<html>not a list</html>"), wrongShape}) {
        writeFile(listFile(), unreadable);
        SiteListManager manager(secrets, folder());
        EXPECT_TRUE(manager.siteList().empty());
        ASSERT_FALSE(manager.keptAsidePath().isEmpty());
        EXPECT_EQ(contentOf(manager.keptAsidePath()), unreadable);
        ASSERT_TRUE(manager.addNewSite(site("New", "new.example")));
        EXPECT_EQ(contentOf(manager.keptAsidePath()), unreadable);
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

    blockSaving(listFile());
    EXPECT_FALSE(manager.addNewSite(site("D", "d.example", "pd")));
    EXPECT_FALSE(manager.finishedEditingSite(site("A2", "a.example", "pa"), 0));
    EXPECT_EQ(titles(manager), (QStringList{"A", "B"}));
    manager.dialogDelete = [](const QString&, const QString&) { return true; };
    EXPECT_FALSE(manager.removeSite(*manager.siteList()[1]));
    EXPECT_EQ(titles(manager), (QStringList{"A", "B"}));
    EXPECT_EQ(delegate.sites, 2);
    EXPECT_EQ(secrets.items.count(MapSecretStore::key(SecretAttributes::of(*site("D", "d.example")))), 0u);

    EXPECT_FALSE(manager.addNewSite(site("E", "e.example"), 5)) << "no such position";
}

TEST_F(Stores, RemovalAsksEndsTheHelperAndLeavesThePasswordStored) {
    SiteListManager manager(secrets, folder());
    manager.delegate = &delegate;
    ASSERT_TRUE(manager.addNewSite(site("Twin", "one.example", "p1")));
    ASSERT_TRUE(manager.addNewSite(site("Other", "two.example", "p2")));
    ASSERT_TRUE(manager.addNewSite(site("Twin", "three.example", "p3")));

    QString askedText;
    bool answer = false;
    manager.dialogDelete = [&](const QString&, const QString& text) {
        askedText = text;
        return answer;
    };
    EXPECT_FALSE(manager.removeSite(*manager.siteList()[2]));
    EXPECT_EQ(askedText, "This will remove \"Twin\" from Folvane");
    EXPECT_EQ(manager.siteList().size(), 3u);

    auto helper = std::make_shared<HelperProcess>();
    ASSERT_TRUE(helper->start("sleep", {"600"}, "pw", QProcessEnvironment::systemEnvironment(), nullptr));
    manager.siteList()[0]->siteConnection = helper;
    answer = true;
    // Titles are looked up: of two equal titles the first goes.
    ASSERT_TRUE(manager.removeSite(*manager.siteList()[2]));
    EXPECT_EQ(manager.siteList()[0]->dirtyURL, "two.example");
    EXPECT_EQ(manager.siteList()[1]->dirtyURL, "three.example");
    const QDeadlineTimer deadline(30'000);
    while (helper->isRunning() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_FALSE(helper->isRunning());
    EXPECT_EQ(delegate.sites, 4);
    EXPECT_EQ(secrets.items.size(), 3u);

    const BaseWebsite stranger("x.example", "admin", "", "Stranger", "x.example");
    EXPECT_FALSE(manager.removeSite(stranger));
}

TEST_F(Stores, DuplicatesSkipOnlyTheGivenPosition) {
    SiteListManager manager(secrets, folder());
    ASSERT_TRUE(manager.addNewSite(site("Site", "a.example")));
    ASSERT_TRUE(manager.addNewSite(site("Blog", "b.example")));
    EXPECT_TRUE(manager.isSiteInList(*site("Site", "new.example")));
    EXPECT_TRUE(manager.isSiteInList(*site("New", "b.example")));
    EXPECT_FALSE(manager.isSiteInList(*site("site", "new.example")));
    EXPECT_FALSE(manager.isSiteInList(*site("Site", "a.example"), 0));
    EXPECT_TRUE(manager.isSiteInList(*site("Site", "b.example"), 0));
    EXPECT_TRUE(manager.isSiteInList(*site("Site", "a.example"), 7));
    EXPECT_EQ(manager.positionOfSite("Blog"), 1);
    EXPECT_EQ(manager.positionOfSite("blog"), -1);
}

TEST_F(Stores, PreferencesStartWithTheDefaultsUnderTheirTitlesIncludingTheEmptyOne) {
    {
        SharedPreferences preferences(folder());
        EXPECT_EQ(preferences.preferences().size(), 6u);
        EXPECT_EQ(preferences.strPreferences(""), "0");
        EXPECT_EQ(preferences.strPreferences("Enable caching"), "1");
        preferences.delegate = &delegate;
        ASSERT_TRUE(preferences.changePreference(SharedPreferences::sendDataUsage, 1));
        ASSERT_TRUE(preferences.changePreference("Enable caching", 0));
        EXPECT_EQ(delegate.preferences, 2);
    }
    SharedPreferences loaded(folder());
    EXPECT_EQ(loaded.value(""), 1);
    EXPECT_EQ(loaded.strPreferences("Enable caching"), "0");
    EXPECT_EQ(loaded.strPreferences("Open Finder Window on Connect"), "1");
}

TEST_F(Stores, PreferencesMissingFromTheFileTakeTheirDefaultsEverywhereAndAreWrittenBack) {
    { SharedPreferences preferences(folder()); }
    // A file written by hand with two preferences in it.
    Plist dictionary(plist_new_dict());
    plist_dict_set_item(dictionary.get(), "Enable notifications", plist_new_uint(0));
    plist_dict_set_item(dictionary.get(), "Check automatically", plist_new_uint(0));
    PropertyListFile handWritten(folder(), "preferences.plist");
    ASSERT_TRUE(handWritten.save(dictionary.get()));
    SharedPreferences preferences(folder());
    EXPECT_EQ(preferences.strPreferences("Enable notifications"), "0") << "what the file holds stays";
    EXPECT_EQ(preferences.strPreferences("Enable caching"), "1");
    EXPECT_EQ(preferences.strPreferences(""), "0");
    // The helper is told the same.
    BaseWebsite site("www.example.com", "admin", "pw", "Site", "example.com");
    EXPECT_EQ(helperCommandLine(site, preferences, "/base").arguments().mid(9, 5),
              (QStringList{"0", "1", "1", "1", "0"}));
    // And the file holds all six now.
    const Plist reread = handWritten.load();
    ASSERT_TRUE(reread);
    EXPECT_EQ(plist_dict_get_size(reread.get()), 6u);
    SharedPreferences again(folder());
    EXPECT_EQ(again.preferences(), preferences.preferences());
}

TEST_F(Stores, APreferenceThatCannotBeSavedIsRolledBack) {
    SharedPreferences preferences(folder());
    preferences.delegate = &delegate;
    blockSaving(preferencesFile());
    EXPECT_FALSE(preferences.changePreference("Enable caching", 0));
    EXPECT_EQ(preferences.value("Enable caching"), 1);
    EXPECT_FALSE(preferences.changePreference("A new one", 1));
    EXPECT_FALSE(preferences.isPrefInList("A new one"));
    EXPECT_EQ(delegate.preferences, 0);
}

TEST_F(Stores, UnreadablePreferencesAreKeptAsideAndLeaveTheDictionaryEmpty) {
    ASSERT_TRUE(QDir().mkpath(folder()));
    writeFile(preferencesFile(), "garbage");
    SharedPreferences preferences(folder());
    EXPECT_TRUE(preferences.preferences().empty());
    EXPECT_EQ(preferences.strPreferences(""), "");
    EXPECT_EQ(contentOf(preferences.keptAsidePath()), "garbage");
}
