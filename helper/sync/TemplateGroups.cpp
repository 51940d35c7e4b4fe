#include "TemplateGroups.h"

#include "ConsoleLog.h"
#include "addon/AddonClient.h"
#include "tree/PathText.h"
#include "tree/WebsiteInUse.h"

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

TemplateGroups::TemplateGroups(WebsiteInUse& site, AddonClient& client, ChangeOrder& order,
                               QString mirrorFolder, QObject* parent)
    : QObject(parent), site_(site), client_(client), order_(order), mirror_(std::move(mirrorFolder)) {}

void TemplateGroups::enqueueGroupRequest(const QStringList& folders, const QString& settleBelow,
                                         GroupRequest request, bool isMove) {
    const ChangeOrder::Order order = order_.next();
    order_.groupChangeQueued(order, folders, isMove);
    groupRequests_.push_back([this, order, settleBelow, request = std::move(request)] {
        const auto finished = [this, order] {
            // What waited for this change goes now, with the names and identifiers it left.
            order_.groupChangeDone(order);
            groupRequestOut_ = false;
            runNextGroupRequest();
        };
        const auto send = [request, finished] { request(finished); };
        if (settleBelow.isEmpty() || !order_.waitForFileRequests(order, settleBelow, send))
            send();
    });
    runNextGroupRequest();
}

void TemplateGroups::runNextGroupRequest() {
    if (groupRequestOut_ || groupRequests_.empty())
        return;
    groupRequestOut_ = true;
    std::function<void()> next = std::move(groupRequests_.front());
    groupRequests_.pop_front();
    next();
}

void TemplateGroups::create(const QString& folder, std::function<void(bool made)> made) {
    logLine(QStringLiteral("Creating Folder"));
    const QString parent = parentOf(folder), name = nameOf(folder);
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
        client_.createGroup(name, parentID, [=, this](const AddonResult& result) {
            const std::optional<bool> special = result.isSpecial;
            logLine(QStringLiteral("templateGroupID: ") + result.id.value_or(QStringLiteral("nil")) +
                    QStringLiteral(", isSpecial: ") +
                    (special ? (*special ? QStringLiteral("true") : QStringLiteral("false"))
                             : QStringLiteral("nil")));
            const bool isGroup = result.id && special && !result.id->isEmpty();
            if (isGroup)
                site_.withDictionaries([&](PathDictionaries& d) {
                    d.folderDictionary[folder] = FolderRecord{name, result.id, special, {}};
                });
            made(isGroup);
            done();
        });
    });
}

void TemplateGroups::remove(const QString& folder) {
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
        client_.deleteGroup(*groupID, [done](const AddonResult&) { done(); });
    });
}

void TemplateGroups::move(const QString& source, const QString& destination,
                          std::function<void(bool followed)> answered) {
    // What happens in the folder at its new place waits until the site has the group there; the group goes
    // once what was asked of its templates before is done.
    enqueueGroupRequest(
        {source, destination}, source,
        [=, this](const Finished& done) {
            const Answered finished = [answered, done](bool followed) {
                answered(followed); // before what waited goes, so it goes with the new identifiers
                done();
            };
            if (parentOf(source) == parentOf(destination))
                rename(source, nameOf(destination), finished);
            else
                moveToParent(source, destination, finished);
        },
        true);
}

void TemplateGroups::rename(const QString& source, const QString& name, const Answered& answered) {
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
        return answered(false);
    const std::optional<QString> parentID =
        site_.withDictionaries([&](PathDictionaries& d) { return groupIDOf(d, parent); });
    // ExpressionEngine keeps a group's identifier across a rename; on WordPress it is the path of names.
    const QString newID = site_.cms == CMS::wordPress && parentID
                              ? (parentID->isEmpty() ? name : *parentID + u'/' + name)
                              : *oldID;
    site_.withDictionaries(
        [&](PathDictionaries& d) { d.folderDictionary[destination].templateGroupID = newID; });
    updateMovedPathsRecursive(destination, newID);
    order_.groupRecordsMoved(source, destination);
    client_.renameGroup(*oldID, name, [answered](const AddonResult&) { answered(true); });
}

void TemplateGroups::moveToParent(const QString& source, const QString& destination,
                                  const Answered& answered) {
    const QString destinationParent = parentOf(destination);
    const auto ids = site_.withDictionaries([&](PathDictionaries& d) {
        std::pair<std::optional<QString>, std::optional<QString>> found;
        if (auto s = d.folderDictionary.find(source); s != d.folderDictionary.end())
            found.first = s->second.templateGroupID;
        found.second = groupIDOf(d, destinationParent);
        return found;
    });
    if (!ids.first || !ids.second)
        return answered(false);
    client_.moveGroup(*ids.first, *ids.second, [=, this](const AddonResult& result) {
        if (!result.success)
            return answered(false);
        const std::optional<QString> newID = result.id;
        const bool followed = moved(source, destination, newID);
        const QString name = nameOf(destination);
        if (name == nameOf(source) || !newID)
            return answered(followed);
        // The add-on moves a group under the name it had: a new name given in the same move is a rename
        // after it, and on WordPress the identifiers below follow the new name.
        if (site_.cms == CMS::wordPress) {
            const QString renamedID = ids.second->isEmpty() ? name : *ids.second + u'/' + name;
            site_.withDictionaries([&](PathDictionaries& d) {
                if (auto record = d.folderDictionary.find(destination); record != d.folderDictionary.end())
                    record->second.templateGroupID = renamedID;
            });
            updateMovedPathsRecursive(destination, renamedID);
        }
        client_.renameGroup(*newID, name, [answered, followed](const AddonResult&) { answered(followed); });
    });
}

bool TemplateGroups::moved(const QString& source, const QString& destination,
                           const std::optional<QString>& newID) {
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
        return false;
    updateMovedPathsRecursive(destination, newID.value_or(QString()));
    order_.groupRecordsMoved(source, destination);
    site_.withDictionaries([&](PathDictionaries& d) {
        d.folderDictionary.erase(source);
        if (auto target = d.folderDictionary.find(parentOf(destination));
            target != d.folderDictionary.end() && !target->second.paths.contains(destination))
            target->second.paths.append(destination);
        if (auto parent = d.folderDictionary.find(parentOf(source)); parent != d.folderDictionary.end())
            removeChild(parent->second, source);
    });
    return true;
}

void TemplateGroups::updateMovedPathsRecursive(const QString& path, const QString& groupID) {
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

std::optional<QString> TemplateGroups::groupIDOf(const PathDictionaries& d, const QString& folder) const {
    if (const auto record = d.folderDictionary.find(folder); record != d.folderDictionary.end())
        return record->second.templateGroupID;
    if (folder == mirror_)
        return QString();
    return std::nullopt;
}

} // namespace folvane
