#pragma once

#include <QString>

namespace folvane::prefkeys {

// Stored in "preferences.plist" by the application and read by the helpers, which are not given it on
// their command line: whether a template's current text on the site is looked at before each save.
inline const QString checkSiteBeforeSave = QStringLiteral("Check the site before each save");

} // namespace folvane::prefkeys
