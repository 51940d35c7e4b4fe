#include "SafeName.h"

namespace folvane {

bool isSafeComponent(const QString& name) {
    constexpr qsizetype nameMax = 255;
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(u'/') && !name.contains(QChar(0)) && name.toUtf8().size() <= nameMax;
}

} // namespace folvane
