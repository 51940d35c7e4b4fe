#include "RequestScheduler.h"

#include "ConsoleLog.h"
#include "addon/AddonClient.h"
#include "tree/PathText.h"

#include <QTimer>
#include <algorithm>

namespace folvane {

RequestScheduler::RequestScheduler(ChangeOrder& order, Listing listing, QObject* parent)
    : QObject(parent), order_(order), listing_(std::move(listing)) {}

RequestScheduler::Result RequestScheduler::resultOf(const AddonResult& answer) {
    if (answer.transportFailed)
        return Result::transportFailed;
    return answer.success ? Result::confirmed : Result::refused;
}

bool RequestScheduler::enqueue(Key key, Kind kind, Send send, const QStringList& paths) {
    const ChangeOrder::Order made = order_.next();
    // Entered before it may be sent: a request answered at once is done before enqueue returns.
    order_.fileRequestQueued(key, made, paths);
    const auto afterGroupChanges = [this, made, paths](const std::function<void()>& whenFree) {
        for (const QString& path : paths)
            if (order_.waitForGroupChanges(made, parentOf(path), whenFree))
                return true;
        return false;
    };
    if (enqueue(key, kind, std::move(send), Admit(afterGroupChanges)))
        return true;
    order_.fileRequestWithdrawn(key);
    return false;
}

void RequestScheduler::enqueueGroupChange(Send send, Admit admit) {
    enqueue(groupLane, Kind::group, std::move(send), std::move(admit));
}

bool RequestScheduler::enqueue(Key key, Kind kind, Send send, Admit admit) {
    Lane& lane = lanes_[key];
    // A waiting update sends whatever the file holds when it goes: a second one would only repeat it.
    const bool absorbed = kind == Kind::update && !lane.waiting.empty() &&
                          lane.waiting.back().kind == Kind::update &&
                          !((lane.inFlight || lane.retrying) && lane.waiting.size() == 1);
    if (!absorbed)
        lane.waiting.push_back(Request{kind, std::move(send), std::move(admit), 0, {}});
    reportCount();
    if (!lane.inFlight && !lane.retrying && !lane.admitting)
        startNext(key);
    return !absorbed;
}

int RequestScheduler::pendingCount() const {
    int count = 0;
    for (const auto& [key, lane] : lanes_)
        count += static_cast<int>(lane.waiting.size());
    return count;
}

bool RequestScheduler::onlySaves() const {
    return std::all_of(lanes_.begin(), lanes_.end(), [](const auto& entry) {
        const std::deque<Request>& waiting = entry.second.waiting;
        return std::all_of(waiting.begin(), waiting.end(),
                           [](const Request& r) { return r.kind == Kind::update; });
    });
}

RequestScheduler::LaneState RequestScheduler::laneState(Key key) const {
    const auto it = lanes_.find(key);
    if (it == lanes_.end())
        return LaneState::idle;
    if (it->second.inFlight)
        return LaneState::sending;
    return it->second.retrying ? LaneState::retrying : LaneState::waiting;
}

QDateTime RequestScheduler::nextTry(Key key) const {
    const auto it = lanes_.find(key);
    return it == lanes_.end() ? QDateTime() : it->second.nextTry;
}

void RequestScheduler::startNext(Key key) {
    auto it = lanes_.find(key);
    if (it == lanes_.end() || it->second.waiting.empty()) {
        if (it != lanes_.end())
            lanes_.erase(it);
        reportCount();
        return;
    }
    const Admit& admit = it->second.waiting.front().admit;
    it->second.admitting =
        admit && admit([this, key] {
            if (const auto lane = lanes_.find(key); lane != lanes_.end() && lane->second.admitting) {
                lane->second.admitting = false;
                startNext(key);
            }
        });
    if (it->second.admitting)
        return emit changed();
    send(key);
}

void RequestScheduler::send(Key key) {
    Lane& lane = lanes_.at(key);
    lane.inFlight = true;
    Request& request = lane.waiting.front();
    if (request.kind != Kind::update)
        ++changesSent_;
    ++request.attempts;
    emit changed();
    Done done;
    done.end_ = [this, key, called = std::make_shared<bool>(false)](Result result, Check check) {
        if (*called)
            return;
        *called = true;
        finished(key, result, std::move(check));
    };
    request.send(done);
}

void RequestScheduler::finished(Key key, Result result, Check check) {
    auto it = lanes_.find(key);
    if (it == lanes_.end())
        return;
    Lane& lane = it->second;
    lane.inFlight = false;
    Request& request = lane.waiting.front();
    if (result == Result::transportFailed && check) {
        request.check = std::move(check);
        return checkSite(key, false);
    }
    if (result == Result::transportFailed)
        return later(key, [this, key] { startNext(key); });
    if (result == Result::refused && request.check)
        return checkSite(key, true);
    complete(key);
}

void RequestScheduler::checkSite(Key key, bool refused) {
    lanes_.at(key).retrying = true;
    lanes_.at(key).nextTry = {};
    emit changed();
    listing_([this, key, refused](const SiteIndex* site) {
        const auto it = lanes_.find(key);
        if (it == lanes_.end())
            return;
        Request& request = it->second.waiting.front();
        if (site && request.check(*site)) {
            logLine(QStringLiteral("The site shows that a request whose answer never came took effect"));
            it->second.retrying = false;
            return complete(key);
        }
        if (refused) {
            it->second.retrying = false;
            return complete(key);
        }
        // Not carried out (send it again), or the list could not be had (ask the site again).
        if (site)
            later(key, [this, key] { startNext(key); });
        else
            later(key, [this, key] { checkSite(key, false); });
    });
}

void RequestScheduler::later(Key key, const std::function<void()>& then) {
    Lane& lane = lanes_.at(key);
    lane.retrying = true;
    const int doublings = std::min(lane.waiting.front().attempts - 1, 20);
    const int pause = static_cast<int>(std::min<qint64>(qint64(initialRetryMs) << doublings, maxRetryMs));
    lane.nextTry = QDateTime::currentDateTimeUtc().addMSecs(pause);
    QTimer::singleShot(pause, this, [this, key, then] {
        const auto again = lanes_.find(key);
        if (again == lanes_.end())
            return;
        again->second.retrying = false;
        again->second.nextTry = {};
        then();
    });
    emit changed();
}

void RequestScheduler::complete(Key key) {
    lanes_.at(key).waiting.pop_front();
    if (key != groupLane)
        order_.fileRequestDone(key);
    emit requestDone(key);
    startNext(key);
}

void RequestScheduler::reportCount() {
    const int count = pendingCount();
    if (count != lastReported_) {
        lastReported_ = count;
        emit pendingCountChanged(count);
    }
    emit changed();
}

} // namespace folvane
