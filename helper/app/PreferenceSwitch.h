#pragma once

#include <QString>

namespace folvane {

// One on/off preference of the application's "preferences.plist" in `supportFolder` (a dictionary of whole
// numbers; 1 is on), read afresh at each call, so that a change made while the site is connected counts at
// once. `byDefault` when the file, the key or a readable value is missing.
bool preferenceSwitch(const QString& supportFolder, const QString& key, bool byDefault);

} // namespace folvane
