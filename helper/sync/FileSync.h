#pragma once

#include "UploadQueue.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class QTimer;

namespace folvane {

class SiteConnectionHelper;
class WebsiteInUse;

// Turns what happens to template files on the volume into add-on requests, so that once the helper is
// idle the site holds what the volume shows:
// - every template (or file on its way to becoming one) has a local identity that follows it across
//   renames; its requests go out one at a time, in the order the user made the changes;
// - a save is uploaded once, when the file is released or after a short quiet period, with the content
//   the file has when the upload goes;
// - content counts as confirmed only when the add-on answered "success" true for it.
// All methods run on the main thread.
class FileSync : public QObject {
    Q_OBJECT
public:
    FileSync(WebsiteInUse& site, SiteConnectionHelper& client, QString mirrorFolder,
             QObject* parent = nullptr);
    ~FileSync() override;

    // Handlers of the filesystem's events; `userInfo` holds "path" or "source" and "destination".
    void createNewFileAt(const QVariantMap& userInfo);
    void saveFileData(const QVariantMap& userInfo);
    void fileReleased(const QVariantMap& userInfo);
    void deleteTemplateAt(const QVariantMap& userInfo);
    // The file branch of a move; the caller hands folders to the folder synchronisation.
    void moveTemplate(const QString& source, const QString& destination);

    // Uploads still to be made or answered, files being created, saves not yet sent.
    int pendingCount() const;
    // Sends every save at once and keeps the event loop turning until nothing is pending or `graceMs`
    // has passed.
    void settle(int graceMs);
    // Full local paths of the files whose current content the site has not confirmed.
    QStringList unconfirmedFiles() const;

    // Whether the site holds the file's current content, or an upload of it is still to come.
    enum class LocalState { confirmed, pending, unconfirmed };
    LocalState localState(const QString& path);

    // A folder was renamed or moved on the volume: what is tracked below it follows there.
    void folderMoved(const QString& from, const QString& to);
    // The site has the group that was at `from` at `to` now: the templates below are known there.
    void groupMovedOnSite(const QString& from, const QString& to);
    // The records below a folder got new group identifiers: requests use them from now on.
    void refreshGroupIDs();
    // After the records were rebuilt from the site: start again from them.
    void forgetAll();
    // Every change the user makes gets the next number; requests and folder changes wait only for those
    // made before them, so neither can ever wait for the other in a circle.
    quint64 nextOrder() { return ++lastOrder_; }
    quint64 lastOrder() const { return lastOrder_; }
    // Runs `then` once no request of a file below `folder` made before `order` is waiting or out (a group is
    // renamed, moved or deleted only once what its templates were asked to do is done); returns false,
    // without calling it, when none is.
    bool deferUntilFilesSettled(quint64 order, const QString& folder, std::function<void()> then);
    // Asked before a request of the file at `folder`/... goes out: returns true when it will call `then`
    // later, because a change of that folder (or one above) made before `order` is still to be answered by
    // the site.
    std::function<bool(quint64 order, const QString& folder, std::function<void()> then)>
        deferUntilGroupReady;
    // The path the records know the file at a volume path by (folder moves still on their way undone).
    std::function<QString(const QString& path)> recordPathOf;

    // Quiet period after the last write before a save is uploaded (when the file is not released first).
    int quietPeriodMs = 300;
    // Two reads this far apart with the same length mean a new file has stopped growing.
    int stableIntervalMs = 2000;

signals:
    void pendingCountChanged(int count);

private:
    using Key = UploadQueue::Key;
    struct Item;

    QString fullPath(const QString& volumePath) const { return mirror_ + volumePath; }
    // The local identity of the file at `path`: its own, or one made from the template record found there.
    Item* itemAt(const QString& path);
    Item* newItem(const QString& path);
    void forget(Key key);
    void scheduleUpload(Item& item, bool now);
    // Queues a request of the item, remembering when and where the user made the change behind it.
    void enqueue(Key key, UploadQueue::Kind kind, UploadQueue::Send send, const QString& movedFrom = {});
    void sendAfterFolderChanges(quint64 order, const QStringList& paths, const UploadQueue::Send& send,
                                UploadQueue::Done done);
    void enqueueMove(Key key, const QString& from, const QString& to);
    void enqueueUpdate(Key key);
    void waitUntilStable(Key key);
    void finishCreate(Key key);
    void replaceTemplate(const QString& source, const QString& destination);
    void reportPending();
    bool filesPendingBefore(quint64 order, const QString& folder) const;
    void releaseSettledFolders();

    WebsiteInUse& site_;
    SiteConnectionHelper& client_;
    QString mirror_;
    UploadQueue queue_;
    std::map<Key, std::unique_ptr<Item>> items_;
    std::map<QString, Key> keyByPath_; // where each item's file is on the volume now
    Key nextKey_ = 1;
    std::shared_ptr<std::atomic<bool>> stopping_;
    int lastPending_ = 0;
    quint64 lastOrder_ = 0;
    struct FilesWait {
        quint64 order;
        QString folder;
        std::function<void()> then;
    };
    std::vector<FilesWait> waitingForFiles_;
};

} // namespace folvane
