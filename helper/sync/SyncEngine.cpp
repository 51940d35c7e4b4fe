#include "SyncEngine.h"

#include "AnswerWait.h"
#include "ConsoleLog.h"
#include "LogLines.h"
#include "Recovery.h"
#include "addon/AddonClient.h"
#include "fs/VolumeControl.h"
#include "tree/PathText.h"
#include "tree/TemplateListSpool.h"
#include "tree/WebsiteInUse.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <algorithm>

namespace folvane {

SyncEngine::SyncEngine(WebsiteInUse& site, AddonClient& client, MirrorBuilder& builder, VolumeControl& volume,
                       Recovery& recovery, QString mirrorFolder, Options options, QObject* parent)
    : QObject(parent), site_(site), client_(client), volume_(volume), recovery_(recovery),
      mirror_(std::move(mirrorFolder)), options_(std::move(options)),
      listCheck_(client, QFileInfo(mirror_).path()),
      scheduler_(order_, [this](ListCheck::Reader read) { listCheck_.whenListed(std::move(read)); }),
      siteCheck_(client, recovery, mirror_, options_.checkSiteBeforeSave),
      files_(site, client, order_, scheduler_, siteCheck_, mirror_),
      groups_(site, client, order_, scheduler_, mirror_), mirrorRefresh_(site, builder, volume, mirror_) {
    connect(&files_, &TemplateFiles::pendingCountChanged, this, &SyncEngine::pendingCountChanged);
    connect(&files_, &TemplateFiles::pendingFilesMayHaveChanged, this, &SyncEngine::reportFiles);
    connect(&siteCheck_, &SiteCheck::noticesChanged, this, &SyncEngine::reportFiles);
}

void SyncEngine::reportFiles() {
    QList<PendingFile> files = pendingFiles();
    if (files == lastFiles_)
        return;
    lastFiles_ = std::move(files);
    emit pendingFilesChanged(lastFiles_);
}

QList<PendingFile> SyncEngine::pendingFiles() const {
    QList<PendingFile> files = files_.pendingFiles() + groups_.refusals();
    // A file still on its way shows that; its notice comes back once it is confirmed.
    for (const PendingFile& notice : siteCheck_.notices())
        if (std::none_of(files.begin(), files.end(),
                         [&](const PendingFile& f) { return f.path == notice.path; }))
            files.append(notice);
    std::sort(files.begin(), files.end(),
              [](const PendingFile& a, const PendingFile& b) { return a.path < b.path; });
    return files;
}

bool SyncEngine::held(std::function<void()> report) {
    if (pauses_ == 0)
        return false;
    held_.push_back(std::move(report));
    return true;
}

void SyncEngine::resume() {
    if (pauses_ == 0 || --pauses_ > 0)
        return;
    while (!held_.empty() && pauses_ == 0) {
        const std::function<void()> next = std::move(held_.front());
        held_.pop_front();
        next();
    }
}

void SyncEngine::logEvent(const QString& name, const QVariantMap& details) const {
    logLine(logline::eventLine(name, site_.title(), details));
}

void SyncEngine::fileCreated(const QString& path) {
    if (held([=, this] { fileCreated(path); }))
        return;
    logEvent(logline::fileCreated, {{QStringLiteral("path"), path}});
    files_.created(fullPath(path));
}

void SyncEngine::fileWritten(const QString& path) {
    if (held([=, this] { fileWritten(path); }))
        return;
    logEvent(logline::fileWritten, {{QStringLiteral("path"), path}});
    files_.written(fullPath(path));
}

void SyncEngine::tryAgain(const QString& path) {
    if (held([=, this] { tryAgain(path); }))
        return;
    if (!files_.tryAgain(fullPath(path)))
        logLine(QStringLiteral("Not tried again (not refused by the site, or on its way): ") + path);
}

void SyncEngine::fileReleased(const QString& path) {
    if (held([=, this] { fileReleased(path); }))
        return;
    files_.released(fullPath(path));
}

void SyncEngine::fileOpened(const QString& path) {
    if (!options_.fetchOnOpen || held([=, this] { fileOpened(path); }))
        return;
    // Every open made up to now waits for this one answer: it shows the site as it is after them.
    const std::uint64_t mark = volume_.openMark();
    logLine(QStringLiteral("Getting new template data"));
    const QString file = fullPath(path);
    logLine(file);
    const std::optional<FileRecord> record =
        site_.withRecords([&](const RecordTree& records) -> std::optional<FileRecord> {
            const FileRecord* found = records.file(file);
            return found ? std::optional(*found) : std::nullopt;
        });
    if (!record)
        return volume_.fileCurrent(path, mark);
    logLine(QStringLiteral("templateGroupID: ") + record->templateGroupID + QStringLiteral(", templateID: ") +
            record->templateID);
    client_.getTemplate(record->templateGroupID, record->templateID,
                        [this, file, path, mark](const Json& answer) {
                            mergeSiteVersion(answer, file);
                            volume_.fileCurrent(path, mark);
                        });
}

void SyncEngine::mergeSiteVersion(const Json& answer, const QString& file) {
    const std::optional<MirrorRefresh::SiteVersion> version = mirrorRefresh_.newerVersion(answer, file);
    if (!version)
        return;
    const LocalState local = files_.localState(file);
    if (local == LocalState::pending)
        return; // the user's newer content is on its way to the site
    // Without a copy of the user's edit the site's version waits: the open reads the edit.
    if (local == LocalState::unconfirmed && !recovery_.keep({file}).safe())
        return;
    const QString written = mirrorRefresh_.write(*version, file);
    if (written.isEmpty())
        return;
    // Only this file's identity starts again from its record: other files' work goes on.
    files_.forgetFile(file);
    files_.forgetFile(written);
}

void SyncEngine::moved(const QString& from, const QString& to) {
    if (held([=, this] { moved(from, to); }))
        return;
    logEvent(logline::moved, {{QStringLiteral("source"), from}, {QStringLiteral("destination"), to}});
    const QString source = fullPath(from), destination = fullPath(to);
    const QFileInfo target(destination);
    if (!target.isDir() || target.isSymLink())
        return files_.moved(source, destination);
    files_.letGoBelow(source);
    files_.folderMoved(source, destination);
    if (belowHiddenName(to) && !belowHiddenName(from))
        return groups_.hide(source, [this, destination] { files_.forgetBelow(destination); });
    groups_.move(source, destination, [this, source, destination](bool followed) {
        if (followed)
            files_.groupMovedOnSite(source, destination);
        files_.refreshGroupIDs();
    });
}

void SyncEngine::fileRemoved(const QString& path) {
    if (held([=, this] { fileRemoved(path); }))
        return;
    logEvent(logline::fileRemoved, {{QStringLiteral("path"), path}});
    files_.removed(fullPath(path));
}

void SyncEngine::folderMade(const QString& path) {
    if (held([=, this] { folderMade(path); }))
        return;
    logEvent(logline::folderMade, {{QStringLiteral("path"), path}});
    const QString folder = fullPath(path);
    groups_.create(folder, [this, path, folder](bool made) {
        if (!made || site_.cms != CMS::expressionEngine)
            return;
        // Every ExpressionEngine group gets an index template, created like any new file.
        QFile index(folder + QStringLiteral("/index.php"));
        if (index.exists() || !index.open(QIODevice::WriteOnly))
            return;
        index.close();
        volume_.invalidate(path);
        files_.created(index.fileName());
    });
}

void SyncEngine::folderRemoved(const QString& path) {
    if (held([=, this] { folderRemoved(path); }))
        return;
    logEvent(logline::folderRemoved, {{QStringLiteral("path"), path}});
    // The add-on deletes only an empty group: the deletes of the templates inside go first.
    files_.letGoBelow(fullPath(path));
    groups_.remove(fullPath(path));
}

bool SyncEngine::hasChangesPending() const {
    return files_.changesOnTheWay() || order_.groupChangesPending();
}

bool SyncEngine::waitUntil(const std::function<bool()>& condition, int ms) {
    const QDeadlineTimer deadline(ms);
    while (!condition() && !deadline.hasExpired() && !ending_ && !AnswerWait::abandoned())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    return condition();
}

SyncEngine::RefreshOutcome SyncEngine::refresh(QString* why) {
    const auto keepVolume = [why](const QString& reason) {
        logLine(QStringLiteral("Refresh: ") + reason + QStringLiteral("; keeping the volume as it is"));
        *why = reason;
        return RefreshOutcome::keptVolume;
    };
    // Changes get a moment to reach the site first. The list must show the site after every create, move,
    // delete and folder change, and the records those need must stay: the refresh goes only once nothing but
    // saves waits or is out. Saves still on their way, tried again or refused do not hold it up: their files
    // keep what the user made (see below).
    files_.sendSaves();
    waitUntil([this] { return !hasChangesPending(); }, options_.refreshSettleMs);
    if (ending_)
        return RefreshOutcome::abandoned;
    if (!files_.settledForRefresh() || order_.groupChangesPending())
        return keepVolume(QStringLiteral("changes are still on their way to the site"));
    const ChangeOrder::Order changesBefore = order_.last();
    const quint64 sentBefore = scheduler_.changesSent();
    // The list goes to disk as it arrives, not into memory: the mirror may be rebuilt from it only once it
    // is known whole, and holding a big site's whole list would cost hundreds of megabytes. Shared with
    // the transfer, which outlives a wait given up.
    const auto list = std::make_shared<TemplateListSpool>(QFileInfo(mirror_).path());
    const auto notKept = [&] {
        return keepVolume(QStringLiteral("the template list could not be kept on disk (") + list->failure() +
                          u')');
    };
    if (!list->failure().isEmpty())
        return notKept();
    const AddonClient::ListTransfer transfer =
        client_.streamTemplateList([list](QByteArrayView piece) { list->append(piece); });
    if (AnswerWait::abandoned() || ending_)
        return RefreshOutcome::abandoned; // the helper is ending and its mirror is going
    if (transfer != AddonClient::ListTransfer::arrived)
        return keepVolume(QStringLiteral("the template list could not be fetched"));
    const bool usable = list->isUsable();
    if (!list->failure().isEmpty())
        return notKept();
    if (!usable) {
        client_.checkDefaultGroup({}); // a list without groups has no default group either
        return keepVolume(QStringLiteral("the template list could not be fetched"));
    }
    // No change through the volume may land while the mirror is rebuilt (it could be undone). The reports of
    // changes that ended before the hold may still be on their way to this thread.
    volume_.holdChanges();
    holding_ = true;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
    if (ending_)
        return RefreshOutcome::abandoned; // the end let go of the hold
    const auto letGo = [this] {
        holding_ = false;
        volume_.resumeChanges();
    };
    // A create, move, delete or folder change sent meanwhile may have changed the site after the list showed
    // it; a new one needs the records as they are.
    if (order_.last() != changesBefore || scheduler_.changesSent() != sentBefore ||
        !files_.settledForRefresh() || order_.groupChangesPending()) {
        letGo();
        return keepVolume(QStringLiteral("the volume changed while the list was fetched"));
    }
    const std::map<QString, SiteCheck::Save> unsettled = files_.unsettledFiles();
    std::set<QString> kept;
    for (const auto& [path, save] : unsettled)
        kept.insert(path);
    QStringList overwritten;
    for (const QString& file : files_.unconfirmedFiles())
        if (!kept.count(file))
            overwritten << file;
    if (!recovery_.keep(overwritten).safe()) {
        letGo();
        return keepVolume(QStringLiteral("edits the site did not confirm could not be copied aside"));
    }
    pause();
    std::map<QString, QByteArray> siteTexts;
    const bool rebuilt = mirrorRefresh_.rebuild(*list, kept, &siteTexts);
    // A file left as the user made it: the site's text of it is kept when someone else made it there.
    for (const auto& [path, text] : siteTexts)
        if (siteCheck_.keepIfChangedElsewhere(unsettled.at(path), text))
            files_.siteHolds(path, ContentDigest::ofContent(text));
    files_.forgetAllBut(kept);
    groups_.forgetRefusals();
    letGo();
    resume();
    if (!rebuilt)
        return notKept();
    site_.withRecords([this](const RecordTree& records) { client_.checkDefaultGroup(records); });
    return RefreshOutcome::rebuilt;
}

bool SyncEngine::finish(int graceMs) {
    // A refresh holding the volume's changes lets go: a write waiting for it lands in the mirror, and is
    // kept below like any change the site has not confirmed.
    ending_ = true;
    if (std::exchange(holding_, false))
        volume_.resumeChanges();
    // Uploads still out get a moment to be confirmed; whatever the site has not confirmed by then is kept
    // before the mirror goes, and so are the files that only ever lived here.
    files_.sendAll();
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(&files_, &TemplateFiles::pendingCountChanged, &loop, [this, &loop] {
        if (!files_.changesOnTheWay())
            loop.quit();
    });
    if (files_.changesOnTheWay()) {
        deadline.start(graceMs);
        loop.exec();
    }
    return recovery_.keep(files_.unconfirmedFiles() + files_.localOnlyFiles()).safe();
}

} // namespace folvane
