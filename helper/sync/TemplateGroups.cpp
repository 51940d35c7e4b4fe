#include "TemplateGroups.h"

#include "ConsoleLog.h"
#include "addon/AddonClient.h"
#include "tree/PathText.h"
#include "tree/WebsiteInUse.h"

namespace folvane {

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
    for (const QString& folder : folders)
        refused_.erase(folder);
    order_.groupChangeQueued(order, folders, isMove);
    queued_.push_back(order);
    auto prepared = std::make_shared<Send>();
    queue_.enqueueGroupChange(
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
    if (belowHiddenName(folder.mid(mirror_.size())))
        return;
    enqueueGroupRequest({folder}, {}, [=, this]() -> Send {
        // Read when the request goes, after the changes made before it: the parent has its name by then.
        const std::optional<QString> parentID =
            site_.withRecords([&](const RecordTree& records) { return groupIDOf(records, parent); });
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
                site_.withRecords([&](RecordTree& records) {
                    records.setFolder(folder, FolderRecord{name, result.id, special});
                });
            made(isGroup);
        };
        return [=, this, parentID = *parentID](const Done& done) {
            client_.createGroup(name, parentID, [=, this](const AddonResult& result) {
                if (!result.transportFailed) {
                    noteAnswer(folder, result);
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
            site_.withRecords([&](RecordTree& records) -> std::optional<QString> {
                const FolderRecord* record = records.folder(folder);
                const std::optional<QString> id = record ? record->templateGroupID : std::nullopt;
                records.erase(folder);
                return id;
            });
        return [this, folder, groupID](const Done& done) {
            if (!groupID)
                return done(RequestScheduler::Result::confirmed);
            client_.deleteGroup(*groupID, [this, folder, done, id = *groupID](const AddonResult& result) {
                if (!result.transportFailed) {
                    noteAnswer(folder, result);
                    return done(RequestScheduler::resultOf(result));
                }
                done.lost([id](const SiteIndex& site) { return !site.groups.count(id); });
            });
        };
    });
}

void TemplateGroups::hide(const QString& folder, std::function<void()> left) {
    enqueueGroupRequest({folder}, folder, [this, folder, left = std::move(left)]() -> Send {
        site_.withRecords([&](RecordTree& records) { records.eraseSubtree(folder); });
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
    // A record leaves its old key, so a new file or folder made under the old name is never taken for the
    // moved one.
    const std::optional<QString> oldID =
        site_.withRecords([&](RecordTree& records) -> std::optional<QString> {
            const FolderRecord* record = records.folder(source);
            if (!record)
                return std::nullopt;
            const std::optional<QString> id = record->templateGroupID;
            records.moveSubtree(source, destination);
            return id;
        });
    if (!oldID)
        return [answered](const Done& done) {
            answered(false);
            done(RequestScheduler::Result::confirmed);
        };
    const std::optional<QString> parentID =
        site_.withRecords([&](const RecordTree& records) { return groupIDOf(records, parent); });
    const QString newID = parentID ? movedGroupID(*oldID, *parentID, name) : *oldID;
    regroup(destination, newID);
    order_.groupRecordsMoved(source, destination);
    return [this, oldID = *oldID, newID, name, destination, answered](const Done& done) {
        client_.renameGroup(oldID, name, [=, this](const AddonResult& result) {
            if (!result.transportFailed) {
                noteAnswer(destination, result);
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
    const auto ids = site_.withRecords([&](const RecordTree& records) {
        std::pair<std::optional<QString>, std::optional<QString>> found;
        if (const FolderRecord* record = records.folder(source))
            found.first = record->templateGroupID;
        found.second = groupIDOf(records, destinationParent);
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
        regroup(destination, movedGroupID(*progress->movedID, toParent, name));
    };
    return [=, this](const Done& done) {
        const auto renameAfter = [=, this] {
            if (name == oldName) {
                answered(progress->followed);
                return done(RequestScheduler::Result::confirmed);
            }
            client_.renameGroup(*progress->movedID, name, [=, this](const AddonResult& result) {
                if (!result.transportFailed) {
                    noteAnswer(destination, result);
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
        client_.moveGroup(groupID, toParent, [=, this](const AddonResult& result) {
            if (result.success) {
                movedOnSite(result.id);
                return renameAfter();
            }
            if (!result.transportFailed) {
                noteAnswer(destination, result);
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
    // The site has moved the group: its records follow, or the files below it would no longer reach their
    // templates.
    if (!site_.withRecords([&](RecordTree& records) {
            return records.folder(source) && records.moveSubtree(source, destination);
        }))
        return false;
    regroup(destination, newID);
    order_.groupRecordsMoved(source, destination);
    return true;
}

void TemplateGroups::regroup(const QString& folder, const std::optional<QString>& groupID) {
    // What the records hold decides, not what is on disk now: by the time a request goes the user may have
    // changed the folder again, and those changes are re-keyed by their own requests in turn.
    site_.withRecords([&](RecordTree& records) {
        if (FolderRecord* record = records.folder(folder))
            record->templateGroupID = groupID;
        for (const QString& path : records.below(folder)) {
            // Each record comes after its parent, whose identifier is new already.
            const FolderRecord* parent = records.folder(parentOf(path));
            if (!parent)
                continue;
            const std::optional<QString> parentID = parent->templateGroupID;
            if (FileRecord* file = records.file(path))
                file->templateGroupID = parentID.value_or(QString());
            else if (site_.cms == CMS::wordPress)
                records.folder(path)->templateGroupID = parentID.value_or(QString()) + u'/' + nameOf(path);
        }
    });
}

void TemplateGroups::noteAnswer(const QString& folder, const AddonResult& result) {
    if (result.success)
        refused_.erase(folder);
    else
        refused_[folder] = result.message.value_or(QString());
}

QList<PendingFile> TemplateGroups::refusals() const {
    QList<PendingFile> folders;
    for (const auto& [folder, message] : refused_)
        folders.append({folder.mid(mirror_.size()), PendingFile::State::refused, message});
    return folders;
}

std::optional<QString> TemplateGroups::groupIDOf(const RecordTree& records, const QString& folder) const {
    if (const FolderRecord* record = records.folder(folder))
        return record->templateGroupID;
    if (folder == mirror_)
        return QString();
    return std::nullopt;
}

} // namespace folvane
