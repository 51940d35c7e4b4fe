#pragma once

#include <QString>

// Full local paths as the path dictionaries hold them: "/"-separated text, no trailing "/".
namespace folvane {

inline QString parentOf(const QString& path) {
    return path.left(path.lastIndexOf(u'/'));
}
inline QString nameOf(const QString& path) {
    return path.mid(path.lastIndexOf(u'/') + 1);
}

} // namespace folvane
