#include "TemplateRequests.h"

#include "AnswerText.h"
#include "ConsoleLog.h"
#include "GrowthWait.h"
#include "LogLines.h"
#include "VolumeFile.h"
#include "addon/AddonClient.h"
#include "tree/PathText.h"
#include "tree/WebsiteInUse.h"

namespace folvane {

TemplateRequests::TemplateRequests(WebsiteInUse& site, AddonClient& client, ChangeOrder& order,
                                   RequestScheduler& queue, FileIdentities& files, QString mirrorFolder,
                                   Owner owner)
    : site_(site), client_(client), order_(order), queue_(queue), files_(files),
      mirror_(std::move(mirrorFolder)), owner_(std::move(owner)) {}

void TemplateRequests::create(Key key) {
    LocalFile* item = files_.find(key);
    if (!item || !item->creating || (item->watch && item->watch->cancelled()))
        return;
    if (order_.waitForGroupChanges(order_.next(), parentOf(item->path), [this, key] { create(key); }))
        return;
    item->watch->cancel(); // the wait is over either way
    const QString file = item->path;
    logLine(QStringLiteral("filePath: ") + file);
    const std::optional<QString> groupID =
        site_.withRecords([&](const RecordTree& records) { return records.groupIDOf(parentOf(file)); });
    if (!groupID || !isRegularFile(file)) {
        // A file outside any known template group, a link or a special file stays on this computer only.
        owner_.forget(key);
        return;
    }
    item->sitePath = file;
    item->dirty = false;
    enqueueCreate(key, file, *groupID);
}

void TemplateRequests::enqueueCreate(Key key, const QString& file, const QString& group) {
    queue_.enqueue(
        key, RequestScheduler::Kind::create,
        [this, key, group](RequestScheduler::Done done) {
            LocalFile* item = files_.find(key);
            if (!item || !item->creating)
                return done(RequestScheduler::Result::confirmed);
            const QString file = item->sitePath;
            const FileContent content = readFile(item->path);
            if (content.kind == FileContent::Kind::notRegular) {
                logLine(QStringLiteral("Not a regular file, kept on this computer only: ") + item->path);
                owner_.forget(key);
                return done(RequestScheduler::Result::confirmed);
            }
            const QByteArray data = content.bytes.toBase64();
            logLine(QStringLiteral("encodedData: ") + forLog(data));
            client_.createTemplate(
                group, nameOf(file), QString::fromLatin1(data),
                [this, key, file, group, data, done](const AddonResult& result) {
                    const auto answered = [this, key, file, group, data](const AddonResult& result) {
                        logLine(QStringLiteral("templateID: ") + result.id.value_or(QStringLiteral("nil")));
                        logLine(logline::uploadOutcome(file.mid(mirror_.size()), result.success && result.id,
                                                       refusalOf(result)));
                        recordCreated(key, file, group, data, result);
                    };
                    if (!result.transportFailed) {
                        answered(result);
                        return done(RequestScheduler::resultOf(result));
                    }
                    // The create may have made the template: the site's list tells, with its identifier.
                    done.lost([group, name = nameOf(file), answered](const SiteIndex& site) {
                        const std::optional<QString> id = site.templateIn(group, name);
                        if (id)
                            answered(AddonResult{.success = true, .id = id, .isSpecial = {}, .message = {}});
                        return id.has_value();
                    });
                });
        },
        {file});
    owner_.report();
}

void TemplateRequests::recordCreated(Key key, const QString& file, const QString& group,
                                     const QByteArray& data, const AddonResult& result) {
    LocalFile* found = files_.find(key);
    if (!found)
        return;
    LocalFile& item = *found;
    item.creating = false;
    item.refusal = refusalOf(result);
    if (!result.id) {
        // Not made (or no word of it): the file stays unconfirmed, and its next save tries again.
        item.refused = true;
        owner_.report();
        return;
    }
    item.onSite = true;
    item.groupID = group;
    item.templateID = *result.id;
    const ContentDigest sent = ContentDigest::ofBase64(data);
    site_.withRecords([&](RecordTree& records) {
        records.setFile(file, FileRecord{nameOf(file), group, *result.id, sent});
    });
    item.refused = !result.success;
    if (!result.success) {
        item.maybeOnSite.push_back(sent);
        return owner_.report();
    }
    item.confirmed = sent;
    // Renamed or written while the create was out: bring the site up to date.
    if (item.path != item.sitePath)
        move(key, item.sitePath, item.path);
    owner_.save(key);
}

void TemplateRequests::removed(LocalFile* item, const QString& file) {
    site_.withRecords([&](RecordTree& records) { records.erase(file); });
    if (!item)
        return;
    files_.unlink(file);
    if (!item->onSite && !(item->creating && queue_.hasPending(item->key))) {
        owner_.forget(item->key); // never reached the site: nothing to tell it
        return;
    }
    // On the site, or its create is out: the delete follows the create and uses the identifier it returns.
    remove(item->key);
}

void TemplateRequests::remove(Key key) {
    const LocalFile* file = files_.find(key);
    if (!file)
        return;
    queue_.enqueue(key, RequestScheduler::Kind::remove,
                   [this, key](RequestScheduler::Done done) {
                       const LocalFile* found = files_.find(key);
                       if (!found)
                           return done(RequestScheduler::Result::confirmed);
                       const QString id = found->templateID;
                       client_.deleteTemplate(found->groupID, id,
                                              [this, key, id, done](const AddonResult& result) {
                                                  if (result.success)
                                                      owner_.forget(key);
                                                  if (!result.transportFailed)
                                                      return done(RequestScheduler::resultOf(result));
                                                  done.lost([this, key, id](const SiteIndex& site) {
                                                      if (site.templates.count(id))
                                                          return false;
                                                      owner_.forget(key);
                                                      return true;
                                                  });
                                              });
                   },
                   {file->path});
}

void TemplateRequests::move(Key key, const QString& from, const QString& to) {
    const LocalFile* file = files_.find(key);
    if (!file)
        return;
    // `to` is where the file is as the user moved it; folder changes made after that are carried out on the
    // site after this move, and re-key it then. It waits for the group changes of where it was, too.
    QStringList paths{file->path};
    if (from != file->path)
        paths << from;
    queue_.enqueue(
        key, RequestScheduler::Kind::move,
        [this, key, to](RequestScheduler::Done done) {
            LocalFile* found = files_.find(key);
            if (!found)
                return done(RequestScheduler::Result::confirmed);
            LocalFile& item = *found;
            const QString from = item.sitePath; // where the site has it once the earlier changes are done
            if (from == to)
                return done(RequestScheduler::Result::confirmed);
            const std::optional<QString> toGroup =
                site_.withRecords([&](const RecordTree& records) { return records.groupIDOf(parentOf(to)); });
            if (!toGroup) {
                // Moved out of every known group: the site keeps the template, the file stays local.
                files_.unlink(item.path);
                return done(RequestScheduler::Result::confirmed);
            }
            client_.moveTemplate(
                item.templateID, nameOf(to), item.groupID, *toGroup,
                [this, key, from, to, toGroup, id = item.templateID, done](const AddonResult& result) {
                    if (result.success)
                        recordMoved(key, from, to, *toGroup, result.id);
                    if (!result.transportFailed)
                        return done(RequestScheduler::resultOf(result));
                    done.lost([this, key, from, to, toGroup, id](const SiteIndex& site) {
                        const auto found = site.templates.find(id);
                        if (found == site.templates.end() || found->second.groupID != *toGroup ||
                            found->second.name != nameOf(to))
                            return false;
                        recordMoved(key, from, to, *toGroup, id);
                        return true;
                    });
                });
        },
        paths);
    owner_.report();
}

void TemplateRequests::recordMoved(Key key, const QString& from, const QString& to, const QString& toGroup,
                                   const std::optional<QString>& newID) {
    LocalFile* moved = files_.find(key);
    if (!moved)
        return;
    moved->groupID = toGroup;
    moved->templateID = newID.value_or(moved->templateID);
    moved->sitePath = to;
    site_.withRecords([&](RecordTree& records) {
        if (records.file(from) && records.moveSubtree(from, to)) {
            FileRecord* record = records.file(to);
            record->templateGroupID = toGroup;
            record->templateID = moved->templateID;
        }
    });
    owner_.save(key); // written under its new name before the move was confirmed
}

} // namespace folvane
