#pragma once

#include "core/ConnectionControl.h"

#include <QIcon>
#include <QPixmap>

// The small images of the windows. The application icon and the connection dots come with the shell's
// resources; the rest are drawn, so they stay sharp at any scale and need no icon theme (which a bare desktop
// or the offscreen platform does not have).
namespace folvane::ui::icons {

// The dot of a site row: connecting, connected, error or neutral.
QPixmap connectionDot(ConnectionState state);
// The connection test's mark: "check" when it passed, "x" when it failed.
QPixmap mark(bool passed, int size = 18);
QIcon eject();
QIcon refresh();
// The face of a site without an icon: its initial on a colour that its title decides (the same in every run).
QPixmap siteFace(const QString& title, int size = 26);
// The initial siteFace() shows: the title's first letter or digit, upper case; else its first character.
QString siteInitial(const QString& title);
// The hue (0–359) of the title's face.
int siteHue(const QString& title);
QIcon application();

} // namespace folvane::ui::icons
