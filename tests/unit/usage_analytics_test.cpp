// Usage events: the addresses they load and the one plain GET each program sends when it starts.
#include "BuildInfo.h"
#include "GoogleAnalytics.h"
#include "QtPrinters.h"
#include "testkit/Wait.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace folvane;

namespace {

// Starts analytics against a relay on loopback and returns the first request line the relay received.
QByteArray startAgainstRelay(const StartEvent& start) {
    QTcpServer relay;
    if (!relay.listen(QHostAddress::LocalHost))
        return {};
    QByteArray request;
    QObject::connect(&relay, &QTcpServer::newConnection, [&] {
        QTcpSocket* socket = relay.nextPendingConnection();
        QObject::connect(socket, &QTcpSocket::readyRead, [&, socket] {
            request += socket->readAll();
            if (request.contains("\r\n\r\n"))
                socket->write("HTTP/1.1 204 No Content\r\nConnection: close\r\n\r\n");
        });
    });
    GoogleAnalytics analytics({QStringLiteral("127.0.0.1:%1").arg(relay.serverPort()), "UA-1-2"});
    analytics.startGoogleAnalytics(start);
    EXPECT_TRUE(analytics.isOn());
    EXPECT_TRUE(testkit::waitUntil([&] { return request.contains("\r\n\r\n"); }));
    analytics.stopGoogleAnalytics();
    EXPECT_FALSE(analytics.isOn());
    return request.left(request.indexOf("\r\n"));
}

} // namespace

TEST(UsageAnalytics, EventAddressesAppendOnlyWhatIsGiven) {
    const AnalyticsRelay relay{"relay.example", "UA-123-4"};
    const QString ping = GoogleAnalytics::pingURLFor(relay, "3.0.0");
    EXPECT_EQ(ping, "http://relay.example/gafolvane?id=UA-123-4&name=Folvane3&version=3.0.0");
    EXPECT_EQ(GoogleAnalytics::eventAddress(ping, "Live", "Launch", "3.0.0", 0),
              ping + "&ca=Live&ev=Launch&la=3.0.0&va=0");
    EXPECT_EQ(GoogleAnalytics::eventAddress(ping, "Live", "", "", std::nullopt), ping + "&ca=Live");
    EXPECT_EQ(GoogleAnalytics::eventAddress("http://relay.example/gafolvane", "Live", "Launch", "", 2),
              "http://relay.example/gafolvane?ca=Live&ev=Launch&va=2");
    // No relay host configured: no address, so nothing can be sent.
    EXPECT_EQ(GoogleAnalytics::pingURLFor(AnalyticsRelay{"", "UA-123-4"}, "3.0.0"), "");
    EXPECT_EQ(GoogleAnalytics::eventAddress("", "Live", "Launch", "3.0.0", 1), "");
}

TEST(UsageAnalytics, TheLaunchEventIsOnePlainGetAndTheUserGetsAUUID) {
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    const QByteArray version = build::appVersion;
    EXPECT_EQ(startAgainstRelay(StartEvent::launch(3)),
              "GET /gafolvane?id=UA-1-2&name=Folvane3&version=" + version +
                  "&ca=Live&ev=Launch&la=" + version + "&va=3 HTTP/1.1");
    EXPECT_FALSE(QSettings("Folvane", "Folvane 3").value(GoogleAnalytics::userUUIDKey).toString().isEmpty());
}

TEST(UsageAnalytics, AHelperSendsItsSitesCmsAndNoValue) {
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    EXPECT_EQ(startAgainstRelay(StartEvent::connect("WordPress")),
              "GET /gafolvane?id=UA-1-2&name=Folvane3&version=" + QByteArray(build::appVersion) +
                  "&ca=Live&ev=Connect&la=WordPress HTTP/1.1");
}
