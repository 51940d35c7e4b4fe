#include "UploadQueue.h"

#include <QTimer>
#include <algorithm>

namespace folvane {

UploadQueue::UploadQueue(QObject* parent) : QObject(parent) {}

bool UploadQueue::enqueue(Key key, Kind kind, Send send) {
    Lane& lane = lanes_[key];
    // A waiting update sends whatever the file holds when it goes: a second one would only repeat it.
    const bool absorbed = kind == Kind::update && !lane.waiting.empty() &&
                          lane.waiting.back().kind == Kind::update &&
                          !(lane.inFlight && lane.waiting.size() == 1);
    if (!absorbed)
        lane.waiting.push_back(Request{kind, std::move(send)});
    reportCount();
    if (!lane.inFlight && !lane.retryScheduled)
        startNext(key);
    return !absorbed;
}

int UploadQueue::pendingCount() const {
    int count = 0;
    for (const auto& [key, lane] : lanes_)
        count += static_cast<int>(lane.waiting.size());
    return count;
}

UploadQueue::LaneState UploadQueue::laneState(Key key) const {
    const auto it = lanes_.find(key);
    if (it == lanes_.end())
        return LaneState::idle;
    if (it->second.inFlight)
        return LaneState::sending;
    return it->second.retryScheduled ? LaneState::retrying : LaneState::waiting;
}

void UploadQueue::startNext(Key key) {
    auto it = lanes_.find(key);
    if (it == lanes_.end() || it->second.waiting.empty()) {
        if (it != lanes_.end())
            lanes_.erase(it);
        reportCount();
        return;
    }
    Lane& lane = it->second;
    lane.inFlight = true;
    Request& request = lane.waiting.front();
    ++request.attempts;
    emit changed();
    // The lane may be gone by the time the answer comes (never while in flight, but stay safe).
    request.send([this, key, called = std::make_shared<bool>(false)](Result result) {
        if (*called)
            return;
        *called = true;
        finished(key, result);
    });
}

void UploadQueue::finished(Key key, Result result) {
    auto it = lanes_.find(key);
    if (it == lanes_.end())
        return;
    Lane& lane = it->second;
    lane.inFlight = false;
    Request& request = lane.waiting.front();
    if (result == Result::transportFailed) {
        lane.retryScheduled = true;
        const int doublings = std::min(request.attempts - 1, 20);
        const int pause = static_cast<int>(std::min<qint64>(qint64(initialRetryMs) << doublings, maxRetryMs));
        QTimer::singleShot(pause, this, [this, key] {
            auto again = lanes_.find(key);
            if (again == lanes_.end())
                return;
            again->second.retryScheduled = false;
            startNext(key);
        });
        emit changed();
        return;
    }
    lane.waiting.pop_front();
    emit requestDone(key);
    startNext(key);
}

void UploadQueue::reportCount() {
    const int count = pendingCount();
    if (count != lastReported_) {
        lastReported_ = count;
        emit pendingCountChanged(count);
    }
    emit changed();
}

} // namespace folvane
