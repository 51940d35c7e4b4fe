#include "FsEvents.h"

#include <QMetaObject>
#include <vector>

namespace folvane {

FsEvents::FsEvents(QString title, QObject* parent) : QObject(parent), title_(std::move(title)) {}

void FsEvents::post(const QString& prefix, QVariantMap userInfo) {
    {
        std::lock_guard lock(mutex_);
        pending_.push_back({prefix + title_, std::move(userInfo)});
        if (std::exchange(scheduled_, true))
            return;
    }
    QMetaObject::invokeMethod(this, &FsEvents::deliverNext, Qt::QueuedConnection);
}

void FsEvents::deliverNext() {
    Event next;
    bool more = false;
    {
        std::lock_guard lock(mutex_);
        if (pending_.empty()) {
            scheduled_ = false;
            return;
        }
        next = std::move(pending_.front());
        pending_.pop_front();
        more = scheduled_ = !pending_.empty();
    }
    // Scheduled before the handler runs, so a handler's nested event loop delivers the next event.
    if (more)
        QMetaObject::invokeMethod(this, &FsEvents::deliverNext, Qt::QueuedConnection);
    deliver(next.name, next.userInfo);
}

FsEvents::SubscriptionId FsEvents::subscribe(const QString& name, Handler handler) {
    const SubscriptionId id = nextId_++;
    handlersByName_[name].emplace(id, std::move(handler));
    return id;
}

void FsEvents::unsubscribe(SubscriptionId id) {
    for (auto it = handlersByName_.begin(); it != handlersByName_.end(); ++it) {
        if (it->second.erase(id) == 0)
            continue;
        if (it->second.empty())
            handlersByName_.erase(it);
        return;
    }
}

void FsEvents::deliver(const QString& name, const QVariantMap& userInfo) {
    const auto found = handlersByName_.find(name);
    if (found == handlersByName_.end())
        return;
    // A handler may subscribe or unsubscribe while it runs: take the ids first, look each up again.
    std::vector<SubscriptionId> ids;
    for (const auto& entry : found->second)
        ids.push_back(entry.first);
    for (SubscriptionId id : ids) {
        const auto handlers = handlersByName_.find(name);
        if (handlers == handlersByName_.end())
            return;
        const auto handler = handlers->second.find(id);
        if (handler == handlers->second.end())
            continue;
        Handler call = handler->second; // the handler may unsubscribe itself
        call(userInfo);
    }
}

} // namespace folvane
