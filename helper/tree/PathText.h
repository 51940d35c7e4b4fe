#pragma once

#include <QString>

// Full local paths as the records hold them: "/"-separated text, no trailing "/".
namespace folvane {

inline QString parentOf(const QString& path) {
    return path.left(path.lastIndexOf(u'/'));
}
// Whether `path` lies below `folder` (the folder itself is not below itself).
inline bool isBelow(const QString& path, const QString& folder) {
    return path.size() > folder.size() && path[folder.size()] == u'/' && path.startsWith(folder);
}

inline QString nameOf(const QString& path) {
    return path.mid(path.lastIndexOf(u'/') + 1);
}

// Whether `relativePath` (inside the mirror, starting with "/") is or lies below a hidden name: nothing there
// goes to the site (a repository's or an editor's own folders).
inline bool belowHiddenName(const QString& relativePath) {
    return relativePath.contains(QStringLiteral("/."));
}

// Whether the synchronisation never sends the file at `relativePath`: files at the top level and hidden names
// (a hidden folder never becomes a group either) stay on this computer.
inline bool neverSent(const QString& relativePath) {
    return relativePath.count(u'/') < 2 || belowHiddenName(relativePath);
}

} // namespace folvane
