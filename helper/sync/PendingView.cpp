#include "PendingView.h"

#include "ChangeOrder.h"
#include "GrowthWait.h"
#include "ReplaceGrace.h"
#include "RequestScheduler.h"
#include "VolumeFile.h"
#include "fs/VolumeEvents.h"
#include "tree/PathText.h"

#include <QDirIterator>
#include <algorithm>
#include <set>

namespace folvane {

PendingView::PendingView(const FileIdentities& files, const RequestScheduler& queue,
                         const ReplaceGrace& grace, WebsiteInUse& site, const ChangeOrder& order,
                         QString mirrorFolder)
    : files_(files), queue_(queue), grace_(grace), site_(site), order_(order),
      mirror_(std::move(mirrorFolder)) {}

bool PendingView::growing(const LocalFile& file) {
    return file.creating && !file.watch->cancelled();
}

int PendingView::pendingCount() const {
    int count = queue_.pendingCount() + grace_.size();
    for (const auto& [key, item] : files_.all())
        if (item->dirty || growing(*item) || (item->refused && !queue_.hasPending(key)))
            ++count;
    return count;
}

bool PendingView::changesOnTheWay() const {
    if (!queue_.isIdle() || !grace_.empty())
        return true;
    return std::ranges::any_of(files_.all(),
                               [](const auto& file) { return file.second->dirty || growing(*file.second); });
}

QList<PendingFile> PendingView::pendingFiles() const {
    QList<PendingFile> files;
    std::set<QString> listed;
    for (const auto& [key, item] : files_.all()) {
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
            } else if (!item->dirty && !growing(*item)) {
                continue;
            }
            break;
        }
        listed.insert(item->path);
        files.append(file);
    }
    // A name given up a moment ago: its rename or delete waits for the grace.
    for (const QString& path : grace_.paths())
        if (!listed.count(path))
            files.append({path.mid(mirror_.size()), PendingFile::State::waiting, {}});
    std::sort(files.begin(), files.end(),
              [](const PendingFile& a, const PendingFile& b) { return a.path < b.path; });
    return files;
}

std::map<QString, SiteCheck::Save> PendingView::unsettledFiles() const {
    std::map<QString, SiteCheck::Save> files;
    for (const auto& [key, item] : files_.all()) {
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

QStringList PendingView::mirrorFiles(bool sent) const {
    QStringList result;
    QDirIterator it(mirror_, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        if (isRegularFile(file) && !isRemovedOpenFile(file) && neverSent(file.mid(mirror_.size())) != sent)
            result << file;
    }
    return result;
}

QStringList PendingView::localOnlyFiles() const {
    return mirrorFiles(false);
}

QStringList PendingView::unconfirmedFiles() const {
    QStringList result;
    for (const QString& file : mirrorFiles(true)) {
        std::optional<ContentDigest> confirmed;
        if (const LocalFile* known = files_.at(file))
            confirmed = known->confirmed;
        else
            confirmed = site_.withRecords([&](const RecordTree& records) -> std::optional<ContentDigest> {
                const FileRecord* record = records.file(order_.recordPathOf(file));
                return record ? std::optional(record->encodedData) : std::nullopt;
            });
        const FileContent content = readFile(file);
        if (content.kind == FileContent::Kind::regular &&
            (!confirmed || ContentDigest::ofContent(content.bytes) != *confirmed))
            result << file;
    }
    return result;
}

LocalState PendingView::localState(const LocalFile* item, const QString& path) const {
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

void PendingView::siteHolds(const QString& file, const ContentDigest& text) {
    LocalFile* found = files_.at(file);
    if (!found || !found->onSite)
        return;
    LocalFile& item = *found;
    item.confirmed = text;
    item.maybeOnSite.clear();
    const FileContent content = readFile(file);
    if (content.kind == FileContent::Kind::regular && ContentDigest::ofContent(content.bytes) == text)
        item.refused = false;
}

} // namespace folvane
