#pragma once

#include <QDBusConnection>
#include <QString>
#include <optional>

namespace folvane {

// Shows desktop notifications through org.freedesktop.Notifications. Whether a notification should be
// shown at all (the user's preference) is the caller's decision. A missing notification service is
// logged, never fatal.
class DesktopNotifier {
public:
    explicit DesktopNotifier(QDBusConnection connection = QDBusConnection::sessionBus());

    // Returns whether the notification service accepted it. Waits for the service's reply (briefly)
    // so a notification sent just before the program ends is not lost. The text is shown as it is: a
    // service that reads bodies as markup gets "&", "<" and ">" as entities.
    bool notify(const QString& title, const QString& informativeText, bool critical = false);

    static inline const QString appName = QStringLiteral("Folvane 3");
    static inline const QString appIcon = QStringLiteral("folvane3");

private:
    // Whether the service lists "body-markup" among its capabilities; asked once.
    bool readsMarkup();

    QDBusConnection connection_;
    std::optional<bool> readsMarkup_;
};

} // namespace folvane
