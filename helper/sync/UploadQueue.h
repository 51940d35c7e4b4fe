#pragma once

#include <QObject>
#include <deque>
#include <functional>
#include <map>

class QTimer;

namespace folvane {

// Serialises the requests that change one template: at most one request per template is out at a time,
// the rest wait in the order the user made the changes. A content update that is still waiting absorbs
// later updates (it reads the file when it is sent, so it carries the latest content). Requests that got
// no answer at all are sent again after a growing pause, capped at about a minute, for as long as the
// helper runs (a laptop that lost its network for a while still delivers its saves); refusals are final.
class UploadQueue : public QObject {
    Q_OBJECT
public:
    using Key = quint64; // one per template, stable across renames and moves
    enum class Result { confirmed, refused, transportFailed };
    using Done = std::function<void(Result)>;
    // Sends one request and calls `done` exactly once with its outcome.
    using Send = std::function<void(Done done)>;
    enum class Kind { create, update, move, remove };

    explicit UploadQueue(QObject* parent = nullptr);

    // False when the request was absorbed by a waiting update (it sends nothing of its own).
    bool enqueue(Key key, Kind kind, Send send);
    // Requests waiting or out, over all templates.
    int pendingCount() const;
    bool isIdle() const { return pendingCount() == 0; }
    bool hasPending(Key key) const { return lanes_.count(key) > 0; }
    enum class LaneState { idle, waiting, sending, retrying };
    // Where the requests of `key` stand: none, one waiting its turn, one out, or one waiting to be sent
    // again.
    LaneState laneState(Key key) const;

    // The pause before attempt n+1 is initialRetryMs * 2^(n-1), at most maxRetryMs.
    int initialRetryMs = 500;
    int maxRetryMs = 60000;

signals:
    void pendingCountChanged(int count);
    // A request was queued, sent, answered or set to be sent again.
    void changed();
    // A request of `key` is done (answered, refused, or given up): the next one may go.
    void requestDone(Key key);

private:
    struct Request {
        Kind kind;
        Send send;
        int attempts = 0;
    };
    struct Lane {
        std::deque<Request> waiting;
        bool inFlight = false;
        bool retryScheduled = false;
    };
    void startNext(Key key);
    void finished(Key key, Result result);
    void reportCount();

    std::map<Key, Lane> lanes_;
    int lastReported_ = 0;
};

} // namespace folvane
