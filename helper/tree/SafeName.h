#pragma once

#include <QString>

namespace folvane {

// True when the add-on's name can be used as one file or folder name inside the mirror: not empty, not
// "." or "..", no "/" or NUL, and short enough for the filesystem (255 bytes). Anything else could
// reach outside the mirror folder or fail half-way, so it is skipped.
bool isSafeComponent(const QString& name);

// The name as a log line shows it: control characters as \xHH, and a byte the add-on sent that was not
// UTF-8 (read as U+0000 and its two hex digits) as that byte, \xHH.
QString shownName(const QString& name);

} // namespace folvane
