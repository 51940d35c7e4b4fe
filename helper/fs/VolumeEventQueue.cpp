#include "VolumeEventQueue.h"

#include <QMetaObject>
#include <utility>

namespace folvane {

VolumeEventQueue::VolumeEventQueue(QObject* parent) : QObject(parent) {}

void VolumeEventQueue::post(Event event) {
    {
        std::lock_guard lock(mutex_);
        pending_.push_back(std::move(event));
        if (std::exchange(scheduled_, true))
            return;
    }
    QMetaObject::invokeMethod(this, &VolumeEventQueue::deliverNext, Qt::QueuedConnection);
}

void VolumeEventQueue::deliverNext() {
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
    // Scheduled before the receiver runs, so a receiver's nested event loop delivers the next report.
    if (more)
        QMetaObject::invokeMethod(this, &VolumeEventQueue::deliverNext, Qt::QueuedConnection);
    deliver(next);
}

void VolumeEventQueue::deliver(const Event& event) {
    if (!receiver_)
        return;
    VolumeEvents& to = *receiver_;
    switch (event.kind) {
    case Kind::created:
        return to.fileCreated(event.path);
    case Kind::written:
        return to.fileWritten(event.path);
    case Kind::released:
        return to.fileReleased(event.path);
    case Kind::opened:
        return to.fileOpened(event.path);
    case Kind::moved:
        return to.moved(event.path, event.to);
    case Kind::removed:
        return to.fileRemoved(event.path);
    case Kind::folderMade:
        return to.folderMade(event.path);
    case Kind::folderRemoved:
        return to.folderRemoved(event.path);
    }
}

} // namespace folvane
