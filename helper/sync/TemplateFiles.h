#pragma once

#include "ChangeOrder.h"
#include "FileIdentities.h"
#include "GrowthWait.h"
#include "PendingFiles.h"
#include "PendingView.h"
#include "ReplaceGrace.h"
#include "RequestScheduler.h"
#include "SiteCheck.h"
#include "TemplateRequests.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <map>
#include <memory>
#include <optional>
#include <set>

class QTimer;

namespace folvane {

class AddonClient;
struct AddonResult;
class WebsiteInUse;

// The template files of the synchronisation: turns what happens to them on the volume into template
// requests (saves here, the rest in TemplateRequests), so that once the helper is idle the site holds what
// the volume shows:
// - every template (or file on its way to becoming one) has a local identity that follows it across
//   renames (see FileIdentities), also when an editor replaces its file (see ReplaceGrace);
// - a new file is created on the site once it stopped growing;
// - a save is uploaded once, when the file is released or after a short quiet period, with the content
//   the file has when the upload goes.
// Paths are full local paths inside the mirror folder. All methods run on the main thread.
class TemplateFiles : public QObject {
    Q_OBJECT
public:
    TemplateFiles(WebsiteInUse& site, AddonClient& client, ChangeOrder& order, RequestScheduler& queue,
                  SiteCheck& siteCheck, QString mirrorFolder, QObject* parent = nullptr);
    ~TemplateFiles() override;

    void created(const QString& file);
    void written(const QString& file);
    void released(const QString& file);
    void removed(const QString& file);
    void moved(const QString& source, const QString& destination);

    // Files whose content the site has not confirmed yet: uploads still to be made or answered, files being
    // created, saves not yet sent, and saves or creates the site refused (until a save of them is confirmed).
    int pendingCount() const { return view_.pendingCount(); }
    // The same files by name (below the volume, in order), each with where its upload stands.
    QList<PendingFile> pendingFiles() const { return view_.pendingFiles(); }
    // Sends a file the site refused again, as a new save would; false when `file` is not one the site refused
    // (or it is on its way again already).
    bool tryAgain(const QString& file);
    // Whether a request, a save or a create is still on its way (what the site refused is not).
    bool changesOnTheWay() const { return view_.changesOnTheWay(); }
    // Sends every save waiting for its quiet period at once.
    void sendSaves();
    // Lets every name within the replace grace go and sends every create and save waiting, at once.
    void sendAll();
    // The files whose current content the site has not confirmed (files it is never sent are not among them).
    QStringList unconfirmedFiles() const { return view_.unconfirmedFiles(); }
    // The files the synchronisation never sends to the site (top level, hidden names).
    QStringList localOnlyFiles() const { return view_.localOnlyFiles(); }
    LocalState localState(const QString& file);

    // A folder was renamed or moved on the volume: what is tracked below it follows there.
    void folderMoved(const QString& from, const QString& to);
    // The site has the group that was at `from` at `to` now: the templates below are known there, with the
    // group identifiers their records hold now.
    void groupMovedOnSite(const QString& from, const QString& to);
    void refreshGroupIDs();
    // Whether a refresh may rebuild the mirror: nothing but saves waits or is out (their files are left as
    // they are), and no name is within the replace grace.
    bool settledForRefresh() const;
    // The files a refresh must leave as they are, each as its save's check would see it: a save waiting,
    // out again or refused, a new file not created yet.
    std::map<QString, SiteCheck::Save> unsettledFiles() const { return view_.unsettledFiles(); }
    // A refresh found the site holding `text` for the template of `file`.
    void siteHolds(const QString& file, const ContentDigest& text);
    // After the records were rebuilt from the site: start again from them, except for the files `kept`.
    void forgetAllBut(const std::set<QString>& kept);
    // The files below `folder` are no templates any more (it was hidden).
    void forgetBelow(const QString& folder);
    // After the site's version replaced the file: start again from its record.
    void forgetFile(const QString& file);

    // A template whose file is renamed away or removed keeps its identity when the name is taken again within
    // this long (how vim, JetBrains IDEs and git replace a file); only then does the rename or delete go out.
    int replaceGraceMs = 2000;
    // What waits for the grace below `folder` (every folder: empty) goes now: the folder itself changes.
    void letGoBelow(const QString& folder);

    // Quiet period after the last write before a save is uploaded (when the file is not released first).
    int quietPeriodMs = 300;
    // Two reads this far apart with the same length mean a new file has stopped growing.
    int stableIntervalMs = 2000;

    // pendingFilesMayHaveChanged comes at most this often, so a burst of changes costs one list.
    int filesReportMs = 200;

signals:
    void pendingCountChanged(int count);
    // What pendingFiles() returns may be different now.
    void pendingFilesMayHaveChanged();

private:
    using Key = FileIdentities::Key;

    // The local identity of the file at `path`: its own, or one made from the template record found there.
    LocalFile* itemAt(const QString& path);
    // Waits until a new file stops growing, then sends its create.
    void startCreate(LocalFile& item);
    void forget(Key key);
    void scheduleUpload(LocalFile& item, bool now);
    // The save reads the file's content when it goes, and skips what the site has already.
    void save(Key key);
    // What goes when the save's turn comes: nothing when the site has the content (or the file is gone or
    // no regular one), else the site check first.
    void checkSave(Key key, RequestScheduler::Done done);
    // Sends the save of `data` (read when the save went) once the site check let it go.
    void sendSave(Key key, const QByteArray& data, const ContentDigest& digest, RequestScheduler::Done done);
    // What the site's answer to a save changes: the confirmed content, or what it may hold now.
    void saveAnswered(LocalFile& file, const ContentDigest& digest, const AddonResult& result);
    void replaceTemplate(const QString& source, const QString& destination);
    // The template whose file left `path` (renamed to `renamedTo`, or removed when that is empty) waits for
    // the grace before its rename or delete goes out.
    void holdAway(const QString& path, Key key, const QString& renamedTo);
    // The grace of a name is over: the rename or delete goes out.
    void graceOver(const QString& path, const ReplaceGrace::Away& away);
    // The name is taken again within the grace: the template's file is at `path` again. False when no
    // template left `path` a moment ago.
    bool reclaim(const QString& path);
    void reportPending();

    WebsiteInUse& site_;
    AddonClient& client_;
    ChangeOrder& order_;
    QString mirror_;
    RequestScheduler& queue_;
    SiteCheck& siteCheck_;
    FileIdentities files_;
    ReplaceGrace* grace_;
    TemplateRequests requests_;
    PendingView view_;
    int lastPending_ = 0;
    QTimer* filesReport_;
    GrowthWait growth_; // last: its end waits for the watches' threads, which call back into this object
};

} // namespace folvane
