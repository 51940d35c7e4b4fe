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
    Recovery(QString baseFolder, QString title, QString mirrorFolder, DesktopNotifier& notifier);

    // Copies `files` (full paths inside the mirror); returns the folder they went to, or an empty text
    // when there was nothing to keep. The notification is shown whatever the notification preference.
    QString keep(const QStringList& files, const QDateTime& when = QDateTime::currentDateTimeUtc());
    // Keeps `siteText`, the site's version of the file at `file` (a full path inside the mirror) that someone
    // else changed there, under the file's place with ".site-version" before its extension, and tells the
    // user "Changed on the site too". Returns the copy's path; empty when it could not be written.
    QString keepSiteVersion(const QString& file, const QByteArray& siteText,
                            const QDateTime& when = QDateTime::currentDateTimeUtc());

    // The files in template groups below `earlier` (a mirror folder a crashed run left) whose content `fresh`
    // (the mirror just built from the site) does not have at the same place: edits the site never got.
    static QStringList lostEdits(const QString& earlier, const QString& fresh);

private:
    QString folderAt(const QDateTime& when) const;

    QString baseFolder_;
    QString title_;
    QString mirror_;
    DesktopNotifier& notifier_;
};

} // namespace folvane
