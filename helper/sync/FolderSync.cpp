#include "FolderSync.h"

#include "BusNames.h"
#include "ConsoleLog.h"
#include "FileSync.h"
#include "addon/SiteConnectionHelper.h"
#include "tree/PathText.h"
#include "tree/WebsiteInUse.h"

#include <QFile>

namespace folvane {

namespace {

void removeChild(FolderRecord& parent, const QString& child) {
    const QStringList old = parent.paths;
    parent.paths.clear();
    for (const QString& entry : old)
        if (entry != child)
            parent.paths.append(entry);
}
} // namespace

FolderSync::FolderSync(WebsiteInUse& site, SiteConnectionHelper& client, FileSync& files,
                       QString mirrorFolder, QObject* parent)
    : QObject(parent), site_(site), client_(client), files_(files), mirror_(std::move(mirrorFolder)) {}

bool FolderSync::deferUntilGroupReady(quint64 order, const QString& folder, std::function<void()> then) {
    for (auto& [made, group] : pendingGroups_) {
        if (made >= order)
            break;
        for (const QString& changed : group.folders) {
            if (folder == changed || folder.startsWith(changed + u'/')) {
                group.waiting.push_back(std::move(then));
                return true;
            }
        }
    }
    return false;
}

void FolderSync::enqueueGroupRequest(const QStringList& folders, const QString& settleBelow,
                                     GroupRequest request, bool isMove) {
    const quint64 order = files_.nextOrder();
    pendingGroups_[order].folders = folders;
    pendingGroups_[order].isMove = isMove;
    groupRequests_.push_back([this, order, settleBelow, request = std::move(request)] {
        const auto finished = [this, order] {
            // What waited for this change goes now, with the names and identifiers it left.
            const auto group = pendingGroups_.find(order);
            if (group == pendingGroups_.end())
                return; // answered already
            std::vector<std::function<void()>> waiting = std::move(group->second.waiting);
            pendingGroups_.erase(group);
            for (auto& next : waiting)
                next();
            groupRequestOut_ = false;
            runNextGroupRequest();
        };
        const auto send = [request, finished] { request(finished); };
        if (settleBelow.isEmpty() || !files_.deferUntilFilesSettled(order, settleBelow, send))
            send();
    });
    runNextGroupRequest();
}

void FolderSync::runNextGroupRequest() {
    if (groupRequestOut_ || groupRequests_.empty())
        return;
    groupRequestOut_ = true;
    std::function<void()> next = std::move(groupRequests_.front());
    groupRequests_.pop_front();
    next();
}

void FolderSync::createDirectoryWithPath(const QVariantMap& userInfo) {
    logLine(QStringLiteral("Creating Folder"));
    const std::optional<QString> path = bus::textIn(userInfo, bus::keyPath);
    if (!path)
        return;
    const QString volumePath = *path;
    const QString folder = site(volumePath), parent = parentOf(folder), name = nameOf(folder);
    logLine(name);
    // The parent lists the new folder; for a group that happens when its request goes, after the changes
    // made before it, so the parent's record is found under the name it has by then.
    const auto listInParent = [this, folder, parent] {
        return site_.withDictionaries([&](PathDictionaries& d) {
            if (auto record = d.folderDictionary.find(parent); record != d.folderDictionary.end())
                record->second.paths.append(folder);
            return groupIDOf(d, parent).value_or(QString());
        });
    };
    if (name.startsWith(u'.')) {
        listInParent();
        return;
    }
    enqueueGroupRequest({folder}, {}, [=, this](const std::function<void()>& done) {
        const QString parentID = listInParent();
        client_.createTemplateGroupAt(
            name, parentID, [=, this](std::optional<QString> groupID, std::optional<bool> special) {
                logLine(QStringLiteral("templateGroupID: ") + groupID.value_or(QStringLiteral("nil")) +
                        QStringLiteral(", isSpecial: ") +
                        (special ? (*special ? QStringLiteral("true") : QStringLiteral("false"))
                                 : QStringLiteral("nil")));
                if (groupID && special && !groupID->isEmpty()) {
                    site_.withDictionaries([&](PathDictionaries& d) {
                        d.folderDictionary[folder] = FolderRecord{name, groupID, special, {}};
                    });
                    if (site_.cms == CMS::expressionEngine) {
                        // Every ExpressionEngine group gets an index template, created like any new file.
                        QFile index(folder + QStringLiteral("/index.php"));
                        if (!index.exists() && index.open(QIODevice::WriteOnly)) {
                            index.close();
                            if (invalidate)
                                invalidate(volumePath);
                            files_.createNewFileAt(
                                {{bus::keyPath, volumePath + QStringLiteral("/index.php")}});
                        }
                    }
                }
                done();
            });
    });
}

void FolderSync::deleteTemplateGroup(const QVariantMap& userInfo) {
    const std::optional<QString> path = bus::textIn(userInfo, bus::keyPath);
    if (!path)
        return;
    const QString folder = site(*path);
    // The add-on refuses to delete a group that still holds templates: what was asked of them goes first.
    enqueueGroupRequest({folder}, folder, [this, folder](const std::function<void()>& done) {
        const std::optional<QString> groupID =
            site_.withDictionaries([&](PathDictionaries& d) -> std::optional<QString> {
                std::optional<QString> id;
                if (auto record = d.folderDictionary.find(folder); record != d.folderDictionary.end())
                    id = record->second.templateGroupID;
                if (auto parent = d.folderDictionary.find(parentOf(folder));
                    parent != d.folderDictionary.end())
                    removeChild(parent->second, folder);
                d.folderDictionary.erase(folder);
                return id;
            });
        if (!groupID)
            return done();
        client_.deleteTemplateGroupAt(*groupID, [done](const SiteConnectionHelper::Outcome&) { done(); });
    });
}

void FolderSync::moveFolderEvent(const QString& source, const QString& destination) {
    files_.folderMoved(source, destination);
    // What happens in the folder at its new place waits until the site has the group there; the group goes
    // once what was asked of its templates before is done.
    enqueueGroupRequest(
        {source, destination}, source,
        [=, this](const std::function<void()>& done) {
            const auto finished = [this, done] {
                files_.refreshGroupIDs(); // before what waited goes, so it goes with the new identifiers
                done();
            };
            if (parentOf(source) == parentOf(destination))
                renameGroupAt(source, nameOf(destination), finished);
            else
                moveFolder(source, destination, parentOf(source), parentOf(destination), finished);
        },
        true);
}

void FolderSync::renameGroupAt(const QString& source, const QString& name,
                               const std::function<void()>& finished) {
    logLine(QStringLiteral("Renaming template group"));
    const QString parent = parentOf(source), destination = parent + u'/' + name;
    const std::optional<QString> oldID =
        site_.withDictionaries([&](PathDictionaries& d) -> std::optional<QString> {
            const auto record = d.folderDictionary.find(source);
            if (record == d.folderDictionary.end())
                return std::nullopt;
            FolderRecord copy = record->second;
            const std::optional<QString> id = copy.templateGroupID;
            d.folderDictionary.erase(record);
            d.folderDictionary[destination] = copy;
            if (auto parentRecord = d.folderDictionary.find(parent);
                parentRecord != d.folderDictionary.end()) {
                removeChild(parentRecord->second, source);
                parentRecord->second.paths.append(destination);
            }
            return id;
        });
    if (!oldID)
        return finished();
    const std::optional<QString> parentID =
        site_.withDictionaries([&](PathDictionaries& d) { return groupIDOf(d, parent); });
    // ExpressionEngine keeps a group's identifier across a rename; on WordPress it is the path of names.
    const QString newID = site_.cms == CMS::wordPress && parentID
                              ? (parentID->isEmpty() ? name : *parentID + u'/' + name)
                              : *oldID;
    site_.withDictionaries(
        [&](PathDictionaries& d) { d.folderDictionary[destination].templateGroupID = newID; });
    updateMovedPathsRecursive(destination, newID);
    recordsMoved(source, destination);
    client_.renameTemplateGroup(*oldID, name,
                                [finished](const SiteConnectionHelper::Outcome&) { finished(); });
}

void FolderSync::moveFolder(const QString& source, const QString& destination, const QString& sourceParent,
                            const QString& destinationParent, const std::function<void()>& finished) {
    const auto ids = site_.withDictionaries([&](PathDictionaries& d) {
        std::pair<std::optional<QString>, std::optional<QString>> found;
        if (auto s = d.folderDictionary.find(source); s != d.folderDictionary.end())
            found.first = s->second.templateGroupID;
        found.second = groupIDOf(d, destinationParent);
        return found;
    });
    if (!ids.first || !ids.second)
        return finished();
    client_.moveFolder(
        *ids.first, *ids.second, [=, this](std::optional<bool> success, std::optional<QString> newID) {
            if (success != true)
                return finished();
            moved(source, destination, sourceParent, destinationParent, newID);
            const QString name = nameOf(destination);
            if (name == nameOf(source) || !newID)
                return finished();
            // The add-on moves a group under the name it had: a new name given in the same move is a rename
            // after it, and on WordPress the identifiers below follow the new name.
            if (site_.cms == CMS::wordPress) {
                const QString renamedID = ids.second->isEmpty() ? name : *ids.second + u'/' + name;
                site_.withDictionaries([&](PathDictionaries& d) {
                    if (auto record = d.folderDictionary.find(destination);
                        record != d.folderDictionary.end())
                        record->second.templateGroupID = renamedID;
                });
                updateMovedPathsRecursive(destination, renamedID);
            }
            client_.renameTemplateGroup(*newID, name,
                                        [finished](const SiteConnectionHelper::Outcome&) { finished(); });
        });
}

void FolderSync::moved(const QString& source, const QString& destination, const QString& sourceParent,
                       const QString& destinationParent, const std::optional<QString>& newID) {
    // The site has moved the group: its records follow whether or not its old parent listed it (nothing
    // lists the top-level folders), or the files below it would no longer reach their templates.
    const bool known = site_.withDictionaries([&](PathDictionaries& d) {
        auto record = d.folderDictionary.find(source);
        if (record == d.folderDictionary.end())
            return false;
        FolderRecord copy = record->second;
        copy.templateGroupID = newID;
        d.folderDictionary[destination] = copy;
        return true;
    });
    if (!known)
        return;
    updateMovedPathsRecursive(destination, newID.value_or(QString()));
    recordsMoved(source, destination);
    site_.withDictionaries([&](PathDictionaries& d) {
        d.folderDictionary.erase(source);
        if (auto target = d.folderDictionary.find(destinationParent);
            target != d.folderDictionary.end() && !target->second.paths.contains(destination))
            target->second.paths.append(destination);
        if (auto parent = d.folderDictionary.find(sourceParent); parent != d.folderDictionary.end())
            removeChild(parent->second, source);
    });
}

void FolderSync::updateMovedPathsRecursive(const QString& path, const QString& groupID) {
    // What the records hold decides, not what is on disk now: by the time a request goes the user may have
    // changed the folder again, and those changes are re-keyed by their own requests in turn. A record leaves
    // its old key, so a new file or folder made under an old name is never taken for the moved one.
    const QStringList children = site_.withDictionaries([&](PathDictionaries& d) {
        auto record = d.folderDictionary.find(path);
        if (record == d.folderDictionary.end())
            return QStringList();
        const QStringList old = record->second.paths;
        record->second.paths.clear();
        return old;
    });
    for (const QString& child : children) {
        const QString name = nameOf(child), moved = path + u'/' + name;
        const QString childID = site_.cms == CMS::wordPress ? groupID + u'/' + name : QString();
        const bool isFolder = site_.withDictionaries([&](PathDictionaries& d) {
            if (auto record = d.folderDictionary.find(path); record != d.folderDictionary.end())
                record->second.paths.append(moved);
            if (auto folder = d.folderDictionary.find(child); folder != d.folderDictionary.end()) {
                FolderRecord copy = folder->second;
                if (site_.cms == CMS::wordPress)
                    copy.templateGroupID = childID;
                d.folderDictionary.erase(folder);
                d.folderDictionary[moved] = copy;
                return true;
            }
            if (auto file = d.fileDictionary.find(child); file != d.fileDictionary.end()) {
                FileRecord copy = file->second;
                copy.templateGroupID = groupID;
                d.fileDictionary.erase(file);
                d.fileDictionary[moved] = copy;
            }
            return false;
        });
        if (isFolder)
            updateMovedPathsRecursive(moved, childID);
    }
}

void FolderSync::recordsMoved(const QString& source, const QString& destination) {
    for (auto& [order, group] : pendingGroups_)
        if (group.isMove && group.folders == QStringList{source, destination})
            group.recordsMoved = true;
    files_.groupMovedOnSite(source, destination);
}

QString FolderSync::recordPathOf(const QString& path) const {
    // Newest first: each undone move takes the path back to where it was before that move.
    QString recorded = path;
    for (auto it = pendingGroups_.rbegin(); it != pendingGroups_.rend(); ++it) {
        const PendingGroup& group = it->second;
        if (!group.isMove || group.recordsMoved)
            continue;
        const QString &from = group.folders.at(0), &to = group.folders.at(1);
        if (recorded == to || recorded.startsWith(to + u'/'))
            recorded = from + recorded.mid(to.size());
    }
    return recorded;
}

std::optional<QString> FolderSync::groupIDOf(const PathDictionaries& d, const QString& folder) const {
    if (const auto record = d.folderDictionary.find(folder); record != d.folderDictionary.end())
        return record->second.templateGroupID;
    if (folder == mirror_)
        return QString();
    return std::nullopt;
}

} // namespace folvane
