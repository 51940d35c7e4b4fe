#include "Cms.h"

namespace folvane {

CMS cmsFromTag(const QString& tag) {
    for (const CMS cms : {CMS::expressionEngine, CMS::wordPress})
        if (tag == cmsTag(cms))
            return cms;
    return CMS::default_;
}

QString cmsTag(CMS cms) {
    switch (cms) {
    case CMS::expressionEngine:
        return QStringLiteral("ExpressionEngine");
    case CMS::wordPress:
        return QStringLiteral("Wordpress");
    case CMS::default_:
        break;
    }
    return {};
}

QString cmsName(CMS cms) {
    return cms == CMS::wordPress ? QStringLiteral("WordPress") : cmsTag(cms);
}

} // namespace folvane
