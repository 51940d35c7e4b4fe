#pragma once

#include <QString>

namespace folvane {

// "1 change", "2 changes": a count with its noun in the number it takes.
inline QString counted(qsizetype count, const QString& one, const QString& many) {
    return QStringLiteral("%1 %2").arg(count).arg(count == 1 ? one : many);
}

} // namespace folvane
