#pragma once

#include <QString>

namespace folvane {

// Opens `folder` in the desktop's file manager (xdg-open); a failure is logged. Returns whether the
// opener started.
bool showInFileManager(const QString& folder);

} // namespace folvane
