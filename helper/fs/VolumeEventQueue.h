#pragma once

#include "VolumeEvents.h"

#include <QObject>
#include <deque>
#include <mutex>

namespace folvane {

// Carries the volume's reports from the threads that serve it to a receiver on the thread that owns the
// queue (the main thread), in the order they were made. Each report is delivered in its own turn of the
// event loop, as a queued signal would be, so a receiver that keeps the loop turning while it waits (for an
// answer from the site, say) sees the next reports arrive meanwhile. The serving threads never wait for the
// receiver.
class VolumeEventQueue : public QObject, public VolumeEvents {
    Q_OBJECT
public:
    explicit VolumeEventQueue(QObject* parent = nullptr);

    // Main thread only. Reports made while there is no receiver are dropped.
    void setReceiver(VolumeEvents* receiver) { receiver_ = receiver; }

    // Callable from any thread: queue the report and return.
    void fileCreated(const QString& path) override { post({Kind::created, path, {}}); }
    void fileWritten(const QString& path) override { post({Kind::written, path, {}}); }
    void fileReleased(const QString& path) override { post({Kind::released, path, {}}); }
    void fileOpened(const QString& path) override { post({Kind::opened, path, {}}); }
    void moved(const QString& from, const QString& to) override { post({Kind::moved, from, to}); }
    void fileRemoved(const QString& path) override { post({Kind::removed, path, {}}); }
    void folderMade(const QString& path) override { post({Kind::folderMade, path, {}}); }
    void folderRemoved(const QString& path) override { post({Kind::folderRemoved, path, {}}); }

private:
    enum class Kind { created, written, released, opened, moved, removed, folderMade, folderRemoved };
    struct Event {
        Kind kind;
        QString path;
        QString to; // a move's destination
    };
    void post(Event event);
    void deliverNext();
    void deliver(const Event& event);

    // The only state shared with the serving threads. The owning thread is woken only when no delivery is
    // already scheduled, so a burst of reports costs one wake-up, not one each.
    std::mutex mutex_;
    std::deque<Event> pending_;
    bool scheduled_ = false;

    VolumeEvents* receiver_ = nullptr;
};

} // namespace folvane
