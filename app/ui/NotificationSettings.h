#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace folvane::ui {

// The program that opens the desktop's own notification settings.
struct NotificationSettings {
    QString program;
    QStringList arguments;

    // For the desktops named in $XDG_CURRENT_DESKTOP (colon-separated, first known wins) whose settings
    // program `findExecutable` finds; nothing where no such program is known or installed.
    static std::optional<NotificationSettings>
    forDesktop(const QString& currentDesktops, const std::function<QString(const QString&)>& findExecutable);
    // The same for this session and $PATH.
    static std::optional<NotificationSettings> ofThisSession();

    bool operator==(const NotificationSettings&) const = default;
};

} // namespace folvane::ui
