#pragma once

#include <QDBusConnection>
#include <QObject>

namespace folvane {

// Tells when the machine has woken from sleep or the screen saver has ended: logind's
// PrepareForSleep(false) on the system bus, org.freedesktop.ScreenSaver's ActiveChanged(false) on the
// session bus. Either bus may be missing; then that source simply never fires.
class WakeWatcher : public QObject {
    Q_OBJECT
public:
    WakeWatcher(QDBusConnection sessionBus, QDBusConnection systemBus, QObject* parent = nullptr);
    ~WakeWatcher() override;

signals:
    void woke();

private slots:
    void onPrepareForSleep(bool goingToSleep);
    void onScreenSaverActiveChanged(bool active);

private:
    void watch(bool on);

    QDBusConnection sessionBus_;
    QDBusConnection systemBus_;
};

} // namespace folvane
