#pragma once

#include <QString>

namespace folvane {

// True when the add-on's name can be used as one file or folder name inside the mirror: not empty, not
// "." or "..", no "/" or NUL, and short enough for the filesystem (255 bytes). Anything else could
// reach outside the mirror folder or fail half-way, so it is skipped.
bool isSafeComponent(const QString& name);

} // namespace folvane
