#include "DesktopNotifier.h"
#include "HelperCommandLine.h"
#include "HttpClient.h"
#include "NotificationBus.h"
#include "addon/SiteConnectionHelper.h"

#include "QtPrinters.h"
#include <QDBusConnection>

#include <gtest/gtest.h>

using namespace folvane;

namespace {

QStringList helperArgs(const QString& url) {
    HelperCommandLine commandLine;
    commandLine.typedUrl = commandLine.cleanUrl = url;
    commandLine.login = QStringLiteral("admin");
    commandLine.baseFolder = QStringLiteral("/tmp/base");
    commandLine.title = QStringLiteral("Site");
    commandLine.notifications = commandLine.defaultGroupAlert = commandLine.caching = true;
    return QStringList{"folvane3-fuse-helper"} + commandLine.arguments();
}

// A client whose bus is not connected: enough for everything that does not send.
struct OfflineClient {
    explicit OfflineClient(const QString& url, CMS cms) {
        site.url = url;
        site.cleanName = QStringLiteral("Site");
        site.cms = cms;
        helper = std::make_unique<SiteConnectionHelper>(helperArgs(url), site, http, bus, notifier);
    }
    WebsiteInUse site;
    HttpClient http{helperRequestLimit};
    NotificationBus bus{QDBusConnection(QStringLiteral("not-connected"))};
    DesktopNotifier notifier{QDBusConnection(QStringLiteral("not-connected"))};
    std::unique_ptr<SiteConnectionHelper> helper;
};

} // namespace

TEST(SiteConnectionHelper, ActionUrlsFollowTheSiteCms) {
    OfflineClient ee(QStringLiteral("https://h.example/admin.php?D=cp&module=x"), CMS::expressionEngine);
    EXPECT_EQ(ee.helper->urls.getStatus, "https://h.example/admin.php?D=cp&module=x&m=status");
    OfflineClient wp(QStringLiteral("https://h.example/wp-json/folvane"), CMS::wordPress);
    EXPECT_EQ(wp.helper->urls.renameTemplate, "https://h.example/wp-json/folvane/rename_template");
}

TEST(SiteConnectionHelper, ExpressionEngineSessionRewrite) {
    OfflineClient ee(QStringLiteral("https://h.example/admin.php?D=cp&module=x"), CMS::expressionEngine);
    ee.helper->setSessionID(QStringLiteral("abc"));
    EXPECT_EQ(ee.helper->urls.getTemplates, "https://h.example/S=abc/?D=cp&module=x&m=list_all");
    EXPECT_EQ(ee.helper->sessionID(), "abc");

    ee.helper->setSessionID(QStringLiteral("abc"));
    EXPECT_EQ(ee.helper->url, "https://h.example/S=abc/?D=cp&module=x");

    ee.helper->setSessionID(QStringLiteral("def"));
    EXPECT_EQ(ee.helper->urls.getTemplates, "https://h.example/S=def/?D=cp&module=x&m=list_all");
}

TEST(SiteConnectionHelper, ABaseWithoutQueryKeepsItsUrlsAndNoSession) {
    OfflineClient noQuery(QStringLiteral("https://h.example/admin.php"), CMS::expressionEngine);
    noQuery.helper->setSessionID(QStringLiteral("abc"));
    EXPECT_EQ(noQuery.helper->urls.getLogin, "https://h.example/admin.php&m=login");
    EXPECT_TRUE(noQuery.helper->sessionID().isEmpty());
}

TEST(SiteConnectionHelper, SwitchesAndBaseFolderComeFromTheirPositions) {
    OfflineClient client(QStringLiteral("http://h/?a"), CMS::expressionEngine);
    EXPECT_TRUE(client.helper->notificationBool);
    EXPECT_TRUE(client.helper->defaultGroupBool);
    EXPECT_TRUE(client.helper->cachingBool);
    EXPECT_EQ(client.helper->baseString, "/tmp/base");
}
