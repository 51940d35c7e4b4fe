#pragma once

#include "NotificationBus.h"

#include <QObject>
#include <QString>
#include <QVariantMap>
#include <deque>
#include <map>
#include <mutex>

namespace folvane {

// The loopback filesystem's change events, carried inside the helper from the filesystem thread to
// handlers on the main thread. Names and payloads are those of the bus (prefix + site title), and so is
// the way handlers subscribe, so a handler does not care which path carried a name; this path only
// skips the round trip through the bus daemon. Events arrive in the order they were posted, one turn of
// the event loop each, as queued signals would; a handler that keeps the loop turning while it waits
// sees the next events arrive meanwhile.
class FsEvents : public QObject {
    Q_OBJECT
public:
    using Handler = NotificationBus::Handler;
    using SubscriptionId = NotificationBus::SubscriptionId;

    // Never sent on the bus: a handle that was open for writing was closed without error, the end of
    // one save.
    static inline const QString releaseFile = QStringLiteral("releasefile-");

    // Lives on the thread that creates it (the main thread); handlers run there.
    explicit FsEvents(QString title, QObject* parent = nullptr);

    // Callable from any thread: queues delivery of `prefix + title` to the owning thread and returns.
    void post(const QString& prefix, QVariantMap userInfo);
    // By exact full name (prefix + title). Main thread only.
    SubscriptionId subscribe(const QString& name, Handler handler);
    void unsubscribe(SubscriptionId id);

private:
    struct Event {
        QString name;
        QVariantMap userInfo;
    };
    void deliverNext();
    void deliver(const QString& name, const QVariantMap& userInfo);

    const QString title_;
    // The only state shared with the posting thread. The owning thread is woken only when no delivery
    // is already scheduled, so a burst of events costs one wake-up, not one each.
    std::mutex mutex_;
    std::deque<Event> pending_;
    bool scheduled_ = false;

    std::map<QString, std::map<SubscriptionId, Handler>> handlersByName_;
    SubscriptionId nextId_ = 1;
};

} // namespace folvane
