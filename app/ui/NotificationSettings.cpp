#include "NotificationSettings.h"

#include <QStandardPaths>
#include <vector>

namespace folvane::ui {

namespace {

struct KnownDesktop {
    QString name; // as in XDG_CURRENT_DESKTOP, compared without case
    QString program;
    QStringList arguments;
};

const std::vector<KnownDesktop>& knownDesktops() {
    static const std::vector<KnownDesktop> desktops = {
        {QStringLiteral("GNOME"), QStringLiteral("gnome-control-center"), {QStringLiteral("notifications")}},
        {QStringLiteral("Unity"), QStringLiteral("gnome-control-center"), {QStringLiteral("notifications")}},
        {QStringLiteral("Budgie"), QStringLiteral("gnome-control-center"), {QStringLiteral("notifications")}},
        {QStringLiteral("KDE"), QStringLiteral("systemsettings"), {QStringLiteral("kcm_notifications")}},
        {QStringLiteral("KDE"), QStringLiteral("systemsettings5"), {QStringLiteral("kcm_notifications")}},
        {QStringLiteral("XFCE"), QStringLiteral("xfce4-notifyd-config"), {}},
        {QStringLiteral("X-Cinnamon"),
         QStringLiteral("cinnamon-settings"),
         {QStringLiteral("notifications")}},
        {QStringLiteral("MATE"), QStringLiteral("mate-notification-properties"), {}},
        {QStringLiteral("LXQt"), QStringLiteral("lxqt-config-notificationd"), {}},
    };
    return desktops;
}

} // namespace

std::optional<NotificationSettings>
NotificationSettings::forDesktop(const QString& currentDesktops,
                                 const std::function<QString(const QString&)>& findExecutable) {
    for (const QString& desktop : currentDesktops.split(u':', Qt::SkipEmptyParts))
        for (const KnownDesktop& known : knownDesktops()) {
            if (desktop.compare(known.name, Qt::CaseInsensitive) != 0)
                continue;
            const QString program = findExecutable(known.program);
            if (!program.isEmpty())
                return NotificationSettings{program, known.arguments};
        }
    return std::nullopt;
}

std::optional<NotificationSettings> NotificationSettings::ofThisSession() {
    return forDesktop(qEnvironmentVariable("XDG_CURRENT_DESKTOP"),
                      [](const QString& name) { return QStandardPaths::findExecutable(name); });
}

} // namespace folvane::ui
