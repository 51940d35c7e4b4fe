#include "MountTable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <cerrno>
#include <sys/stat.h>

namespace folvane {

namespace {

// mountinfo writes blanks, tabs, line breaks and backslashes in paths as three-digit octal escapes.
QByteArray unescape(const QByteArray& field) {
    QByteArray text;
    for (qsizetype i = 0; i < field.size(); ++i) {
        bool ok = false;
        const int code = field[i] == '\\' ? field.mid(i + 1, 3).toInt(&ok, 8) : 0;
        if (ok) {
            text.append(static_cast<char>(code));
            i += 3;
        } else {
            text.append(field[i]);
        }
    }
    return text;
}

} // namespace

QString MountTable::tablePath(const QString& path) {
    const QFileInfo clean(QDir::cleanPath(QDir::current().absoluteFilePath(path)));
    // The last component is left as it is: it may be the mount itself, which must not be touched.
    const QString parent = QFileInfo(clean.path()).canonicalFilePath();
    if (parent.isEmpty())
        return clean.filePath();
    return (parent == QStringLiteral("/") ? QString() : parent) + u'/' + clean.fileName();
}

bool MountTable::listsFuseMountAt(const QString& mountPoint) {
    const QByteArray path = QFile::encodeName(tablePath(mountPoint));
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    // Fields: id, parent, device, root, mount point, options, optional fields…, "-", type, source, …
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype separator = fields.indexOf("-");
        if (fields.size() > 4 && separator > 4 && separator + 1 < fields.size() &&
            fields[separator + 1].startsWith("fuse") && unescape(fields[4]) == path)
            return true;
    }
    return false;
}

bool MountTable::hasFuseMountAt(const QString& path) {
    struct stat st;
    return listsFuseMountAt(path) ||
           (::lstat(QFile::encodeName(path).constData(), &st) == -1 && errno == ENOTCONN);
}

bool MountTable::detachFuseMountsAt(const QString& path) {
    // Each detach removes the topmost of stacked mounts; a few rounds cover any sane stack.
    for (int round = 0; round < 8 && hasFuseMountAt(path); ++round)
        QProcess::execute(QStringLiteral("fusermount3"), {QStringLiteral("-u"), QStringLiteral("-z"),
                                                          QStringLiteral("--"), tablePath(path)});
    return !hasFuseMountAt(path);
}

} // namespace folvane
