#pragma once

#include <QString>

namespace folvane {

// Which content management system a site runs; `default_` means not known.
enum class CMS { expressionEngine, wordPress, default_ };

// The tags the add-on names its CMS with, which the helper's command line carries as well:
// "ExpressionEngine" and "Wordpress" exactly (case-sensitive). Any other text is not known.
CMS cmsFromTag(const QString& tag);
// The tag of a CMS; empty for a site of neither kind.
QString cmsTag(CMS cms);
// The CMS's name as users know it; empty for a site of neither kind.
QString cmsName(CMS cms);

} // namespace folvane
