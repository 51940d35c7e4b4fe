#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QVariantMap>
#include <functional>
#include <map>

namespace folvane {

// Broadcast notifications on a D-Bus session bus: post, subscribe by exact name, unsubscribe.
// Every program has one instance per connection; handlers run on the thread that owns the instance
// (the main thread), in the order the bus delivers the signals.
class NotificationBus : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(const QVariantMap& userInfo)>;
    using SubscriptionId = quint64;

    explicit NotificationBus(QDBusConnection connection = QDBusConnection::sessionBus(),
                             QObject* parent = nullptr);
    ~NotificationBus() override;

    bool isConnected() const { return connection_.isConnected(); }

    // Sends the signal at once, without destination. Integers go out as int32, texts as strings.
    bool post(const QString& name, const QVariantMap& userInfo = {});
    // Returns once everything posted so far has reached the bus daemon (a round trip to it), so a
    // notification posted just before the program ends is not lost.
    void flush();
    // Matches on interface, member and the exact name (arg0), so "A" never sees "AB"'s traffic.
    SubscriptionId subscribe(const QString& name, Handler handler);
    void unsubscribe(SubscriptionId id);

private slots:
    void onSignal(const QString& name, const QVariantMap& userInfo);
    void onUnfilteredSignal(const QString& name, const QVariantMap& userInfo);

private:
    struct Subscription {
        QString name;
        Handler handler;
    };
    QDBusConnection connection_;
    std::map<SubscriptionId, Subscription> subscriptions_;
    void dispatch(const QString& name, const QVariantMap& userInfo, bool unfiltered);
    bool connectMatch(const QString& name, bool connect);

    std::map<QString, int> matchCount_; // one D-Bus match rule per distinct name
    int unfilteredNames_ = 0;
    SubscriptionId nextId_ = 1;
};

} // namespace folvane
