#include "NotificationBus.h"

#include "BusNames.h"
#include "ConsoleLog.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusVariant>
#include <vector>

namespace folvane {

NotificationBus::NotificationBus(QDBusConnection connection, QObject* parent)
    : QObject(parent), connection_(std::move(connection)) {
    if (!connection_.isConnected())
        logLine(QStringLiteral("Notification bus not available: ") + connection_.lastError().message());
}

namespace {
// Qt writes the argument of a match rule without escaping; a name with an apostrophe would make the rule
// invalid. Such names are matched on interface and member only and filtered here by exact name.
bool needsUnfilteredMatch(const QString& name) {
    return name.contains(u'\'');
}
} // namespace

NotificationBus::~NotificationBus() {
    for (const auto& entry : matchCount_)
        connectMatch(entry.first, false);
}

bool NotificationBus::connectMatch(const QString& name, bool connect) {
    const bool unfiltered = needsUnfilteredMatch(name);
    // All such names share one unfiltered connection.
    if (unfiltered && (connect ? unfilteredNames_++ > 0 : --unfilteredNames_ > 0))
        return true;
    const QStringList argumentMatch = unfiltered ? QStringList() : QStringList{name};
    const char* slot =
        unfiltered ? SLOT(onUnfilteredSignal(QString, QVariantMap)) : SLOT(onSignal(QString, QVariantMap));
    return connect ? connection_.connect(QString(), bus::objectPath, bus::interfaceName, bus::member,
                                         argumentMatch, QString(), this, slot)
                   : connection_.disconnect(QString(), bus::objectPath, bus::interfaceName, bus::member,
                                            argumentMatch, QString(), this, slot);
}

bool NotificationBus::post(const QString& name, const QVariantMap& userInfo) {
    QDBusMessage message = QDBusMessage::createSignal(bus::objectPath, bus::interfaceName, bus::member);
    QVariantMap wire;
    for (auto it = userInfo.cbegin(); it != userInfo.cend(); ++it) {
        const QVariant& value = it.value();
        if (value.typeId() == QMetaType::Int || value.typeId() == QMetaType::LongLong ||
            value.typeId() == QMetaType::UInt || value.typeId() == QMetaType::ULongLong)
            wire.insert(it.key(), QVariant::fromValue(static_cast<qint32>(value.toLongLong())));
        else
            wire.insert(it.key(), value.toString());
    }
    message << name << wire;
    if (!connection_.send(message)) {
        logLine(QStringLiteral("Could not post ") + name + QStringLiteral(": ") +
                connection_.lastError().message());
        return false;
    }
    return true;
}

void NotificationBus::flush() {
    const QDBusMessage ping = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping"));
    connection_.call(ping, QDBus::Block, 2000);
}

NotificationBus::SubscriptionId NotificationBus::subscribe(const QString& name, Handler handler) {
    if (matchCount_[name]++ == 0 && !connectMatch(name, true))
        logLine(QStringLiteral("Could not subscribe to ") + name + QStringLiteral(": ") +
                connection_.lastError().message());
    const SubscriptionId id = nextId_++;
    subscriptions_.emplace(id, Subscription{name, std::move(handler)});
    return id;
}

void NotificationBus::unsubscribe(SubscriptionId id) {
    auto it = subscriptions_.find(id);
    if (it == subscriptions_.end())
        return;
    const QString name = it->second.name;
    subscriptions_.erase(it);
    if (--matchCount_[name] == 0) {
        matchCount_.erase(name);
        connectMatch(name, false);
    }
}

void NotificationBus::onSignal(const QString& name, const QVariantMap& userInfo) {
    dispatch(name, userInfo, false);
}

void NotificationBus::onUnfilteredSignal(const QString& name, const QVariantMap& userInfo) {
    dispatch(name, userInfo, true);
}

void NotificationBus::dispatch(const QString& name, const QVariantMap& userInfo, bool unfiltered) {
    // Each subscription is served by exactly one of the two connections. A handler may subscribe or
    // unsubscribe: collect the ids first and re-check each before calling it.
    if (needsUnfilteredMatch(name) != unfiltered)
        return;
    std::vector<SubscriptionId> matching;
    for (const auto& [id, sub] : subscriptions_)
        if (sub.name == name)
            matching.push_back(id);
    for (SubscriptionId id : matching) {
        auto it = subscriptions_.find(id);
        if (it == subscriptions_.end())
            continue;
        Handler handler = it->second.handler; // the handler may unsubscribe itself
        handler(userInfo);
    }
}

} // namespace folvane
