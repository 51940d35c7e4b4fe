#include "TemplateFiles.h"

#include "ConsoleLog.h"
#include "LogLines.h"
#include "VolumeFile.h"
#include "addon/AddonClient.h"
#include "tree/PathText.h"
#include "tree/WebsiteInUse.h"

#include <QDirIterator>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>
#include <algorithm>
#include <set>

namespace folvane {

namespace {

// Long contents are logged by their size only; the log is for people.
QString forLog(const QByteArray& data) {
    constexpr qsizetype limit = 120;
    return data.size() <= limit ? QString::fromUtf8(data) : QStringLiteral("<%1 bytes>").arg(data.size());
}

QString refusalOf(const AddonResult& result) {
    return result.transportFailed ? QStringLiteral("The site did not answer.")
                                  : result.message.value_or(QString());
}

} // namespace

struct TemplateFiles::Item {
    Key key = 0;
    QString path;     // where the file is on the volume now (full local path)
    QString sitePath; // the path whose name and group the site knows it by
    bool creating = false;
    bool onSite = false;
    bool dirty = false; // written since its content was last sent
    // The site refused its last save or create (or never answered a create): unconfirmed until a save of it
    // is confirmed; a new save tries again.
    bool refused = false;
    QString refusal; // what the add-on said when it refused, if anything
    QString groupID, templateID;
    std::optional<ContentDigest> confirmed; // of the content the site accepted last
    // Of contents sent since then whose fate is unknown (a save that got no answer, a create the site
    // refused after making the template): the site may hold any of them.
    std::vector<ContentDigest> maybeOnSite;
    std::shared_ptr<GrowthWatch> watch; // while a new file is watched until it stops growing
    QTimer* quiet = nullptr;
};

TemplateFiles::TemplateFiles(WebsiteInUse& site, AddonClient& client, ChangeOrder& order,
                             RequestScheduler& queue, SiteCheck& siteCheck, QString mirrorFolder,
                             QObject* parent)
    : QObject(parent), site_(site), client_(client), order_(order), siteCheck_(siteCheck),
      mirror_(std::move(mirrorFolder)), queue_(queue), filesReport_(new QTimer(this)), growth_(this) {
    grace_ = new ReplaceGrace(
        [this](const QString& path, const ReplaceGrace::Away& away) { graceOver(path, away); }, this);
    filesReport_->setSingleShot(true);
    // The engine compares the list with the one it posted last (it adds entries of its own).
    connect(filesReport_, &QTimer::timeout, this, &TemplateFiles::pendingFilesMayHaveChanged);
    connect(&queue_, &RequestScheduler::changed, this, &TemplateFiles::reportPending);
    connect(&queue_, &RequestScheduler::requestDone, this, [this](Key key) {
        if (key != RequestScheduler::groupLane)
            order_.fileRequestDone(key);
    });
}

TemplateFiles::~TemplateFiles() = default;

TemplateFiles::Item* TemplateFiles::itemAt(const QString& path) {
    // Nothing below a hidden folder goes to the site, one hidden after its files were known included.
    if (belowHiddenName(parentOf(path).mid(mirror_.size())))
        return nullptr;
    if (const auto it = keyByPath_.find(path); it != keyByPath_.end())
        return items_.at(it->second).get();
    // The records may not follow a folder move yet; they know the file under its path before it.
    const QString recorded = order_.recordPathOf(path);
    // A record whose template has moved on (its move not yet confirmed) belongs to that item, not to
    // whatever file appears under the old name.
    for (const auto& [key, item] : items_)
        if (item->sitePath == recorded)
            return nullptr;
    const std::optional<FileRecord> record =
        site_.withDictionaries([&](PathDictionaries& d) -> std::optional<FileRecord> {
            const auto found = d.fileDictionary.find(recorded);
            return found == d.fileDictionary.end() ? std::nullopt : std::optional(found->second);
        });
    if (!record)
        return nullptr;
    Item* item = newItem(path);
    item->sitePath = recorded;
    item->onSite = true;
    item->groupID = record->templateGroupID;
    item->templateID = record->templateID;
    item->confirmed = record->encodedData;
    return item;
}

TemplateFiles::Item* TemplateFiles::newItem(const QString& path) {
    auto item = std::make_unique<Item>();
    item->key = nextKey_++;
    item->path = item->sitePath = path;
    Item* raw = item.get();
    keyByPath_[path] = raw->key;
    items_.emplace(raw->key, std::move(item));
    return raw;
}

void TemplateFiles::forget(Key key) {
    const auto it = items_.find(key);
    if (it == items_.end())
        return;
    if (it->second->watch)
        it->second->watch->cancel();
    for (auto p = keyByPath_.begin(); p != keyByPath_.end();)
        p = p->second == key ? keyByPath_.erase(p) : std::next(p);
    items_.erase(it);
    order_.forget(key);
    reportPending();
}

void TemplateFiles::created(const QString& file) {
    logLine(QStringLiteral("Creating template"));
    logLine(QStringLiteral("Found a file that is changed"));
    logLine(nameOf(file));
    if (belowHiddenName(file.mid(mirror_.size()))) {
        site_.withDictionaries([&](PathDictionaries& d) {
            if (auto parent = d.folderDictionary.find(parentOf(file)); parent != d.folderDictionary.end())
                parent->second.paths.append(file);
        });
        return;
    }
    if (reclaim(file)) {
        Item& back = *items_.at(keyByPath_.at(file));
        back.dirty = true;
        scheduleUpload(back, false);
        return;
    }
    if (Item* existing = itemAt(file)) {
        // Made anew while its create is still waiting (it reads the content when it goes), or a template's
        // file replaced outside our sight: either way a save.
        existing->dirty = true;
        if (existing->onSite)
            scheduleUpload(*existing, false);
        else if (!existing->creating)
            startCreate(*existing);
        return;
    }
    startCreate(*newItem(file));
}

void TemplateFiles::startCreate(Item& item) {
    item.creating = true;
    item.watch = growth_.watch(item.path, stableIntervalMs, [this, key = item.key] { finishCreate(key); });
    reportPending();
}

void TemplateFiles::finishCreate(Key key) {
    const auto it = items_.find(key);
    if (it == items_.end() || !it->second->creating || (it->second->watch && it->second->watch->cancelled()))
        return;
    Item& item = *it->second;
    if (order_.waitForGroupChanges(order_.next(), parentOf(item.path), [this, key] { finishCreate(key); }))
        return;
    item.watch->cancel(); // the wait is over either way
    const QString file = item.path;
    logLine(QStringLiteral("filePath: ") + file);
    const std::optional<QString> groupID =
        site_.withDictionaries([&](PathDictionaries& d) -> std::optional<QString> {
            auto parent = d.folderDictionary.find(parentOf(file));
            if (parent == d.folderDictionary.end())
                return std::nullopt;
            parent->second.paths.append(file);
            return parent->second.templateGroupID;
        });
    if (!groupID || !isRegularFile(file)) {
        // A file outside any known template group, a link or a special file stays on this computer only.
        forget(key);
        return;
    }
    item.sitePath = file;
    item.dirty = false;
    enqueueCreate(key, *groupID);
}

void TemplateFiles::enqueueCreate(Key key, const QString& group) {
    enqueue(key, RequestScheduler::Kind::create, [this, key, group](RequestScheduler::Done done) {
        Item* item = items_.count(key) ? items_.at(key).get() : nullptr;
        if (!item || !item->creating)
            return done(RequestScheduler::Result::confirmed);
        const QString file = item->sitePath;
        const FileContent content = readFile(item->path);
        if (content.kind == FileContent::Kind::notRegular) {
            logLine(QStringLiteral("Not a regular file, kept on this computer only: ") + item->path);
            forget(key);
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
    });
    reportPending();
}

void TemplateFiles::recordCreated(Key key, const QString& file, const QString& group, const QByteArray& data,
                                  const AddonResult& result) {
    const auto found = items_.find(key);
    if (found == items_.end())
        return;
    Item& item = *found->second;
    item.creating = false;
    item.refusal = refusalOf(result);
    if (!result.id) {
        // Not made (or no word of it): the file stays unconfirmed, and its next save tries again.
        item.refused = true;
        reportPending();
        return;
    }
    item.onSite = true;
    item.groupID = group;
    item.templateID = *result.id;
    site_.withDictionaries([&](PathDictionaries& d) {
        d.fileDictionary[file] = FileRecord{nameOf(file), group, *result.id, ContentDigest::ofBase64(data)};
    });
    item.refused = !result.success;
    if (!result.success) {
        item.maybeOnSite.push_back(ContentDigest::ofBase64(data));
        return reportPending();
    }
    item.confirmed = ContentDigest::ofBase64(data);
    // Renamed or written while the create was out: bring the site up to date.
    if (item.path != item.sitePath)
        enqueueMove(key, item.sitePath, item.path);
    enqueueUpdate(key);
}

void TemplateFiles::written(const QString& file) {
    logLine(QStringLiteral("SAVEING FILE DATA"));
    Item* item = itemAt(file);
    if (!item)
        return;
    item->dirty = true;
    if (item->onSite)
        scheduleUpload(*item, false);
    else if (!item->creating)
        startCreate(*item);
    reportPending();
}

void TemplateFiles::released(const QString& file) {
    const auto it = keyByPath_.find(file);
    if (it == keyByPath_.end())
        return;
    Item& item = *items_.at(it->second);
    if (item.dirty && !item.creating)
        scheduleUpload(item, true);
}

void TemplateFiles::enqueue(Key key, RequestScheduler::Kind kind, RequestScheduler::Send send,
                            const QString& movedFrom) {
    const auto it = items_.find(key);
    if (it == items_.end())
        return;
    // The request waits for the folder changes the user made before it that concern its file (where it is,
    // and for a move where it was): it must go out with the names and identifiers the site has once they
    // are done, and no later.
    const ChangeOrder::Order order = order_.next();
    QStringList paths{it->second->path};
    if (!movedFrom.isEmpty() && movedFrom != paths.first())
        paths << movedFrom;
    // Entered before the queue may send it: a request answered at once is done before enqueue returns.
    order_.fileRequestQueued(key, order, paths);
    // It goes out with the names and identifiers the site has once the group changes before it are done.
    const auto afterGroupChanges = [this, order, paths](const std::function<void()>& whenFree) {
        for (const QString& path : paths)
            if (order_.waitForGroupChanges(order, parentOf(path), whenFree))
                return true;
        return false;
    };
    if (!queue_.enqueue(key, kind, std::move(send), afterGroupChanges))
        order_.fileRequestWithdrawn(key);
}

void TemplateFiles::scheduleUpload(Item& item, bool now) {
    if (now) {
        if (item.quiet)
            item.quiet->stop();
        enqueueUpdate(item.key);
        return;
    }
    if (!item.quiet) {
        item.quiet = new QTimer(this);
        item.quiet->setSingleShot(true);
        connect(item.quiet, &QTimer::timeout, this, [this, key = item.key] {
            if (const auto it = items_.find(key); it != items_.end() && it->second->dirty)
                enqueueUpdate(key);
        });
        connect(this, &QObject::destroyed, item.quiet, &QObject::deleteLater);
    }
    item.quiet->start(quietPeriodMs);
}

void TemplateFiles::enqueueUpdate(Key key) {
    const auto it = items_.find(key);
    if (it == items_.end())
        return;
    it->second->dirty = false;
    enqueue(key, RequestScheduler::Kind::update, [this, key](RequestScheduler::Done done) {
        const auto found = items_.find(key);
        if (found == items_.end() || !found->second->onSite)
            return done(RequestScheduler::Result::confirmed);
        Item& item = *found->second;
        const FileContent content = readFile(item.path);
        if (content.kind == FileContent::Kind::notRegular) {
            logLine(QStringLiteral("Not a regular file, not sent: ") + item.path);
            return done(RequestScheduler::Result::confirmed);
        }
        if (content.kind == FileContent::Kind::gone) {
            // Gone from where it was a moment ago: a removal is handled by its own report (or was already:
            // then the path is no longer tracked); after a move (of the file's folder, say, whose report has
            // not come yet) the save is still owed.
            item.dirty = keyByPath_.count(item.path) > 0;
            return done(RequestScheduler::Result::confirmed);
        }
        const QByteArray data = content.bytes.toBase64();
        const ContentDigest digest = ContentDigest::ofBase64(data);
        if (item.confirmed == digest)
            return done(RequestScheduler::Result::confirmed);
        // The site's text is looked at first: a change someone else made there is kept before this replaces
        // it.
        std::vector<ContentDigest> known = item.maybeOnSite;
        if (item.confirmed)
            known.push_back(*item.confirmed);
        siteCheck_.beforeSave({item.groupID, item.templateID, item.path, known, digest},
                              [this, key, data, digest, done](SiteCheck::Answer answer) {
                                  if (answer == SiteCheck::Answer::retry)
                                      return done(RequestScheduler::Result::transportFailed);
                                  sendUpdate(key, data, digest, done);
                              });
    });
    reportPending();
}

void TemplateFiles::sendUpdate(Key key, const QByteArray& data, const ContentDigest& digest,
                               RequestScheduler::Done done) {
    const auto found = items_.find(key);
    if (found == items_.end() || !found->second->onSite)
        return done(RequestScheduler::Result::confirmed);
    Item& item = *found->second;
    logLine(QStringLiteral("pathLookup: ") + item.path);
    logLine(QStringLiteral("t_GroupID: ") + item.groupID);
    logLine(QStringLiteral("t_ID: ") + item.templateID);
    logLine(QStringLiteral("data: ") + forLog(data));
    site_.withDictionaries([&](PathDictionaries& d) {
        if (auto record = d.fileDictionary.find(item.sitePath); record != d.fileDictionary.end())
            record->second.encodedData = digest;
    });
    client_.updateTemplate(item.groupID, item.templateID, QString::fromLatin1(data),
                           [this, key, digest, done](const AddonResult& result) {
                               const auto again = items_.find(key);
                               if (again != items_.end() && !result.transportFailed)
                                   logLine(logline::uploadOutcome(again->second->path.mid(mirror_.size()),
                                                                  result.success, refusalOf(result)));
                               if (again != items_.end()) {
                                   Item& sent = *again->second;
                                   if (result.success) {
                                       sent.confirmed = digest;
                                       sent.maybeOnSite.clear();
                                   } else if (result.transportFailed) {
                                       sent.maybeOnSite.push_back(digest);
                                   }
                                   sent.refused = !result.success;
                                   sent.refusal = result.message.value_or(QString());
                               }
                               done(RequestScheduler::resultOf(result));
                           });
}

void TemplateFiles::removed(const QString& file) {
    logLine(QStringLiteral("Deleting template"));
    Item* item = itemAt(file);
    if (item && item->onSite && !item->creating) {
        // Perhaps an editor replacing the file (git, say): its name may be taken again at once.
        keyByPath_.erase(file);
        holdAway(file, item->key, {});
        return;
    }
    deleteNow(item, file);
}

void TemplateFiles::deleteNow(Item* item, const QString& file) {
    site_.withDictionaries([&](PathDictionaries& d) {
        if (auto parent = d.folderDictionary.find(parentOf(file)); parent != d.folderDictionary.end()) {
            const QStringList old = parent->second.paths;
            parent->second.paths.clear();
            for (const QString& entry : old) {
                logLine(QStringLiteral("This is a temporary path: ") + entry +
                        QStringLiteral(", this is the path to check ") + file);
                if (entry != file)
                    parent->second.paths.append(entry);
            }
        }
        d.fileDictionary.erase(file);
    });
    if (!item)
        return;
    keyByPath_.erase(file);
    if (!item->onSite && !(item->creating && queue_.hasPending(item->key))) {
        forget(item->key); // never reached the site: nothing to tell it
        return;
    }
    // On the site, or its create is out: the delete follows the create and uses the identifier it returns.
    enqueueRemove(item->key);
}

void TemplateFiles::enqueueRemove(Key key) {
    enqueue(key, RequestScheduler::Kind::remove, [this, key](RequestScheduler::Done done) {
        const auto found = items_.find(key);
        if (found == items_.end())
            return done(RequestScheduler::Result::confirmed);
        const QString id = found->second->templateID;
        client_.deleteTemplate(found->second->groupID, id, [this, key, id, done](const AddonResult& result) {
            if (result.success)
                forget(key);
            if (!result.transportFailed)
                return done(RequestScheduler::resultOf(result));
            done.lost([this, key, id](const SiteIndex& site) {
                if (site.templates.count(id))
                    return false;
                forget(key);
                return true;
            });
        });
    });
}

void TemplateFiles::moved(const QString& source, const QString& destination) {
    logLine(QStringLiteral("Moving template"));
    logLine(QStringLiteral("sourceLookup: ") + source + QStringLiteral(", destinationLookup: ") +
            destination);
    if (source == destination)
        return;
    // Renamed onto a name a template left a moment ago: an editor's safe write, the template's save.
    if (reclaim(destination))
        return replaceTemplate(source, destination);
    // Renamed over a template, or over a file whose create is still waiting or out: an editor's save.
    if (Item* target = itemAt(destination);
        target && (target->onSite || target->creating) && itemAt(source) != target) {
        replaceTemplate(source, destination);
        return;
    }
    Item* item = itemAt(source);
    if (!item) {
        // A file nobody tracked (a hidden temporary file, say) renamed to a name that can be a template:
        // from the site's view a new file appeared.
        if (!nameOf(destination).startsWith(u'.'))
            created(destination);
        return;
    }
    keyByPath_.erase(source);
    item->path = destination;
    keyByPath_[destination] = item->key;
    if (item->watch)
        item->watch->moveTo(destination);
    if (item->creating || !item->onSite)
        return; // the create goes out under the name the file has then
    // Perhaps an editor setting the file aside before it writes a new one under the name (vim's backup).
    holdAway(source, item->key, destination);
}

void TemplateFiles::holdAway(const QString& path, Key key, const QString& renamedTo) {
    grace_->hold(path, {key, renamedTo}, replaceGraceMs);
    reportPending();
}

bool TemplateFiles::reclaim(const QString& path) {
    const std::optional<ReplaceGrace::Away> away = grace_->take(path);
    if (!away)
        return false;
    const auto found = items_.find(away->key);
    if (found == items_.end())
        return false;
    Item& item = *found->second;
    logLine(QStringLiteral("The name was taken again at once: a save of the same template: ") + path);
    if (!away->renamedTo.isEmpty()) {
        // What was set aside is a file of its own now; it becomes a template only if it is still there
        // when the grace is over (a backup removed meanwhile sends nothing).
        const QString setAside = item.path;
        keyByPath_.erase(setAside);
        QTimer::singleShot(replaceGraceMs, this, [this, setAside] {
            if (!keyByPath_.count(setAside) && QFileInfo(setAside).isFile())
                created(setAside);
        });
    }
    item.path = path;
    keyByPath_[path] = item.key;
    // A name it was given meanwhile and gave up again (renamed away, then deleted there) is no change of its
    // own: the template is back here.
    grace_->dropKey(item.key);
    reportPending();
    return true;
}

void TemplateFiles::graceOver(const QString& path, const ReplaceGrace::Away& away) {
    const auto found = items_.find(away.key);
    if (found == items_.end())
        return reportPending();
    if (away.renamedTo.isEmpty())
        deleteNow(found->second.get(), path);
    else
        enqueueMove(away.key, path, found->second->path);
    reportPending();
}

void TemplateFiles::letGoBelow(const QString& folder) {
    grace_->letGoIf([&](const QString& path, const ReplaceGrace::Away& away) {
        return folder.isEmpty() || path.startsWith(folder + u'/') ||
               (!away.renamedTo.isEmpty() && items_.count(away.key) &&
                items_.at(away.key)->path.startsWith(folder + u'/'));
    });
}

void TemplateFiles::enqueueMove(Key key, const QString& from, const QString& to) {
    // `to` is where the file is as the user moved it; folder changes made after that are carried out on the
    // site after this move, and re-key it then.
    enqueue(
        key, RequestScheduler::Kind::move,
        [this, key, to](RequestScheduler::Done done) {
            const auto found = items_.find(key);
            if (found == items_.end())
                return done(RequestScheduler::Result::confirmed);
            Item& item = *found->second;
            const QString from = item.sitePath; // where the site has it once the earlier changes are done
            if (from == to)
                return done(RequestScheduler::Result::confirmed);
            const std::optional<QString> toGroup =
                site_.withDictionaries([&](PathDictionaries& d) -> std::optional<QString> {
                    const auto parent = d.folderDictionary.find(parentOf(to));
                    return parent == d.folderDictionary.end() ? std::nullopt : parent->second.templateGroupID;
                });
            if (!toGroup) {
                // Moved out of every known group: the site keeps the template, the file stays local.
                keyByPath_.erase(item.path);
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
        from);
    reportPending();
}

void TemplateFiles::recordMoved(Key key, const QString& from, const QString& to, const QString& toGroup,
                                const std::optional<QString>& newID) {
    const auto found = items_.find(key);
    if (found == items_.end())
        return;
    Item& moved = *found->second;
    moved.groupID = toGroup;
    moved.templateID = newID.value_or(moved.templateID);
    moved.sitePath = to;
    site_.withDictionaries([&](PathDictionaries& d) {
        if (FileRecord* record = d.moveFileRecord(from, to)) {
            record->templateGroupID = toGroup;
            record->templateID = moved.templateID;
        }
    });
    enqueueUpdate(key); // written under its new name before the move was confirmed
}

void TemplateFiles::replaceTemplate(const QString& source, const QString& destination) {
    // An editor's save: new content written elsewhere, then renamed over the template. The template keeps
    // its identity and gets the new content; whatever stood at the source goes.
    Item* target = itemAt(destination);
    if (Item* replaced = itemAt(source); replaced && replaced != target) {
        if (replaced->onSite) {
            removed(source);
        } else {
            forget(replaced->key);
        }
    }
    target->dirty = true;
    if (!target->creating) // a create reads the content when it goes, and its answer sends what changed since
        scheduleUpload(*target, true);
}

int TemplateFiles::pendingCount() const {
    int count = queue_.pendingCount() + grace_->size();
    for (const auto& [key, item] : items_)
        if (item->dirty || (item->creating && !item->watch->cancelled()) ||
            (item->refused && !queue_.hasPending(key)))
            ++count;
    return count;
}

bool TemplateFiles::changesOnTheWay() const {
    if (!queue_.isIdle() || !grace_->empty())
        return true;
    for (const auto& [key, item] : items_)
        if (item->dirty || (item->creating && !item->watch->cancelled()))
            return true;
    return false;
}

void TemplateFiles::forgetFile(const QString& file) {
    if (const auto it = keyByPath_.find(file); it != keyByPath_.end())
        forget(it->second);
}

QList<PendingFile> TemplateFiles::pendingFiles() const {
    QList<PendingFile> files;
    std::set<QString> listed;
    for (const auto& [key, item] : items_) {
        PendingFile file{item->path.mid(mirror_.size()), PendingFile::State::waiting, {}};
        switch (queue_.laneState(key)) {
        case RequestScheduler::LaneState::sending:
            file.state = PendingFile::State::sending;
            break;
        case RequestScheduler::LaneState::retrying:
            file.state = PendingFile::State::retrying;
            file.nextTry = queue_.nextTry(key);
            break;
        case RequestScheduler::LaneState::waiting:
            break;
        case RequestScheduler::LaneState::idle:
            if (item->refused) {
                file.state = PendingFile::State::refused;
                file.message = item->refusal;
            } else if (!item->dirty && !(item->creating && !item->watch->cancelled())) {
                continue;
            }
            break;
        }
        listed.insert(item->path);
        files.append(file);
    }
    // A name given up a moment ago: its rename or delete waits for the grace.
    for (const QString& path : grace_->paths())
        if (!listed.count(path))
            files.append({path.mid(mirror_.size()), PendingFile::State::waiting, {}});
    std::sort(files.begin(), files.end(),
              [](const PendingFile& a, const PendingFile& b) { return a.path < b.path; });
    return files;
}

bool TemplateFiles::tryAgain(const QString& file) {
    const auto it = keyByPath_.find(file);
    if (it == keyByPath_.end())
        return false;
    Item& item = *items_.at(it->second);
    if (!item.refused || queue_.hasPending(item.key))
        return false;
    logLine(QStringLiteral("Trying again: ") + file);
    item.dirty = true;
    if (item.onSite)
        scheduleUpload(item, true);
    else if (!item.creating)
        startCreate(item);
    reportPending();
    return true;
}

void TemplateFiles::reportPending() {
    if (!filesReport_->isActive())
        filesReport_->start(filesReportMs);
    const int count = pendingCount();
    if (count == lastPending_)
        return;
    lastPending_ = count;
    logLine(QStringLiteral("Pending uploads: %1").arg(count));
    emit pendingCountChanged(count);
}

void TemplateFiles::sendSaves() {
    std::vector<Key> dirty;
    for (const auto& [key, item] : items_)
        if (item->dirty && !item->creating)
            dirty.push_back(key);
    for (Key key : dirty)
        enqueueUpdate(key);
}

void TemplateFiles::settle(int graceMs) {
    letGoBelow({});
    std::vector<Key> creating;
    for (const auto& [key, item] : items_)
        if (item->creating && !item->watch->cancelled())
            creating.push_back(key);
    for (Key key : creating)
        finishCreate(key);
    sendSaves();
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(this, &TemplateFiles::pendingCountChanged, &loop, [this, &loop] {
        if (!changesOnTheWay())
            loop.quit();
    });
    if (changesOnTheWay()) {
        deadline.start(graceMs);
        loop.exec();
    }
}

LocalState TemplateFiles::localState(const QString& path) {
    Item* item = itemAt(path);
    if (!item)
        return LocalState::unconfirmed;
    if (item->dirty || item->creating || queue_.hasPending(item->key))
        return LocalState::pending;
    const FileContent content = readFile(path);
    return content.kind == FileContent::Kind::regular &&
                   item->confirmed == ContentDigest::ofContent(content.bytes)
               ? LocalState::confirmed
               : LocalState::unconfirmed;
}

namespace {
// `path` below `from` is taken to the same place below `to`; false when it is not below `from`.
bool movedBelow(QString& path, const QString& from, const QString& to) {
    if (!path.startsWith(from + u'/'))
        return false;
    path = to + path.mid(from.size());
    return true;
}
} // namespace

void TemplateFiles::folderMoved(const QString& from, const QString& to) {
    std::map<QString, Key> paths;
    for (const auto& [old, key] : keyByPath_) {
        QString path = old;
        movedBelow(path, from, to);
        paths[path] = key;
    }
    keyByPath_ = std::move(paths);
    for (auto& [key, item] : items_) {
        if (!movedBelow(item->path, from, to))
            continue;
        if (item->watch)
            item->watch->moveTo(item->path);
        if (item->dirty && item->onSite)
            scheduleUpload(*item, false);
    }
}

void TemplateFiles::groupMovedOnSite(const QString& from, const QString& to) {
    for (auto& [key, item] : items_)
        movedBelow(item->sitePath, from, to);
}

void TemplateFiles::refreshGroupIDs() {
    // From the folder, not the template's own record: a template deleted while its group was renamed has no
    // record any more, and its delete still needs the group's new identifier.
    site_.withDictionaries([&](PathDictionaries& d) {
        for (auto& [key, item] : items_) {
            const auto folder = d.folderDictionary.find(parentOf(item->sitePath));
            if (item->onSite && folder != d.folderDictionary.end() && folder->second.templateGroupID)
                item->groupID = *folder->second.templateGroupID;
        }
    });
}

void TemplateFiles::forgetBelow(const QString& folder) {
    std::vector<Key> keys;
    for (const auto& [key, item] : items_)
        if (item->path.startsWith(folder + u'/'))
            keys.push_back(key);
    for (Key key : keys)
        forget(key);
}

bool TemplateFiles::settledForRefresh() const {
    return queue_.onlySaves() && grace_->empty();
}

std::map<QString, SiteCheck::Save> TemplateFiles::unsettledFiles() const {
    std::map<QString, SiteCheck::Save> files;
    for (const auto& [key, item] : items_) {
        if (!item->dirty && !item->creating && !item->refused && !queue_.hasPending(key))
            continue;
        const FileContent content = readFile(item->path);
        if (content.kind != FileContent::Kind::regular)
            continue;
        std::vector<ContentDigest> known = item->maybeOnSite;
        if (item->confirmed)
            known.push_back(*item->confirmed);
        files.emplace(item->path, SiteCheck::Save{item->groupID, item->templateID, item->path, known,
                                                  ContentDigest::ofContent(content.bytes)});
    }
    return files;
}

void TemplateFiles::siteHolds(const QString& file, const ContentDigest& text) {
    const auto key = keyByPath_.find(file);
    if (key == keyByPath_.end())
        return;
    Item& item = *items_.at(key->second);
    if (!item.onSite)
        return;
    item.confirmed = text;
    item.maybeOnSite.clear();
    const FileContent content = readFile(file);
    if (content.kind == FileContent::Kind::regular && ContentDigest::ofContent(content.bytes) == text)
        item.refused = false;
    reportPending();
}

void TemplateFiles::forgetAllBut(const std::set<QString>& kept) {
    grace_->clear();
    std::vector<Key> keys;
    for (const auto& [key, item] : items_)
        if (!kept.count(item->path))
            keys.push_back(key);
    for (Key key : keys)
        forget(key);
}

QStringList TemplateFiles::localOnlyFiles() const {
    QStringList result;
    QDirIterator it(mirror_, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        if (isRegularFile(file) && neverSent(file.mid(mirror_.size())))
            result << file;
    }
    return result;
}

QStringList TemplateFiles::unconfirmedFiles() const {
    QStringList result;
    QDirIterator it(mirror_, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        if (it.fileInfo().isSymLink() || neverSent(file.mid(mirror_.size())))
            continue;
        std::optional<ContentDigest> confirmed;
        if (const auto key = keyByPath_.find(file); key != keyByPath_.end())
            confirmed = items_.at(key->second)->confirmed;
        else
            confirmed = const_cast<WebsiteInUse&>(site_).withDictionaries(
                [&](PathDictionaries& d) -> std::optional<ContentDigest> {
                    const auto record = d.fileDictionary.find(order_.recordPathOf(file));
                    return record == d.fileDictionary.end() ? std::nullopt
                                                            : std::optional(record->second.encodedData);
                });
        const FileContent content = readFile(file);
        if (content.kind == FileContent::Kind::regular &&
            (!confirmed || ContentDigest::ofContent(content.bytes) != *confirmed))
            result << file;
    }
    return result;
}

} // namespace folvane
