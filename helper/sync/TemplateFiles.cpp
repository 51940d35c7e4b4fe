#include "TemplateFiles.h"

#include "AnswerText.h"
#include "ConsoleLog.h"
#include "LogLines.h"
#include "VolumeFile.h"
#include "addon/AddonClient.h"
#include "tree/PathText.h"
#include "tree/WebsiteInUse.h"

#include <QFileInfo>
#include <QTimer>
#include <set>

namespace folvane {

TemplateFiles::TemplateFiles(WebsiteInUse& site, AddonClient& client, ChangeOrder& order,
                             RequestScheduler& queue, SiteCheck& siteCheck, QString mirrorFolder,
                             QObject* parent)
    : QObject(parent), site_(site), client_(client), order_(order), mirror_(mirrorFolder), queue_(queue),
      siteCheck_(siteCheck),
      grace_(new ReplaceGrace(
          [this](const QString& path, const ReplaceGrace::Away& away) { graceOver(path, away); }, this)),
      requests_(
          site, client, order, queue, files_, mirrorFolder,
          {[this](Key key) { forget(key); }, [this] { reportPending(); }, [this](Key key) { save(key); }}),
      view_(files_, queue, *grace_, site, order, mirrorFolder), filesReport_(new QTimer(this)),
      growth_(this) {
    filesReport_->setSingleShot(true);
    // The engine compares the list with the one it posted last (it adds entries of its own).
    connect(filesReport_, &QTimer::timeout, this, &TemplateFiles::pendingFilesMayHaveChanged);
    connect(&queue_, &RequestScheduler::changed, this, &TemplateFiles::reportPending);
}

TemplateFiles::~TemplateFiles() = default;

LocalFile* TemplateFiles::itemAt(const QString& path) {
    // Nothing below a hidden folder goes to the site, one hidden after its files were known included.
    if (belowHiddenName(parentOf(path).mid(mirror_.size())))
        return nullptr;
    if (LocalFile* known = files_.at(path))
        return known;
    // The records may not follow a folder move yet; they know the file under its path before it.
    const QString recorded = order_.recordPathOf(path);
    return site_.withRecords(
        [&](const RecordTree& records) { return files_.adopt(path, recorded, records); });
}

void TemplateFiles::forget(Key key) {
    const LocalFile* file = files_.find(key);
    if (!file)
        return;
    if (file->watch)
        file->watch->cancel();
    files_.remove(key);
    order_.forget(key);
    reportPending();
}

void TemplateFiles::created(const QString& file) {
    logLine(QStringLiteral("Creating template"));
    logLine(QStringLiteral("Found a file that is changed"));
    logLine(nameOf(file));
    if (belowHiddenName(file.mid(mirror_.size())))
        return;
    if (reclaim(file)) {
        LocalFile& back = *files_.at(file);
        back.dirty = true;
        scheduleUpload(back, false);
        return;
    }
    if (LocalFile* existing = itemAt(file)) {
        // Made anew while its create is still waiting (it reads the content when it goes), or a template's
        // file replaced outside our sight: either way a save.
        existing->dirty = true;
        if (existing->onSite)
            scheduleUpload(*existing, false);
        else if (!existing->creating)
            startCreate(*existing);
        return;
    }
    startCreate(files_.add(file));
}

void TemplateFiles::startCreate(LocalFile& item) {
    item.creating = true;
    item.watch =
        growth_.watch(item.path, stableIntervalMs, [this, key = item.key] { requests_.create(key); });
    reportPending();
}

void TemplateFiles::written(const QString& file) {
    logLine(QStringLiteral("SAVEING FILE DATA"));
    LocalFile* item = itemAt(file);
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
    LocalFile* item = files_.at(file);
    if (item && item->dirty && !item->creating)
        scheduleUpload(*item, true);
}

void TemplateFiles::scheduleUpload(LocalFile& item, bool now) {
    if (now) {
        if (item.quiet)
            item.quiet->stop();
        save(item.key);
        return;
    }
    if (!item.quiet) {
        item.quiet = new QTimer(this);
        item.quiet->setSingleShot(true);
        connect(item.quiet, &QTimer::timeout, this, [this, key = item.key] {
            if (const LocalFile* file = files_.find(key); file && file->dirty)
                save(key);
        });
        connect(this, &QObject::destroyed, item.quiet, &QObject::deleteLater);
    }
    item.quiet->start(quietPeriodMs);
}

void TemplateFiles::save(Key key) {
    LocalFile* file = files_.find(key);
    if (!file)
        return;
    file->dirty = false;
    queue_.enqueue(key, RequestScheduler::Kind::update,
                   [this, key](RequestScheduler::Done done) { checkSave(key, done); }, {file->path});
    reportPending();
}

void TemplateFiles::checkSave(Key key, RequestScheduler::Done done) {
    LocalFile* found = files_.find(key);
    if (!found || !found->onSite)
        return done(RequestScheduler::Result::confirmed);
    LocalFile& item = *found;
    const FileContent content = readFile(item.path);
    if (content.kind == FileContent::Kind::notRegular) {
        logLine(QStringLiteral("Not a regular file, not sent: ") + item.path);
        return done(RequestScheduler::Result::confirmed);
    }
    if (content.kind == FileContent::Kind::gone) {
        // Gone from where it was a moment ago: a removal is handled by its own report (or was already: then
        // the path is no longer tracked); after a move (of the file's folder, say, whose report has not come
        // yet) the save is still owed.
        item.dirty = files_.linked(item.path);
        return done(RequestScheduler::Result::confirmed);
    }
    const QByteArray data = content.bytes.toBase64();
    const ContentDigest digest = ContentDigest::ofBase64(data);
    if (item.confirmed == digest)
        return done(RequestScheduler::Result::confirmed);
    // The site's text is looked at first: a change someone else made there is kept before this replaces it.
    std::vector<ContentDigest> known = item.maybeOnSite;
    if (item.confirmed)
        known.push_back(*item.confirmed);
    siteCheck_.beforeSave({item.groupID, item.templateID, item.path, known, digest},
                          [this, key, data, digest, done](SiteCheck::Answer answer) {
                              if (answer == SiteCheck::Answer::retry)
                                  return done(RequestScheduler::Result::transportFailed);
                              sendSave(key, data, digest, done);
                          });
}

void TemplateFiles::sendSave(Key key, const QByteArray& data, const ContentDigest& digest,
                             RequestScheduler::Done done) {
    LocalFile* found = files_.find(key);
    if (!found || !found->onSite)
        return done(RequestScheduler::Result::confirmed);
    LocalFile& item = *found;
    logLine(QStringLiteral("pathLookup: ") + item.path);
    logLine(QStringLiteral("t_GroupID: ") + item.groupID);
    logLine(QStringLiteral("t_ID: ") + item.templateID);
    logLine(QStringLiteral("data: ") + forLog(data));
    site_.withRecords([&](RecordTree& records) {
        if (FileRecord* record = records.file(item.sitePath))
            record->encodedData = digest;
    });
    client_.updateTemplate(item.groupID, item.templateID, QString::fromLatin1(data),
                           [this, key, digest, done](const AddonResult& result) {
                               if (LocalFile* sent = files_.find(key))
                                   saveAnswered(*sent, digest, result);
                               done(RequestScheduler::resultOf(result));
                           });
}

void TemplateFiles::saveAnswered(LocalFile& file, const ContentDigest& digest, const AddonResult& result) {
    if (!result.transportFailed)
        logLine(logline::uploadOutcome(file.path.mid(mirror_.size()), result.success, refusalOf(result)));
    if (result.success) {
        file.confirmed = digest;
        file.maybeOnSite.clear();
    } else if (result.transportFailed) {
        file.maybeOnSite.push_back(digest);
    }
    file.refused = !result.success;
    file.refusal = result.message.value_or(QString());
}

void TemplateFiles::removed(const QString& file) {
    logLine(QStringLiteral("Deleting template"));
    LocalFile* item = itemAt(file);
    if (item && item->onSite && !item->creating) {
        // Perhaps an editor replacing the file (git, say): its name may be taken again at once.
        files_.unlink(file);
        holdAway(file, item->key, {});
        return;
    }
    requests_.removed(item, file);
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
    if (LocalFile* target = itemAt(destination);
        target && (target->onSite || target->creating) && itemAt(source) != target) {
        replaceTemplate(source, destination);
        return;
    }
    LocalFile* item = itemAt(source);
    if (!item) {
        // A file nobody tracked (a hidden temporary file, say) renamed to a name that can be a template:
        // from the site's view a new file appeared.
        if (!nameOf(destination).startsWith(u'.'))
            created(destination);
        return;
    }
    files_.unlink(source);
    files_.place(*item, destination);
    if (item->watch)
        item->watch->moveTo(destination);
    // A hidden name is never sent: the template stays on the site as it is, and the file stays here.
    const bool hidden = belowHiddenName(destination.mid(mirror_.size()));
    if (item->creating || !item->onSite) {
        if (hidden && !queue_.hasPending(item->key))
            forget(item->key);
        return; // the create goes out under the name the file has then
    }
    if (hidden) // nothing written there reaches the template; only the grace may bring the name back
        files_.unlink(destination);
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
    LocalFile* found = files_.find(away->key);
    if (!found)
        return false;
    LocalFile& item = *found;
    logLine(QStringLiteral("The name was taken again at once: a save of the same template: ") + path);
    if (!away->renamedTo.isEmpty()) {
        // What was set aside is a file of its own now; it becomes a template only if it is still there
        // when the grace is over (a backup removed meanwhile sends nothing).
        const QString setAside = item.path;
        files_.unlink(setAside);
        QTimer::singleShot(replaceGraceMs, this, [this, setAside] {
            if (!files_.linked(setAside) && QFileInfo(setAside).isFile())
                created(setAside);
        });
    }
    files_.place(item, path);
    // A name it was given meanwhile and gave up again (renamed away, then deleted there) is no change of its
    // own: the template is back here.
    grace_->dropKey(item.key);
    reportPending();
    return true;
}

void TemplateFiles::graceOver(const QString& path, const ReplaceGrace::Away& away) {
    LocalFile* found = files_.find(away.key);
    if (!found)
        return reportPending();
    if (away.renamedTo.isEmpty())
        requests_.removed(found, path);
    else if (belowHiddenName(found->path.mid(mirror_.size())))
        forget(away.key);
    else
        requests_.move(away.key, path, found->path);
    reportPending();
}

void TemplateFiles::letGoBelow(const QString& folder) {
    grace_->letGoIf([&](const QString& path, const ReplaceGrace::Away& away) {
        return folder.isEmpty() || isBelow(path, folder) ||
               (!away.renamedTo.isEmpty() && files_.find(away.key) &&
                isBelow(files_.find(away.key)->path, folder));
    });
}

void TemplateFiles::replaceTemplate(const QString& source, const QString& destination) {
    // An editor's save: new content written elsewhere, then renamed over the template. The template keeps
    // its identity and gets the new content; whatever stood at the source goes.
    LocalFile* target = itemAt(destination);
    if (LocalFile* replaced = itemAt(source); replaced && replaced != target) {
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

void TemplateFiles::forgetFile(const QString& file) {
    if (const LocalFile* item = files_.at(file))
        forget(item->key);
}

bool TemplateFiles::tryAgain(const QString& file) {
    LocalFile* found = files_.at(file);
    if (!found)
        return false;
    LocalFile& item = *found;
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

void TemplateFiles::sendAll() {
    letGoBelow({});
    for (Key key :
         files_.keysWhere([](const LocalFile& file) { return file.creating && !file.watch->cancelled(); }))
        requests_.create(key);
    sendSaves();
}

void TemplateFiles::sendSaves() {
    for (Key key : files_.keysWhere([](const LocalFile& file) { return file.dirty && !file.creating; }))
        save(key);
}

LocalState TemplateFiles::localState(const QString& file) {
    return view_.localState(itemAt(file), file);
}

void TemplateFiles::siteHolds(const QString& file, const ContentDigest& text) {
    view_.siteHolds(file, text);
    reportPending();
}

void TemplateFiles::folderMoved(const QString& from, const QString& to) {
    for (LocalFile* item : files_.moveBelow(from, to)) {
        if (item->watch)
            item->watch->moveTo(item->path);
        if (item->dirty && item->onSite)
            scheduleUpload(*item, false);
    }
}

void TemplateFiles::groupMovedOnSite(const QString& from, const QString& to) {
    files_.siteMovedBelow(from, to);
}

void TemplateFiles::refreshGroupIDs() {
    site_.withRecords([&](const RecordTree& records) { files_.followGroupIDs(records); });
}

void TemplateFiles::forgetBelow(const QString& folder) {
    for (Key key : files_.keysWhere([&](const LocalFile& file) { return isBelow(file.path, folder); }))
        forget(key);
}

bool TemplateFiles::settledForRefresh() const {
    return queue_.onlySaves() && grace_->empty();
}

void TemplateFiles::forgetAllBut(const std::set<QString>& kept) {
    grace_->clear();
    for (Key key : files_.keysWhere([&](const LocalFile& file) { return !kept.count(file.path); }))
        forget(key);
}

} // namespace folvane
