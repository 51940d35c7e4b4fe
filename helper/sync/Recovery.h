#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace folvane {

class DesktopNotifier;

// Keeps copies of files whose content the site never confirmed, before anything removes or overwrites
// them, in <base>/Recovered/<title>/<UTC date-time>/<volume-relative path>, and tells the user where.
class Recovery {
public:
    // What one `keep` made. A file in `failed` has no copy: it must be neither overwritten nor removed.
    struct Kept {
        QString folder;     // where the copies went; empty when nothing needed a copy
        QStringList failed; // full paths inside the mirror
        bool safe() const { return failed.isEmpty(); }
    };

    Recovery(QString baseFolder, QString title, QString mirrorFolder, DesktopNotifier& notifier);

    // Copies `files` (full paths inside the mirror) into a folder of their own, never one an earlier call
    // used (two calls in the same second get two folders), and has them on disk before it returns. Links
    // and special files are no one's edit and need no copy. The notification is shown whatever the
    // notification preference.
    Kept keep(const QStringList& files, const QDateTime& when = QDateTime::currentDateTimeUtc());

    // Keeps `siteText`, the site's version of the file at `file` (a full path inside the mirror) that someone
    // else changed there, under the file's place with ".site-version" before its extension, and tells the
    // user "Changed on the site too". Returns the copy's path; empty when it could not be written.
    QString keepSiteVersion(const QString& file, const QByteArray& siteText,
                            const QDateTime& when = QDateTime::currentDateTimeUtc());

    // The files below `earlier` (a mirror folder a crashed run left) whose content `fresh` (the mirror just
    // built from the site) does not have at the same place: edits the site never got, and the files that
    // only ever lived on this computer (hidden ones, those outside every group).
    static QStringList lostEdits(const QString& earlier, const QString& fresh);

private:
    // Makes a folder for one `keep`: the time's name, or that name numbered when it is taken.
    QString newFolder(const QDateTime& when) const;
    QString folderAt(const QDateTime& when) const;

    QString baseFolder_;
    QString title_;
    QString mirror_;
    DesktopNotifier& notifier_;
};

} // namespace folvane
