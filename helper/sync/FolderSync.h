#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace folvane {

class DesktopNotifier;
class FileSync;
class SiteConnectionHelper;
class WebsiteInUse;

// Turns folder operations on the volume into template-group requests and keeps the path dictionaries
// in step, re-keying everything below a folder whose path changed. A folder whose group is still being
// created holds back what happens inside it (new subfolders, new files) until the site has answered.
// All methods run on the main thread.
class FolderSync : public QObject {
    Q_OBJECT
public:
    FolderSync(WebsiteInUse& site, SiteConnectionHelper& client, FileSync& files, DesktopNotifier& notifier,
               QString mirrorFolder, QObject* parent = nullptr);

    void createDirectoryWithPath(const QVariantMap& userInfo);
    void deleteTemplateGroup(const QVariantMap& userInfo);
    // The folder branch of a move (`source` and `destination` are full local paths).
    void moveFolderEvent(const QString& source, const QString& destination);
    void renameGroupAt(const QString& source, const QString& name);
    void moveFolder(const QString& source, const QString& destination, const QString& sourceParent,
                    const QString& destinationParent);
    void updateMovedPathsRecursive(const QString& path, const QString& groupID);
    std::optional<QStringList> getFilesAtPath(const QString& path);
    void errorNotification(const QString& title, const QString& informativeText);

    // True when `folder` (full path) waits for its group to be created; `then` runs once it is answered.
    bool deferUntilGroupReady(const QString& folder, std::function<void()> then);

    // Called for the empty "index.php" an ExpressionEngine group gets: the helper writes it into the
    // mirror itself, so the volume's caches must learn of it (volume-relative path).
    std::function<void(const QString& volumePath)> invalidate;

private:
    QString site(const QString& volumePath) const { return mirror_ + volumePath; }
    // The group at `folder` was answered: what waited for it goes now.
    void releaseGroup(const QString& folder);
    // The records follow a folder move the site confirmed.
    void moved(const QString& source, const QString& destination, const QString& sourceParent,
               const QString& destinationParent, const std::optional<QString>& newID);

    WebsiteInUse& site_;
    SiteConnectionHelper& client_;
    FileSync& files_;
    DesktopNotifier& notifier_;
    QString mirror_;
    std::map<QString, std::vector<std::function<void()>>> waitingForGroup_;
};

} // namespace folvane
