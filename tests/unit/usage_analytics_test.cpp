// Usage events: the addresses they load and the one plain GET each program sends when it starts.
#include "BuildInfo.h"
#include "GoogleAnalytics.h"
#include "QtPrinters.h"
#include "TinyWebServer.h"
#include "testkit/Wait.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace folvane;

namespace {

// Starts analytics against a relay on loopback and returns the request line of the first request it received.
QByteArray startAgainstRelay(const StartEvent& start) {
    testsupport::TinyWebServer relay;
    GoogleAnalytics analytics({relay.base().mid(QStringLiteral("http://").size()), "UA-1-2"});
    analytics.startGoogleAnalytics(start);
    EXPECT_TRUE(analytics.isOn());
    EXPECT_TRUE(testkit::waitUntil([&] { return !relay.requests.isEmpty(); }));
    analytics.stopGoogleAnalytics();
    EXPECT_FALSE(analytics.isOn());
    const QByteArray request = relay.requests.value(0);
    return request.left(request.indexOf("\r\n"));
}

} // namespace

// What each start sends is checked below against a relay; without a relay host there is no address, so
// nothing can be sent.
TEST(UsageAnalytics, WithoutARelayHostNothingHasAnAddress) {
    EXPECT_EQ(GoogleAnalytics::pingURLFor(AnalyticsRelay{"", "UA-123-4"}, "3.0.0"), "");
    EXPECT_EQ(GoogleAnalytics::eventAddress("", "Live", "Launch", "3.0.0", 1), "");
}

// The application's launch names its count of sites; a helper's connect names its site's CMS and no value.
TEST(UsageAnalytics, EachStartIsOnePlainGetAndTheUserGetsAUUID) {
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    const QByteArray version = build::appVersion;
    const QByteArray ping = "GET /gafolvane?id=UA-1-2&name=Folvane3&version=" + version;
    EXPECT_EQ(startAgainstRelay(StartEvent::launch(3)),
              ping + "&ca=Live&ev=Launch&la=" + version + "&va=3 HTTP/1.1");
    EXPECT_FALSE(QSettings("Folvane", "Folvane 3").value(GoogleAnalytics::userUUIDKey).toString().isEmpty());
    EXPECT_EQ(startAgainstRelay(StartEvent::connect("WordPress")),
              ping + "&ca=Live&ev=Connect&la=WordPress HTTP/1.1");
}
