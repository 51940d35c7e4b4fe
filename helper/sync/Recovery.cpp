#include "Recovery.h"

#include "ConsoleLog.h"
#include "DesktopNotifier.h"
#include "Paths.h"
#include "tree/PathText.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace folvane {

Recovery::Recovery(QString baseFolder, QString title, QString mirrorFolder, DesktopNotifier& notifier)
    : baseFolder_(std::move(baseFolder)), title_(std::move(title)), mirror_(std::move(mirrorFolder)),
      notifier_(notifier) {}

QString Recovery::folderAt(const QDateTime& when) const {
    // A title that cannot name a folder still gets its own place.
    const QString folderTitle = paths::isSafeMountTitle(title_) ? title_ : QStringLiteral("untitled");
    return paths::recoveryFolder(baseFolder_, folderTitle, when);
}

QString Recovery::keep(const QStringList& files, const QDateTime& when) {
    if (files.isEmpty())
        return {};
    const QString folder = folderAt(when);
    paths::makePrivateFolder(baseFolder_ + QStringLiteral("/Recovered"));
    int kept = 0;
    for (const QString& file : files) {
        if (!file.startsWith(mirror_ + u'/'))
            continue;
        // Copying a FIFO would wait for a writer forever, and a link's target is not the user's edit.
        if (!QFileInfo(file).isFile() || QFileInfo(file).isSymLink())
            continue;
        const QString target = folder + file.mid(mirror_.size());
        if (!QDir().mkpath(QFileInfo(target).absolutePath()) || !QFile::copy(file, target)) {
            logLine(QStringLiteral("Could not keep ") + file + QStringLiteral(" in ") + folder);
            continue;
        }
        ++kept;
    }
    logLine(QStringLiteral("Kept %1 unconfirmed file(s) in %2").arg(kept).arg(folder));
    if (kept > 0)
        notifier_.notify(QStringLiteral("Unsaved changes kept"),
                         QStringLiteral("%1 file(s) of \"%2\" that the site did not confirm were kept in %3")
                             .arg(kept)
                             .arg(title_, folder),
                         true);
    return kept > 0 ? folder : QString();
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
    QDirIterator it(earlier, QDir::Files | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        const QString relative = file.mid(earlier.size());
        if (neverSent(relative))
            continue;
        QFile mine(file), theirs(fresh + relative);
        if (!mine.open(QIODevice::ReadOnly))
            continue;
        if (!theirs.open(QIODevice::ReadOnly) || mine.readAll() != theirs.readAll())
            lost << file;
    }
    lost.sort();
    return lost;
}

} // namespace folvane
