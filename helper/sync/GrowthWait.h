#pragma once

#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class QObject;

namespace folvane {

// One new file being watched until it stops growing. The main thread moves the path when the file is
// renamed and cancels the wait when it no longer matters.
class GrowthWatch {
public:
    explicit GrowthWatch(QString path) : path_(std::move(path)) {}
    QString path() const;
    void moveTo(const QString& path);
    void cancel() { cancelled_ = true; }
    bool cancelled() const { return cancelled_; }

private:
    mutable std::mutex mutex_;
    QString path_;
    std::atomic<bool> cancelled_{false};
};

// Waits for new files to stop growing: two reads of the size `intervalMs` apart that agree. The sizes are
// read off the main thread so event delivery never waits for a copy to end. Destroying it ends every wait
// and waits for their threads; declare it last, so that it goes first.
class GrowthWait {
public:
    explicit GrowthWait(QObject* context);
    ~GrowthWait();
    GrowthWait(const GrowthWait&) = delete;
    GrowthWait& operator=(const GrowthWait&) = delete;

    // Watches `path`; `stable` runs on the context's thread once the file stopped growing, unless the watch
    // was cancelled first.
    std::shared_ptr<GrowthWatch> watch(const QString& path, int intervalMs, std::function<void()> stable);

private:
    QObject* context_;
    std::shared_ptr<std::atomic<bool>> stopping_;
};

} // namespace folvane
