#pragma once

#include "ChangeOrder.h"
#include "ListCheck.h"
#include "MirrorRefresh.h"
#include "RequestScheduler.h"
#include "SiteCheck.h"
#include "TemplateFiles.h"
#include "TemplateGroups.h"
#include "fs/VolumeEvents.h"

#include <QObject>
#include <deque>
#include <functional>

namespace folvane {

class AddonClient;
class MirrorBuilder;
class Recovery;
class VolumeControl;
class WebsiteInUse;

// Keeps the site in step with the volume. It receives the volume's reports, gives every user change (file
// or folder) its place in the user's order, and has the template files and groups send the requests, each
// after the changes it depends on; it brings the mirror up to date with the site (a refresh, or with
// caching off an on-open fetch) without losing what the site has not confirmed. The records (the
// RecordTree) change only through it. Main thread only.
class SyncEngine : public QObject, public VolumeEvents {
    Q_OBJECT
public:
    struct Options {
        // Caching off: every open of a template fetches the site's version and merges it before the open
        // goes on.
        bool fetchOnOpen = false;
        // Changes get this long to reach the site before a refresh replaces the files.
        int refreshSettleMs = 20000;
        // Asked before each save: whether the site's text is looked at first (see SiteCheck).
        std::function<bool()> checkSiteBeforeSave = [] { return true; };
    };

    SyncEngine(WebsiteInUse& site, AddonClient& client, MirrorBuilder& builder, VolumeControl& volume,
               Recovery& recovery, QString mirrorFolder, Options options, QObject* parent = nullptr);

    void fileCreated(const QString& path) override;
    void fileWritten(const QString& path) override;
    void fileReleased(const QString& path) override;
    void fileOpened(const QString& path) override;
    void moved(const QString& from, const QString& to) override;
    void fileRemoved(const QString& path) override;
    void folderMade(const QString& path) override;
    void folderRemoved(const QString& path) override;

    // While paused, the volume's reports wait; resuming handles them in the order they came.
    void pause() { ++pauses_; }
    void resume();

    enum class RefreshOutcome { rebuilt, keptVolume, abandoned };
    // Downloads the list again and rebuilds the records and the mirror from it, once nothing but saves waits
    // or is out. A file whose save waits, is tried again or was refused, and a new file not
    // created yet, keep what the user made and stay unconfirmed; the site's text of such a file is kept in
    // the recovery folder when someone else made it. Keeps the volume as it is, saying why in `why`, when
    // changes keep coming or the list cannot be had; `abandoned` when the helper is ending.
    RefreshOutcome refresh(QString* why);

    // Uploads still to be made or answered, files being created, saves not yet sent.
    int pendingCount() const { return files_.pendingCount(); }
    // The files behind that count, by their path on the volume, and the files changed on the site too (a
    // save found someone else's change there; its copy was kept).
    QList<PendingFile> pendingFiles() const;
    // The user asks to send a file the site refused (`path` on the volume) again.
    void tryAgain(const QString& path);
    // Whether any change, of a file or a folder, is still on its way to the site.
    bool hasChangesPending() const;
    // For the end: lets go of a refresh's hold on the volume, sends every save at once, gives what is out
    // `graceMs` to be answered, then keeps whatever the site has not confirmed in the recovery folder. False
    // when a copy failed: the mirror must stay.
    bool finish(int graceMs);

    TemplateFiles& files() { return files_; }
    RequestScheduler& scheduler() { return scheduler_; }
    ListCheck& listCheck() { return listCheck_; }

signals:
    void pendingCountChanged(int count);
    void pendingFilesChanged(const QList<PendingFile>& files);

private:
    QString fullPath(const QString& volumePath) const { return mirror_ + volumePath; }
    // True when the report must wait for `resume`; it is then kept to be handled there.
    bool held(std::function<void()> report);
    void logEvent(const QString& name, const QVariantMap& details) const;
    void mergeSiteVersion(const Json& answer, const QString& file);
    // Keeps events flowing until `condition` holds, `ms` have passed or the end began; whether it holds.
    bool waitUntil(const std::function<bool()>& condition, int ms);
    // Posts the pending list when it differs from the one posted last.
    void reportFiles();

    WebsiteInUse& site_;
    AddonClient& client_;
    VolumeControl& volume_;
    Recovery& recovery_;
    const QString mirror_;
    const Options options_;
    ChangeOrder order_;
    ListCheck listCheck_;
    RequestScheduler scheduler_;
    SiteCheck siteCheck_;
    TemplateFiles files_;
    TemplateGroups groups_;
    MirrorRefresh mirrorRefresh_;
    int pauses_ = 0;
    bool holding_ = false; // a refresh holds the volume's changes
    bool ending_ = false;
    std::deque<std::function<void()>> held_;
    QList<PendingFile> lastFiles_;
};

} // namespace folvane
