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
                               RequestScheduler& queue, QString mirrorFolder, QObject* parent)
    : QObject(parent), site_(site), client_(client), order_(order), mirror_(std::move(mirrorFolder)),
      queue_(queue) {
    connect(&queue_, &RequestScheduler::requestDone, this, [this](RequestScheduler::Key key) {
        if (key != RequestScheduler::groupLane || queued_.empty())
            return;
        // What waited for this change goes now, with the names and identifiers it left.
        const ChangeOrder::Order order = queued_.front();
        queued_.pop_front();
        order_.groupChangeDone(order);
    });
}

void TemplateGroups::enqueueGroupRequest(const QStringList& folders, const QString& settleBelow,
                                         Prepare prepare, bool isMove) {
    const ChangeOrder::Order order = order_.next();
    order_.groupChangeQueued(order, folders, isMove);
    queued_.push_back(order);
    auto prepared = std::make_shared<Send>();
    queue_.enqueue(
        RequestScheduler::groupLane, RequestScheduler::Kind::group,
        [prepare = std::move(prepare), prepared](const Done& done) {
            if (!*prepared) // sent again: with what it read the first time
                *prepared = prepare();
            (*prepared)(done);
        },
        [this, order, settleBelow](const std::function<void()>& whenFree) {
            return !settleBelow.isEmpty() && order_.waitForFileRequests(order, settleBelow, whenFree);
        });
}

void TemplateGroups::create(const QString& folder, std::function<void(bool made)> made) {
    logLine(QStringLiteral("Creating Folder"));
    const QString parent = parentOf(folder), name = nameOf(folder);
    logLine(name);
    // The parent lists the new folder; for a group that happens when its request goes, after the changes
    // made before it, so the parent's record is found under the name it has by then.
    const auto listInParent = [this, folder, parent] {
        return site_.withDictionaries([&](PathDictionaries& d) {
            if (auto record = d.folderDictionary.find(parent);
                record != d.folderDictionary.end() && !record->second.paths.contains(folder))
                record->second.paths.append(folder);
            return groupIDOf(d, parent);
        });
    };
    if (belowHiddenName(folder.mid(mirror_.size()))) {
        listInParent();
        return;
    }
    enqueueGroupRequest({folder}, {}, [=, this]() -> Send {
        const std::optional<QString> parentID = listInParent();
        if (!parentID)
            return [made](const Done& done) {
                // Inside a folder that is no group on the site: it stays here, like a file at the top level.
                made(false);
                done(RequestScheduler::Result::confirmed);
            };
        const auto answered = [=, this](const AddonResult& result) {
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
        };
        return [=, this, parentID = *parentID](const Done& done) {
            client_.createGroup(name, parentID, [=](const AddonResult& result) {
                if (!result.transportFailed) {
                    answered(result);
                    return done(RequestScheduler::resultOf(result));
                }
                done.lost([=](const SiteIndex& site) {
                    const std::optional<QString> id = site.groupIn(parentID, name);
                    if (id)
                        answered(AddonResult{.success = true,
                                             .id = id,
                                             .isSpecial = site.groups.at(*id).isSpecial.value_or(false),
                                             .message = {}});
                    return id.has_value();
                });
            });
        };
    });
}

void TemplateGroups::remove(const QString& folder) {
    // The add-on refuses to delete a group that still holds templates: what was asked of them goes first.
    enqueueGroupRequest({folder}, folder, [this, folder]() -> Send {
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
        return [this, groupID](const Done& done) {
            if (!groupID)
                return done(RequestScheduler::Result::confirmed);
            client_.deleteGroup(*groupID, [done, id = *groupID](const AddonResult& result) {
                if (!result.transportFailed)
                    return done(RequestScheduler::resultOf(result));
                done.lost([id](const SiteIndex& site) { return !site.groups.count(id); });
            });
        };
    });
}

void TemplateGroups::hide(const QString& folder, std::function<void()> left) {
    enqueueGroupRequest({folder}, folder, [this, folder, left = std::move(left)]() -> Send {
        const auto below = [&](const auto& record) {
            return record.first == folder || record.first.startsWith(folder + u'/');
        };
        site_.withDictionaries([&](PathDictionaries& d) {
            std::erase_if(d.folderDictionary, below);
            std::erase_if(d.fileDictionary, below);
            if (auto parent = d.folderDictionary.find(parentOf(folder)); parent != d.folderDictionary.end())
                removeChild(parent->second, folder);
        });
        left();
        return [](const Done& done) { done(RequestScheduler::Result::confirmed); };
    });
}

void TemplateGroups::move(const QString& source, const QString& destination,
                          std::function<void(bool followed)> answered) {
    // What happens in the folder at its new place waits until the site has the group there; the group goes
    // once what was asked of its templates before is done.
    enqueueGroupRequest(
        {source, destination}, source,
        [=, this]() -> Send {
            if (parentOf(source) == parentOf(destination))
                return rename(source, nameOf(destination), answered);
            return moveToParent(source, destination, answered);
        },
        true);
}

QString TemplateGroups::movedGroupID(const QString& oldID, const QString& parentID,
                                     const QString& name) const {
    if (site_.cms != CMS::wordPress)
        return oldID;
    return parentID.isEmpty() ? name : parentID + u'/' + name;
}

RequestScheduler::Send TemplateGroups::rename(const QString& source, const QString& name,
                                              const Answered& answered) {
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
        return [answered](const Done& done) {
            answered(false);
            done(RequestScheduler::Result::confirmed);
        };
    const std::optional<QString> parentID =
        site_.withDictionaries([&](PathDictionaries& d) { return groupIDOf(d, parent); });
    const QString newID = parentID ? movedGroupID(*oldID, *parentID, name) : *oldID;
    site_.withDictionaries(
        [&](PathDictionaries& d) { d.folderDictionary[destination].templateGroupID = newID; });
    updateMovedPathsRecursive(destination, newID);
    order_.groupRecordsMoved(source, destination);
    return [this, oldID = *oldID, newID, name, answered](const Done& done) {
        client_.renameGroup(oldID, name, [=](const AddonResult& result) {
            if (!result.transportFailed) {
                answered(true);
                return done(RequestScheduler::resultOf(result));
            }
            done.lost([=](const SiteIndex& site) {
                const auto found = site.groups.find(newID);
                if (found == site.groups.end() || found->second.name != name)
                    return false;
                answered(true);
                return true;
            });
        });
    };
}

RequestScheduler::Send TemplateGroups::moveToParent(const QString& source, const QString& destination,
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
        return [answered](const Done& done) {
            answered(false);
            done(RequestScheduler::Result::confirmed);
        };
    // Two requests when the name changes too; a move the site has made is not made again.
    struct Progress {
        std::optional<QString> movedID;
        bool followed = false;
    };
    auto progress = std::make_shared<Progress>();
    const QString groupID = *ids.first, toParent = *ids.second, oldName = nameOf(source),
                  name = nameOf(destination);
    const auto movedOnSite = [=, this](const std::optional<QString>& answeredID) {
        // An answer without the new identifier keeps what the site's rule gives.
        progress->movedID = answeredID.value_or(movedGroupID(groupID, toParent, oldName));
        progress->followed = moved(source, destination, progress->movedID);
        if (name == oldName || site_.cms != CMS::wordPress)
            return;
        // The add-on moves a group under the name it had: a new name given in the same move is a rename
        // after it, and on WordPress the identifiers below follow the new name.
        const QString renamedID = movedGroupID(*progress->movedID, toParent, name);
        site_.withDictionaries([&](PathDictionaries& d) {
            if (auto record = d.folderDictionary.find(destination); record != d.folderDictionary.end())
                record->second.templateGroupID = renamedID;
        });
        updateMovedPathsRecursive(destination, renamedID);
    };
    return [=, this](const Done& done) {
        const auto renameAfter = [=, this] {
            if (name == oldName) {
                answered(progress->followed);
                return done(RequestScheduler::Result::confirmed);
            }
            client_.renameGroup(*progress->movedID, name, [=](const AddonResult& result) {
                if (!result.transportFailed) {
                    answered(progress->followed);
                    return done(RequestScheduler::resultOf(result));
                }
                done.lost([=](const SiteIndex& site) {
                    if (!site.groupIn(toParent, name))
                        return false;
                    answered(progress->followed);
                    return true;
                });
            });
        };
        if (progress->movedID)
            return renameAfter();
        client_.moveGroup(groupID, toParent, [=](const AddonResult& result) {
            if (result.success) {
                movedOnSite(result.id);
                return renameAfter();
            }
            if (!result.transportFailed) {
                answered(false);
                return done(RequestScheduler::Result::refused);
            }
            done.lost([=](const SiteIndex& site) {
                const std::optional<QString> id = site.groupIn(toParent, oldName);
                if (id && (*id == groupID || !site.groups.count(groupID)))
                    movedOnSite(id); // the rename, if any, is what is still to be sent
                return false;
            });
        });
    };
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
