#pragma once

// Every entry below a folder, hidden ones included, by its path relative to the folder: a file's content,
// "<folder>", or "-> " and a link's target (relative to the folder when it points inside).
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <map>

namespace folvane::testsupport {

inline std::map<QString, QByteArray> treeBelow(const QString& root) {
    std::map<QString, QByteArray> entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        QFile file(info.filePath());
        entries[info.filePath().mid(root.size())] =
            info.isSymLink()                 ? "-> " + info.symLinkTarget().mid(root.size()).toUtf8()
            : info.isDir()                   ? QByteArray("<folder>")
            : file.open(QIODevice::ReadOnly) ? file.readAll()
                                             : QByteArray("<unreadable>");
    }
    return entries;
}

} // namespace folvane::testsupport
