#include "Recovery.h"

#include "ConsoleLog.h"
#include "Counted.h"
#include "DesktopNotifier.h"
#include "FileManager.h"
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

QString Recovery::keep(const QStringList& files, const QDateTime& when) {
    if (files.isEmpty())
        return {};
    // A title that cannot name a folder still gets its own place.
    const QString folderTitle = paths::isSafeMountTitle(title_) ? title_ : QStringLiteral("untitled");
    const QString folder = paths::recoveryFolder(baseFolder_, folderTitle, when);
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
    const QString keptFiles = counted(kept, QStringLiteral("file"), QStringLiteral("files"));
    logLine(QStringLiteral("Kept %1 unconfirmed in %2").arg(keptFiles, folder));
    if (kept > 0)
        notifier_.notify(
            QStringLiteral("Unsaved changes kept"),
            QStringLiteral("%1 of \"%2\" that the site did not confirm %3 kept in %4")
                .arg(keptFiles, title_, kept == 1 ? QStringLiteral("was") : QStringLiteral("were"), folder),
            true, {{QStringLiteral("show-files"), QStringLiteral("Show files"), [folder] {
                        showInFileManager(folder);
                    }}});
    return kept > 0 ? folder : QString();
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
