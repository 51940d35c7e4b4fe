#include "GoogleAnalytics.h"

#include "BuildInfo.h"
#include "ConsoleLog.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSettings>
#include <QUrl>
#include <QUuid>

namespace folvane {

AnalyticsRelay AnalyticsRelay::ofThisBuild() {
    return {QStringLiteral(FOLVANE_ANALYTICS_HOST), QStringLiteral(FOLVANE_ANALYTICS_ID)};
}

GoogleAnalytics::GoogleAnalytics(AnalyticsRelay relay, QObject* parent)
    : QObject(parent), relay_(std::move(relay)), manager_(new QNetworkAccessManager(this)) {}

QString GoogleAnalytics::pingURLFor(const AnalyticsRelay& relay, const QString& version) {
    if (relay.host.isEmpty())
        return {};
    return QStringLiteral("http://%1/gafolvane?id=%2&name=%3&version=%4")
        .arg(relay.host, relay.propertyId, GAName, version);
}

QString GoogleAnalytics::eventAddress(const QString& pingURL, const QString& category, const QString& event,
                                      const QString& label, std::optional<qint64> value) {
    if (pingURL.isEmpty())
        return {};
    QString address = pingURL + (pingURL.contains(u'?') ? u'&' : u'?') + QStringLiteral("ca=") + category;
    if (!event.isEmpty())
        address += QStringLiteral("&ev=") + event;
    if (!label.isEmpty())
        address += QStringLiteral("&la=") + label;
    if (value)
        address += QStringLiteral("&va=") + QString::number(*value);
    return address;
}

StartEvent StartEvent::launch(int siteCount) {
    return {QStringLiteral("Launch"), QString::fromUtf8(build::appVersion), siteCount};
}

StartEvent StartEvent::connect(const QString& cms) {
    return {QStringLiteral("Connect"), cms, std::nullopt};
}

void GoogleAnalytics::startGoogleAnalytics(const StartEvent& start) {
    pingURL_ = pingURLFor(relay_, QString::fromUtf8(build::appVersion));
    sendEvent(QStringLiteral("Live"), start.event, start.label, start.value);
    initUUIDIfNeeded();
    isOn_ = true;
}

void GoogleAnalytics::sendEvent(const QString& category, const QString& event, const QString& label,
                                std::optional<qint64> value) {
    const QString address = eventAddress(pingURL_, category, event, label, value);
    if (!address.isEmpty())
        QMetaObject::invokeMethod(this, [this, address] { doPingURL(address); });
}

void GoogleAnalytics::initUUIDIfNeeded() {
    QSettings defaults(QStringLiteral("Folvane"), QStringLiteral("Folvane 3"));
    if (!defaults.contains(userUUIDKey))
        defaults.setValue(userUUIDKey, QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
}

void GoogleAnalytics::doPingURL(const QString& address) {
    // Escapes what a query may not hold (blanks, say) and keeps the address's own separators.
    const QUrl url = QUrl::fromEncoded(QUrl::toPercentEncoding(address, "!$&'()*+,;=:@/?"), QUrl::StrictMode);
    if (!url.isValid()) {
        logLine(QStringLiteral("Failed to generate URL from ") + address);
        return;
    }
    QNetworkReply* reply = manager_->get(QNetworkRequest(url));
    connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
}

} // namespace folvane
