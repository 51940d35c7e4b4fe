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

// The event a program sends when analytics starts; its category is always "Live".
struct StartEvent {
    QString event;
    QString label;
    std::optional<qint64> value;
    // The application's: "Launch", its version, and the number of sites the user keeps.
    static StartEvent launch(int siteCount);
    // A helper's, once per connection: "Connect" and the site's CMS.
    static StartEvent connect(const QString& cms);
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

    // Sends the program's start event and makes sure the user defaults hold a user UUID.
    void startGoogleAnalytics(const StartEvent& start);
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
