#pragma once

// Whole files in the tests' own folders: their bytes and their permission bits.

#include <QFile>
#include <sys/stat.h>

namespace folvane::testsupport {

// A file's bytes; "<unreadable>" when it cannot be read, so that a missing file never passes for an empty
// one.
inline QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// Replaces a file's bytes, making the file; false when they cannot all be written.
inline bool writeAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// A path's permission bits; 0777 when it cannot be looked at (no test expects that).
inline mode_t permissionsOf(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 0777 : 0777u;
}

} // namespace folvane::testsupport
