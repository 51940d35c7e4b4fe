#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace folvane {

class FileSync;
struct PathDictionaries;
class SiteConnectionHelper;
class WebsiteInUse;

// Turns folder operations on the volume into template-group requests and keeps the path dictionaries
// in step, re-keying everything below a folder whose path changed. Group requests go out one at a time, in
// the order the user made the changes, each reading the identifiers it needs when it goes (a rename or move
// changes those of everything below). A folder whose group is being created, renamed or moved holds back
// what happens inside it (new subfolders, new files, their saves) until the site has answered.
// All methods run on the main thread.
class FolderSync : public QObject {
    Q_OBJECT
public:
    FolderSync(WebsiteInUse& site, SiteConnectionHelper& client, FileSync& files, QString mirrorFolder,
               QObject* parent = nullptr);

    void createDirectoryWithPath(const QVariantMap& userInfo);
    void deleteTemplateGroup(const QVariantMap& userInfo);
    // The folder branch of a move (`source` and `destination` are full local paths).
    void moveFolderEvent(const QString& source, const QString& destination);
    // The group requests a move sends; `finished` runs once the site has answered (or nothing was sent).
    void renameGroupAt(const QString& source, const QString& name, const std::function<void()>& finished);
    void moveFolder(const QString& source, const QString& destination, const QString& sourceParent,
                    const QString& destinationParent, const std::function<void()>& finished);
    void updateMovedPathsRecursive(const QString& path, const QString& groupID);

    // True when a change of `folder` (full path) or of a folder above it, made before `order`, is still to be
    // answered by the site; `then` runs once it is.
    bool deferUntilGroupReady(quint64 order, const QString& folder, std::function<void()> then);
    // The path the records know a file or folder by: the volume's path with the moves the records do not
    // follow yet undone.
    QString recordPathOf(const QString& path) const;
    // Whether a folder change is still to be answered by the site.
    bool hasPendingChanges() const { return !pendingGroups_.empty(); }

    // Called for the empty "index.php" an ExpressionEngine group gets: the helper writes it into the
    // mirror itself, so the volume's caches must learn of it (volume-relative path).
    std::function<void(const QString& volumePath)> invalidate;

private:
    using GroupRequest = std::function<void(const std::function<void()>& done)>;
    struct PendingGroup {
        QStringList folders; // the folders the change concerns (a move's source, then its destination)
        bool isMove = false;
        bool recordsMoved = false; // the records already follow the move
        std::vector<std::function<void()>> waiting;
    };

    QString site(const QString& volumePath) const { return mirror_ + volumePath; }
    // Queues a group request for `folders`; it goes once the requests before it are answered and, when
    // `settleBelow` is given, once the requests made before it of the templates below that folder are too.
    void enqueueGroupRequest(const QStringList& folders, const QString& settleBelow, GroupRequest request,
                             bool isMove = false);
    // The records below `source` now stand below `destination`: so do the files tracked there.
    void recordsMoved(const QString& source, const QString& destination);
    void runNextGroupRequest();
    // The group a folder stands for: its record's identifier, the empty one (the top level) for the volume
    // itself, nothing for a folder that is no group.
    std::optional<QString> groupIDOf(const PathDictionaries& d, const QString& folder) const;
    // The records follow a folder move the site confirmed (the caller then refreshes the files' identifiers).
    void moved(const QString& source, const QString& destination, const QString& sourceParent,
               const QString& destinationParent, const std::optional<QString>& newID);

    WebsiteInUse& site_;
    SiteConnectionHelper& client_;
    FileSync& files_;
    QString mirror_;
    std::map<quint64, PendingGroup> pendingGroups_; // by the order of the change, until answered
    std::deque<std::function<void()>> groupRequests_;
    bool groupRequestOut_ = false;
};

} // namespace folvane
