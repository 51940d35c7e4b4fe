#include "GrowthWait.h"

#include <QFile>
#include <QObject>
#include <QThreadPool>
#include <chrono>
#include <sys/stat.h>
#include <thread>

namespace folvane {

namespace {
qint64 sizeOf(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? static_cast<qint64>(info.st_size) : -1;
}
} // namespace

QString GrowthWatch::path() const {
    std::lock_guard lock(mutex_);
    return path_;
}

void GrowthWatch::moveTo(const QString& path) {
    std::lock_guard lock(mutex_);
    path_ = path;
}

GrowthWait::GrowthWait(QObject* context)
    : context_(context), stopping_(std::make_shared<std::atomic<bool>>(false)) {}

GrowthWait::~GrowthWait() {
    stopping_->store(true);
    QThreadPool::globalInstance()->waitForDone();
}

std::shared_ptr<GrowthWatch> GrowthWait::watch(const QString& path, int intervalMs,
                                               std::function<void()> stable) {
    auto watch = std::make_shared<GrowthWatch>(path);
    QThreadPool::globalInstance()->start(
        [context = context_, watch, stopping = stopping_, intervalMs, stable = std::move(stable)] {
            const auto interrupted = [&] { return watch->cancelled() || stopping->load(); };
            qint64 previous = sizeOf(watch->path());
            for (;;) {
                for (int waited = 0; waited < intervalMs && !interrupted(); waited += 50)
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                if (interrupted())
                    return;
                const qint64 now = sizeOf(watch->path());
                if (now == previous)
                    break;
                previous = now;
            }
            QMetaObject::invokeMethod(context, stable, Qt::QueuedConnection);
        });
    return watch;
}

} // namespace folvane
