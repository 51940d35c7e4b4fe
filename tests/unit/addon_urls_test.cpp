#include "DesktopNotifier.h"
#include "NotificationBus.h"
#include "addon/AddonUrls.h"
#include "addon/HttpAddonClient.h"
#include "addon/HttpClient.h"

#include "QtPrinters.h"
#include <QDBusConnection>

#include <gtest/gtest.h>

using namespace folvane;

namespace {

// A client whose bus is not connected: enough for everything that does not send.
struct OfflineClient {
    explicit OfflineClient(const QString& url, CMS cms) {
        site.url = url;
        site.cleanName = QStringLiteral("Site");
        site.cms = cms;
        helper = std::make_unique<HttpAddonClient>(site, http, bus, notifier, HttpAddonClient::Options{});
    }
    WebsiteInUse site;
    HttpClient http;
    NotificationBus bus{QDBusConnection(QStringLiteral("not-connected"))};
    DesktopNotifier notifier{QDBusConnection(QStringLiteral("not-connected"))};
    std::unique_ptr<HttpAddonClient> helper;
};

} // namespace

TEST(AddonUrls, ActionUrlsPerCms) {
    OfflineClient ee(QStringLiteral("https://h.example/admin.php?D=cp&module=x"), CMS::expressionEngine);
    EXPECT_EQ(ee.helper->urls.getStatus, "https://h.example/admin.php?D=cp&module=x&m=status");
    EXPECT_EQ(ee.helper->urls.moveTemplateGroup,
              "https://h.example/admin.php?D=cp&module=x&m=move_template_group");

    OfflineClient wp(QStringLiteral("https://h.example/wp-json/folvane"), CMS::wordPress);
    EXPECT_EQ(wp.helper->urls.getTemplates, "https://h.example/wp-json/folvane/list_all");
    EXPECT_EQ(wp.helper->urls.renameTemplate, "https://h.example/wp-json/folvane/rename_template");

    // Nothing is escaped or inserted, even for an unknown CMS or a base with blanks.
    OfflineClient unknown(QStringLiteral("http://h/a b/"), CMS::default_);
    EXPECT_EQ(unknown.helper->urls.getNewTemplate, "http://h/a b/get_template");
}

TEST(AddonUrls, ExpressionEngineSessionRewrite) {
    OfflineClient ee(QStringLiteral("https://h.example/admin.php?D=cp&module=x"), CMS::expressionEngine);
    ee.helper->setSessionID(QStringLiteral("abc"));
    EXPECT_EQ(ee.helper->urls.getTemplates, "https://h.example/S=abc/?D=cp&module=x&m=list_all");
    EXPECT_EQ(ee.helper->sessionID(), "abc");

    ee.helper->setSessionID(QStringLiteral("abc"));
    EXPECT_EQ(ee.helper->url, "https://h.example/S=abc/?D=cp&module=x");

    ee.helper->setSessionID(QStringLiteral("def"));
    EXPECT_EQ(ee.helper->urls.getTemplates, "https://h.example/S=def/?D=cp&module=x&m=list_all");
}

TEST(AddonUrls, SessionRewriteKeepsPortDropsUserAndFragment) {
    EXPECT_EQ(sessionRewrittenUrl(QStringLiteral("http://u:p@localhost:8888/ee/admin.php?/cp&x=1#top"), "s1"),
              "http://localhost:8888/S=s1/?/cp&x=1");
    EXPECT_EQ(sessionRewrittenUrl(QStringLiteral("http://[::1]:8080/admin.php?D=cp"), "s"),
              "http://[::1]:8080/S=s/?D=cp");
}

TEST(AddonUrls, SessionRewriteNeedsSchemeHostAndQuery) {
    EXPECT_FALSE(sessionRewrittenUrl(QStringLiteral("https://h.example/admin.php"), "s"));
    EXPECT_FALSE(sessionRewrittenUrl(QStringLiteral("h.example/admin.php?D=cp"), "s"));
    EXPECT_FALSE(sessionRewrittenUrl(QStringLiteral("not a url?x"), "s"));

    OfflineClient noQuery(QStringLiteral("https://h.example/admin.php"), CMS::expressionEngine);
    noQuery.helper->setSessionID(QStringLiteral("abc"));
    EXPECT_EQ(noQuery.helper->urls.getLogin, "https://h.example/admin.php&m=login");
    EXPECT_TRUE(noQuery.helper->sessionID().isEmpty());
}
