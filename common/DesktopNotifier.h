#pragma once

#include <QDBusConnection>
#include <QString>

namespace folvane {

// Shows desktop notifications through org.freedesktop.Notifications. Whether a notification should be
// shown at all (the user's preference) is the caller's decision. A missing notification service is
// logged, never fatal.
class DesktopNotifier {
public:
    explicit DesktopNotifier(QDBusConnection connection = QDBusConnection::sessionBus());

    // Returns whether the notification service accepted it. Waits for the service's reply (briefly)
    // so a notification sent just before the program ends is not lost.
    bool notify(const QString& title, const QString& informativeText, bool critical = false);

    static inline const QString appName = QStringLiteral("Folvane 3");
    static inline const QString appIcon = QStringLiteral("folvane3");

private:
    QDBusConnection connection_;
};

} // namespace folvane
