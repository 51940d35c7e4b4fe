#pragma once

#include "PendingFiles.h"

#include <QObject>
#include <QString>
#include <map>
#include <set>

namespace folvane {

class NotificationBus;

// Which files of each connected site the site has not confirmed yet, as the site's helper reports them
// ("pending-files-"), and the requests about them: the list now, a refused file sent again, an eject.
class PendingFilesWatch : public QObject {
    Q_OBJECT
public:
    explicit PendingFilesWatch(NotificationBus& bus, QObject* parent = nullptr);

    // Follows the site's reports from now on and asks its helper for the list at once.
    void watch(const QString& title);
    // Whether the helper has reported since watch().
    bool hasAnswered(const QString& title) const { return files_.count(title) > 0; }
    // The last list the helper reported; empty before its first report.
    QList<PendingFile> files(const QString& title) const;
    // The site's helper no longer runs: its list is gone (a later watch() asks again).
    void forget(const QString& title);

    // Asks the helper to send a refused file (its path on the volume) again.
    void tryAgain(const QString& title, const QString& path);
    // Asks the helper to end, as ejecting it from the application would.
    void eject(const QString& title);

signals:
    void filesChanged(const QString& title);

private:
    NotificationBus& bus_;
    std::set<QString> watched_;
    std::map<QString, QList<PendingFile>> files_;
};

} // namespace folvane
