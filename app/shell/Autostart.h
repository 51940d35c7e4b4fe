#pragma once

#include <QString>
#include <optional>

namespace folvane::shell {

// "Start Folvane at login": an XDG autostart entry, $XDG_CONFIG_HOME/autostart/folvane3.desktop (default
// ~/.config/autostart). The entry itself is the setting, so the desktop's own autostart settings and the
// preferences window always agree.
namespace autostart {

// The argument the entry starts folvane3 with: the windows, opened to the tray only.
inline const QString atLoginArgument = QStringLiteral("--at-login");

QString entryPath();
bool isOn();
// Writes the entry (starting `program`) or removes it; the reason when that failed.
std::optional<QString> set(bool on, const QString& program);

} // namespace autostart
} // namespace folvane::shell
