#include "DesktopNotifier.h"
#include "HttpClient.h"
#include "NotificationBus.h"
#include "addon/HttpAddonClient.h"

#include "QtPrinters.h"
#include <QDBusConnection>

#include <gtest/gtest.h>

using namespace folvane;

namespace {

// A client whose bus is not connected: enough for everything that does not send.
struct OfflineClient {
    explicit OfflineClient(const QString& url, CMS cms) {
        site.typedUrl = url;
        site.cleanName = QStringLiteral("Site");
        site.cms = cms;
        helper = std::make_unique<HttpAddonClient>(site, http, bus, notifier, HttpAddonClient::Options{});
    }
    WebsiteInUse site;
    HttpClient http{helperRequestLimit};
    NotificationBus bus{QDBusConnection(QStringLiteral("not-connected"))};
    DesktopNotifier notifier{QDBusConnection(QStringLiteral("not-connected"))};
    std::unique_ptr<HttpAddonClient> helper;
};

} // namespace

TEST(HttpAddonClient, ActionUrlsFollowTheSiteCms) {
    OfflineClient ee(QStringLiteral("https://h.example/admin.php?D=cp&module=x"), CMS::expressionEngine);
    EXPECT_EQ(ee.helper->urls.getStatus, "https://h.example/admin.php?D=cp&module=x&m=status");
    OfflineClient wp(QStringLiteral("https://h.example/wp-json/folvane"), CMS::wordPress);
    EXPECT_EQ(wp.helper->urls.renameTemplate, "https://h.example/wp-json/folvane/rename_template");
}

TEST(HttpAddonClient, ExpressionEngineSessionRewrite) {
    OfflineClient ee(QStringLiteral("https://h.example/admin.php?D=cp&module=x"), CMS::expressionEngine);
    ee.helper->setSessionID(QStringLiteral("abc"));
    EXPECT_EQ(ee.helper->urls.getTemplates, "https://h.example/S=abc/?D=cp&module=x&m=list_all");
    EXPECT_EQ(ee.helper->sessionID(), "abc");

    ee.helper->setSessionID(QStringLiteral("abc"));
    EXPECT_EQ(ee.helper->url, "https://h.example/S=abc/?D=cp&module=x");

    ee.helper->setSessionID(QStringLiteral("def"));
    EXPECT_EQ(ee.helper->urls.getTemplates, "https://h.example/S=def/?D=cp&module=x&m=list_all");
}

TEST(HttpAddonClient, ABaseWithoutQueryKeepsItsUrlsAndNoSession) {
    OfflineClient noQuery(QStringLiteral("https://h.example/admin.php"), CMS::expressionEngine);
    noQuery.helper->setSessionID(QStringLiteral("abc"));
    EXPECT_EQ(noQuery.helper->urls.getLogin, "https://h.example/admin.php&m=login");
    EXPECT_TRUE(noQuery.helper->sessionID().isEmpty());
}
