#pragma once

#include <QObject>
#include <QString>
#include <optional>

class QNetworkAccessManager;

namespace folvane {

// Where usage events go: the relay's host and the analytics property it forwards to.
struct AnalyticsRelay {
    QString host; // empty: no event is ever sent
    QString propertyId;
    // The values this build was configured with (none by default).
    static AnalyticsRelay ofThisBuild();
};

// Anonymous usage events, each one plain GET of the relay's "/gafolvane" address whose answer is ignored.
// Started only when the user has opted in; nothing is sent when the build has no relay host.
class GoogleAnalytics : public QObject {
    Q_OBJECT
public:
    static inline const QString GAName = QStringLiteral("Folvane3");
    static inline const QString userUUIDKey = QStringLiteral("User UUID");

    explicit GoogleAnalytics(AnalyticsRelay relay = AnalyticsRelay::ofThisBuild(), QObject* parent = nullptr);

    // "http://<host>/gafolvane?id=<property>&name=Folvane3&version=<version>"; empty without a host.
    static QString pingURLFor(const AnalyticsRelay& relay, const QString& version);
    // The event's address: the ping address with "ca", and "ev", "la", "va" when given and not empty.
    // Empty when the ping address is.
    static QString eventAddress(const QString& pingURL, const QString& category, const QString& event,
                                const QString& label, std::optional<qint64> value);

    // The application's start event (category "Live", event "Launch", label the version, value the
    // number of sites); makes sure the user defaults hold a user UUID.
    void startGoogleAnalytics(int siteCount);
    void stopGoogleAnalytics() { isOn_ = false; }
    bool isOn() const { return isOn_; }
    void sendEvent(const QString& category, const QString& event, const QString& label,
                   std::optional<qint64> value = std::nullopt);
    static void initUUIDIfNeeded();

private:
    void doPingURL(const QString& address);

    AnalyticsRelay relay_;
    QString pingURL_;
    bool isOn_ = false;
    QNetworkAccessManager* manager_;
};

} // namespace folvane
