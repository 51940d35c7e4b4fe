#include "ChangeOrder.h"

#include "tree/PathText.h"

namespace folvane {

namespace {
bool atOrBelow(const QString& path, const QString& folder) {
    return path == folder || isBelow(path, folder);
}
} // namespace

void ChangeOrder::fileRequestQueued(Key key, Order order, QStringList paths) {
    fileRequests_[key].emplace_back(order, std::move(paths));
}

void ChangeOrder::fileRequestWithdrawn(Key key) {
    if (const auto it = fileRequests_.find(key); it != fileRequests_.end()) {
        it->second.pop_back();
        if (it->second.empty())
            fileRequests_.erase(it);
    }
}

void ChangeOrder::fileRequestDone(Key key) {
    if (const auto it = fileRequests_.find(key); it != fileRequests_.end()) {
        if (!it->second.empty())
            it->second.pop_front();
        if (it->second.empty())
            fileRequests_.erase(it);
    }
    releaseSettledFolders();
}

void ChangeOrder::forget(Key key) {
    fileRequests_.erase(key);
}

bool ChangeOrder::waitForFileRequests(Order order, const QString& folder, Then then) {
    if (!fileRequestsBefore(order, folder))
        return false;
    waitingForFiles_.push_back({order, folder, std::move(then)});
    return true;
}

bool ChangeOrder::fileRequestsBefore(Order order, const QString& folder) const {
    for (const auto& [key, requests] : fileRequests_)
        for (const auto& [made, paths] : requests)
            for (const QString& path : paths)
                if (made < order && isBelow(path, folder))
                    return true;
    return false;
}

void ChangeOrder::releaseSettledFolders() {
    std::vector<Then> ready;
    for (auto it = waitingForFiles_.begin(); it != waitingForFiles_.end();) {
        if (fileRequestsBefore(it->order, it->folder)) {
            ++it;
            continue;
        }
        ready.push_back(std::move(it->then));
        it = waitingForFiles_.erase(it);
    }
    for (Then& then : ready)
        then();
}

void ChangeOrder::groupChangeQueued(Order order, QStringList folders, bool isMove) {
    GroupChange& change = groups_[order];
    change.folders = std::move(folders);
    change.isMove = isMove;
}

void ChangeOrder::groupChangeDone(Order order) {
    const auto it = groups_.find(order);
    if (it == groups_.end())
        return; // answered already
    std::vector<Then> waiting = std::move(it->second.waiting);
    groups_.erase(it);
    for (Then& next : waiting)
        next();
}

void ChangeOrder::groupRecordsMoved(const QString& from, const QString& to) {
    for (auto& [order, change] : groups_)
        if (change.isMove && change.folders == QStringList{from, to})
            change.recordsMoved = true;
}

bool ChangeOrder::waitForGroupChanges(Order order, const QString& folder, Then then) {
    for (auto& [made, change] : groups_) {
        if (made >= order)
            break;
        for (const QString& changed : change.folders) {
            if (atOrBelow(folder, changed)) {
                change.waiting.push_back(std::move(then));
                return true;
            }
        }
    }
    return false;
}

QString ChangeOrder::recordPathOf(const QString& path) const {
    // Newest first: each undone move takes the path back to where it was before that move.
    QString recorded = path;
    for (auto it = groups_.rbegin(); it != groups_.rend(); ++it) {
        const GroupChange& change = it->second;
        if (!change.isMove || change.recordsMoved)
            continue;
        const QString &from = change.folders.at(0), &to = change.folders.at(1);
        if (atOrBelow(recorded, to))
            recorded = from + recorded.mid(to.size());
    }
    return recorded;
}

} // namespace folvane
