#include "Recovery.h"

#include "ConsoleLog.h"
#include "Counted.h"
#include "DesktopNotifier.h"
#include "FileManager.h"
#include "Paths.h"
#include "fs/VolumeEvents.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace folvane {

namespace {
// Whether what was written below `folder` has reached the disk: a copy must outlive a power loss that
// comes after the original is gone.
bool flushed(const QString& folder) {
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd == -1)
        return false;
    const bool done = ::syncfs(fd) == 0;
    ::close(fd);
    return done;
}
} // namespace

Recovery::Recovery(QString baseFolder, QString title, QString mirrorFolder, DesktopNotifier& notifier)
    : baseFolder_(std::move(baseFolder)), title_(std::move(title)), mirror_(std::move(mirrorFolder)),
      notifier_(notifier) {}

QString Recovery::folderAt(const QDateTime& when) const {
    // A title that cannot name a folder still gets its own place.
    const QString folderTitle = paths::isSafeMountTitle(title_) ? title_ : QStringLiteral("untitled");
    return paths::recoveryFolder(baseFolder_, folderTitle, when);
}

QString Recovery::newFolder(const QDateTime& when) const {
    const QString named = folderAt(when);
    if (!paths::makePrivateFolder(QFileInfo(named).path()))
        return {};
    QString folder = named;
    for (int number = 2;; ++number) {
        if (::mkdir(QFile::encodeName(folder).constData(), 0700) == 0)
            return folder;
        if (errno != EEXIST)
            return {};
        folder = named + QStringLiteral(" (%1)").arg(number);
    }
}

Recovery::Kept Recovery::keep(const QStringList& files, const QDateTime& when) {
    QStringList edits;
    for (const QString& file : files) {
        // Copying a FIFO would wait for a writer forever, and a link's target is not the user's edit.
        const QFileInfo info(file);
        if (file.startsWith(mirror_ + u'/') && info.isFile() && !info.isSymLink())
            edits << file;
    }
    Kept kept;
    if (edits.isEmpty())
        return kept;
    kept.folder = newFolder(when);
    QStringList copied;
    for (const QString& file : edits) {
        const QString target = kept.folder + file.mid(mirror_.size());
        if (kept.folder.isEmpty() || !QDir().mkpath(QFileInfo(target).path()) || !QFile::copy(file, target))
            kept.failed << file;
        else
            copied << file;
    }
    if (!copied.isEmpty() && !flushed(kept.folder)) {
        logLine(QStringLiteral("Could not write the kept copies in %1 to the disk").arg(kept.folder));
        kept.failed += copied;
        copied.clear();
    }
    for (const QString& file : kept.failed)
        logLine(QStringLiteral("Could not keep ") + file + QStringLiteral(" in ") +
                (kept.folder.isEmpty() ? baseFolder_ + QStringLiteral("/Recovered") : kept.folder));
    if (copied.isEmpty())
        return kept;
    const QString keptFiles = counted(copied.size(), QStringLiteral("file"), QStringLiteral("files"));
    const QString folder = kept.folder;
    logLine(QStringLiteral("Kept %1 unconfirmed in %2").arg(keptFiles, folder));
    notifier_.notify(QStringLiteral("Unsaved changes kept"),
                     QStringLiteral("%1 of \"%2\" that the site did not confirm %3 kept in %4")
                         .arg(keptFiles, title_,
                              copied.size() == 1 ? QStringLiteral("was") : QStringLiteral("were"), folder),
                     true, {{QStringLiteral("show-files"), QStringLiteral("Show files"), [folder] {
                                 showInFileManager(folder);
                             }}});
    return kept;
}

QString Recovery::keepSiteVersion(const QString& file, const QByteArray& siteText, const QDateTime& when) {
    if (!file.startsWith(mirror_ + u'/'))
        return {};
    const QString relative = file.mid(mirror_.size());
    const qsizetype slash = relative.lastIndexOf(u'/');
    const qsizetype dot = relative.lastIndexOf(u'.');
    const qsizetype split = dot > slash + 1 ? dot : relative.size();
    const auto named = [&](int n) {
        return folderAt(when) + relative.left(split) + QStringLiteral(".site-version") +
               (n > 1 ? QStringLiteral("-%1").arg(n) : QString()) + relative.mid(split);
    };
    paths::makePrivateFolder(baseFolder_ + QStringLiteral("/Recovered"));
    // The same file changed on the site twice within a second keeps both versions.
    int n = 1;
    while (QFileInfo::exists(named(n)))
        ++n;
    const QString target = named(n);
    QFile copy(target);
    if (!QDir().mkpath(QFileInfo(target).absolutePath()) || !copy.open(QIODevice::NewOnly) ||
        copy.write(siteText) != siteText.size() || !copy.flush()) {
        logLine(QStringLiteral("Could not keep the site's version of ") + relative + QStringLiteral(" in ") +
                target + QStringLiteral(": ") + copy.errorString());
        copy.remove();
        return {};
    }
    logLine(QStringLiteral("Changed on the site too: ") + relative +
            QStringLiteral("; the site's version is kept in ") + target);
    notifier_.notify(QStringLiteral("Changed on the site too"),
                     QStringLiteral("%1 of \"%2\" was changed on the site too. Your save replaces it there; "
                                    "the site's version is kept in %3")
                         .arg(relative.mid(1), title_, target),
                     true);
    return target;
}

QStringList Recovery::lostEdits(const QString& earlier, const QString& fresh) {
    QStringList lost;
    QDirIterator it(earlier, QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        if (isRemovedOpenFile(file)) // removed by its user; only a handle kept it
            continue;
        const QString relative = file.mid(earlier.size());
        QFile mine(file), theirs(fresh + relative);
        // A file that cannot be read cannot be compared either: its copy is tried (and the folder kept
        // when that fails too).
        if (!mine.open(QIODevice::ReadOnly) || !theirs.open(QIODevice::ReadOnly) ||
            mine.readAll() != theirs.readAll())
            lost << file;
    }
    lost.sort();
    return lost;
}

} // namespace folvane
