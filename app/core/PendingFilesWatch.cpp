#include "PendingFilesWatch.h"

#include "BusNames.h"
#include "NotificationBus.h"

namespace folvane {

PendingFilesWatch::PendingFilesWatch(NotificationBus& bus, QObject* parent) : QObject(parent), bus_(bus) {}

void PendingFilesWatch::watch(const QString& title) {
    if (watched_.insert(title).second)
        bus_.subscribe(bus::named(bus::pendingFiles, title), [this, title](const QVariantMap& userInfo) {
            const std::optional<QString> files = bus::textIn(userInfo, bus::keyFiles);
            if (!files)
                return;
            files_[title] = pendingFilesFrom(*files);
            emit filesChanged(title);
        });
    bus_.post(bus::named(bus::listPending, title));
}

QList<PendingFile> PendingFilesWatch::files(const QString& title) const {
    const auto it = files_.find(title);
    return it == files_.end() ? QList<PendingFile>() : it->second;
}

void PendingFilesWatch::forget(const QString& title) {
    if (files_.erase(title) > 0)
        emit filesChanged(title);
}

void PendingFilesWatch::tryAgain(const QString& title, const QString& path) {
    bus_.post(bus::named(bus::retry, title), {{bus::keyPath, path}});
}

void PendingFilesWatch::eject(const QString& title) {
    bus_.post(bus::named(bus::eject, title));
}

} // namespace folvane
