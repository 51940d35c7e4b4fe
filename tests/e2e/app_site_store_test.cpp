// The site list and its passwords as two programs share them: the command line run many times at once and
// the application's own store, over one folder and a real Secret Service.
#include "core/SecretStore.h"
#include "core/SiteListManager.h"
#include "testkit/AppRunner.h"
#include "testkit/TestSession.h"
#include "testkit/Wait.h"

#include <gtest/gtest.h>

#undef signals
#include <libsecret/secret.h>

#include <memory>
#include <vector>

using namespace folvane;
using namespace folvane::testkit;

namespace {

class SiteStore : public ::testing::Test {
protected:
    SiteStore() {
        // libsecret in this process talks to the session's Secret Service (one test per process).
        qputenv("DBUS_SESSION_BUS_ADDRESS", session.busAddress().toUtf8());
    }

    AppRunner::Finished run(const QStringList& arguments, const QByteArray& input = {}) {
        return AppRunner::run(session, arguments, input);
    }
    QStringList addition(const QString& title, const QString& url) {
        return {"sites", "add", "--title", title, "--url", url, "--user", "admin"};
    }

    TestSession session{SessionOptions{.secretService = true}};
    SecretServiceStore secrets;
};

std::shared_ptr<BaseWebsite> site(const QString& title, const QString& url, const QString& password) {
    auto record = std::make_shared<BaseWebsite>();
    record->setNewValues(title, url, QStringLiteral("admin"), password);
    return record;
}

// How older versions stored a password: keyed on the cleaned address, without the site, and the oldest
// without the path either (`path` empty).
void storeTheOldWay(const BaseWebsite& site, const QByteArray& path, const QByteArray& password) {
    GError* error = nullptr;
    const char* protocol = site.internetProtocol == BaseWebsite::InternetProtocol::https ? "https" : "http";
    // An empty path ends the attributes before "object".
    secret_password_store_sync(SECRET_SCHEMA_COMPAT_NETWORK, SECRET_COLLECTION_DEFAULT, "old item",
                               password.constData(), nullptr, &error, "user", site.login.toUtf8().constData(),
                               "server", site.server.toUtf8().constData(), "protocol", protocol, "authtype",
                               "basic", "port", site.port, path.isEmpty() ? nullptr : "object",
                               path.constData(), nullptr);
    ASSERT_EQ(error, nullptr) << error->message;
}

// The items of this host that name no site: those of older versions.
int olderItems(const QString& server) {
    GError* error = nullptr;
    GList* items = secret_password_search_sync(SECRET_SCHEMA_COMPAT_NETWORK, SECRET_SEARCH_ALL, nullptr,
                                               &error, "server", server.toUtf8().constData(), nullptr);
    EXPECT_EQ(error, nullptr);
    int count = 0;
    for (GList* entry = items; entry; entry = entry->next) {
        GHashTable* attributes =
            secret_retrievable_get_attributes(static_cast<SecretRetrievable*>(entry->data));
        count += g_hash_table_contains(attributes, "domain") ? 0 : 1;
        g_hash_table_unref(attributes);
    }
    g_list_free_full(items, g_object_unref);
    return count;
}

QString passwordOf(SiteListManager& manager, const BaseWebsite& site) {
    BaseWebsite copy = site;
    manager.loadPassword(copy);
    return copy.password;
}

} // namespace

TEST_F(SiteStore, CommandsRunAtOnceAndTheApplicationLoseNoChange) {
    SiteListManager app(secrets, session.baseFolder());
    std::vector<std::unique_ptr<AppRunner>> adds;
    QStringList expected;
    for (int i = 0; i < 6; ++i) {
        const QString title = QStringLiteral("Site %1").arg(i);
        adds.push_back(std::make_unique<AppRunner>(
            session, addition(title, QStringLiteral("https://www.site%1.example/admin.php").arg(i)),
            "password-" + QByteArray::number(i) + '\n'));
        expected << title;
    }
    // The application changes the list while the commands run.
    ASSERT_TRUE(app.addNewSite(site("From the application", "https://www.app.example/cp", "app-password")))
        << app.lastError().toStdString();
    for (auto& add : adds) {
        ASSERT_TRUE(add->process().waitForExit(defaultTimeoutMs));
        EXPECT_EQ(add->process().exitCode(), 0) << add->process().errors().toStdString();
    }
    expected << QStringLiteral("From the application");
    QStringList listed = run({"sites", "list", "--titles"}).standardOutput.split(u'\n', Qt::SkipEmptyParts);
    listed.sort();
    expected.sort();
    EXPECT_EQ(listed, expected);

    // The application shows what the commands added, with their passwords.
    EXPECT_TRUE(waitUntil([&] { return app.siteList().size() == 7; }));
    QStringList shown;
    for (const auto& record : app.siteList()) {
        shown << record->cleanName;
        EXPECT_FALSE(passwordOf(app, *record).isEmpty()) << record->cleanName.toStdString();
    }
    shown.sort();
    EXPECT_EQ(shown, expected);
}

TEST_F(SiteStore, AnOlderVersionsItemIsTakenOverOnlyByItsOneSite) {
    const auto own = site("Own", "https://www.example.com/siteA/admin.php", "");
    const auto oldest = site("Oldest", "http://www.oldest.example/admin.php", "");
    const auto sharedC = site("C", "http://www.shared.example/c/admin.php", "");
    const auto sharedD = site("D", "http://www.shared.example/d/admin.php", "");
    // Stored for https://elsewhere.example/…: under the cleaned address, which is not where it is sent.
    const auto cleaned = site("Cleaned", "https://elsewhere.example/admin.php", "");
    storeTheOldWay(*own, "/siteA/admin.php", "own password");
    storeTheOldWay(*oldest, {}, "oldest password");
    storeTheOldWay(*sharedC, {}, "shared password");
    storeTheOldWay(*site("x", "http://www.elsewhere.example/admin.php", ""), "/admin.php",
                   "cleaned password");
    // A site of this version whose item has every attribute an older key asks for, and the site as well.
    const auto current = site("Current", "http://www.current.example/cp", "current password");
    {
        SiteListManager app(secrets, session.baseFolder());
        for (const auto& added : {own, oldest, sharedC, sharedD, cleaned, current})
            ASSERT_TRUE(app.addNewSite(added)) << app.lastError().toStdString();
    }
    SiteListManager app(secrets, session.baseFolder());
    EXPECT_EQ(passwordOf(app, *app.siteList()[0]), "own password");
    EXPECT_EQ(passwordOf(app, *app.siteList()[1]), "oldest password");
    EXPECT_EQ(passwordOf(app, *app.siteList()[2]), "") << "two sites share the older key";
    EXPECT_EQ(passwordOf(app, *app.siteList()[3]), "");
    EXPECT_EQ(passwordOf(app, *app.siteList()[4]), "");
    EXPECT_FALSE(secrets.read(*SecretAttributes::olderKeyOf(*current, true)).password)
        << "an older key never finds a site's own item";
    // Taken over: stored under the site's key, the older item gone; the others stay as they were.
    EXPECT_EQ(secrets.read(SecretAttributes::of(*own)).password, "own password");
    EXPECT_EQ(olderItems("www.example.com"), 0);
    EXPECT_EQ(olderItems("www.oldest.example"), 0);
    EXPECT_EQ(olderItems("www.shared.example"), 1);
    EXPECT_EQ(olderItems("www.elsewhere.example"), 1);
    EXPECT_EQ(passwordOf(app, *app.siteList()[0]), "own password");
}
