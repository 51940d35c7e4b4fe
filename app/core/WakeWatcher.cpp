#include "WakeWatcher.h"

namespace folvane {

namespace {
const QString logindService = QStringLiteral("org.freedesktop.login1");
const QString logindPath = QStringLiteral("/org/freedesktop/login1");
const QString logindInterface = QStringLiteral("org.freedesktop.login1.Manager");
const QString prepareForSleep = QStringLiteral("PrepareForSleep");
const QString screenSaverInterface = QStringLiteral("org.freedesktop.ScreenSaver");
const QString activeChanged = QStringLiteral("ActiveChanged");
} // namespace

WakeWatcher::WakeWatcher(QDBusConnection sessionBus, QDBusConnection systemBus, QObject* parent)
    : QObject(parent), sessionBus_(std::move(sessionBus)), systemBus_(std::move(systemBus)) {
    watch(true);
}

WakeWatcher::~WakeWatcher() {
    watch(false);
}

void WakeWatcher::watch(bool on) {
    const auto change = [on, this](QDBusConnection& bus, const QString& service, const QString& path,
                                   const QString& interface, const QString& name, const char* slot) {
        if (bus.isConnected())
            on ? bus.connect(service, path, interface, name, this, slot)
               : bus.disconnect(service, path, interface, name, this, slot);
    };
    change(systemBus_, logindService, logindPath, logindInterface, prepareForSleep,
           SLOT(onPrepareForSleep(bool)));
    // Screen savers publish the signal at different object paths; any sender and path will do.
    change(sessionBus_, QString(), QString(), screenSaverInterface, activeChanged,
           SLOT(onScreenSaverActiveChanged(bool)));
}

void WakeWatcher::onPrepareForSleep(bool goingToSleep) {
    if (!goingToSleep)
        emit woke();
}

void WakeWatcher::onScreenSaverActiveChanged(bool active) {
    if (!active)
        emit woke();
}

} // namespace folvane
