#pragma once

#include "ChangeOrder.h"
#include "SiteIndex.h"

#include <QDateTime>
#include <QObject>
#include <deque>
#include <functional>
#include <map>

namespace folvane {

struct AddonResult;

// Owns every add-on request of the synchronisation, template and group alike, and its fate. Requests go
// in lanes: one per template (stable across renames and moves) and one for all group changes; a lane has
// at most one request out, the rest wait in the order the user made the changes. A content update still
// waiting absorbs later updates (it reads the file when it is sent, so it carries the latest content).
// A template's request is admitted in the user's order of changes: it waits for the group changes made
// before it that concern the paths it touches (see ChangeOrder). One policy for every kind:
// - no answer at all: an update is sent again after a growing pause (capped near a minute), for as long as
//   the helper runs; a request that may have been carried out (a create, move, delete, any group change)
//   is never sent blindly: the site's template list first shows whether it took effect, and only what did
//   not is sent again;
// - a refusal is final for that request (the caller keeps the change unconfirmed and shows it); a refusal
//   of a request sent again after a lost answer is checked against the list first, as the lost one may
//   have been carried out late.
class RequestScheduler : public QObject {
    Q_OBJECT
public:
    using Key = quint64;
    static constexpr Key groupLane = 0; // template lanes are numbered from 1
    enum class Result { confirmed, refused, transportFailed };
    // Whether the site shows that the request took effect; when it does, the check has recorded what the
    // answer would have (identifiers and all).
    using Check = std::function<bool(const SiteIndex& site)>;
    // How a request ends; called exactly once.
    class Done {
    public:
        void operator()(Result result) const { end_(result, {}); }
        // No answer came to a request that may have been carried out: `check` decides from the site.
        void lost(Check check) const { end_(Result::transportFailed, std::move(check)); }

    private:
        friend class RequestScheduler;
        std::function<void(Result, Check)> end_;
    };
    using Send = std::function<void(Done done)>;
    // The admission test: true when the request must wait for earlier changes it depends on, which then
    // call `whenFree` (the test runs again before the request goes).
    using Admit = std::function<bool(std::function<void()> whenFree)>;
    enum class Kind { create, update, move, remove, group };

    // Hands the site's index (null when the list could not be had) to a reader, once it has it.
    using Listing = std::function<void(std::function<void(const SiteIndex*)> read)>;
    RequestScheduler(ChangeOrder& order, Listing listing, QObject* parent = nullptr);
    // What an add-on answer means for its request.
    static Result resultOf(const AddonResult& answer);

    // A request of the template `key` touching `paths` (where its file is, and for a move where it was):
    // it goes out with the names and identifiers the site has once the group changes made before it that
    // concern them are done, and no later. False when it was absorbed by a waiting update (it sends nothing
    // of its own).
    bool enqueue(Key key, Kind kind, Send send, const QStringList& paths = {});
    // A group change, once `admit` lets it go.
    void enqueueGroupChange(Send send, Admit admit);
    // Requests waiting or out, over all lanes.
    int pendingCount() const;
    bool isIdle() const { return lanes_.empty(); }
    bool hasPending(Key key) const { return lanes_.count(key) > 0; }
    // Whether every request still to be answered is a template's save.
    bool onlySaves() const;
    // Requests other than saves sent so far, tries again included.
    quint64 changesSent() const { return changesSent_; }
    enum class LaneState { idle, waiting, sending, retrying };
    // Where the requests of `key` stand: none, one waiting its turn (or for an earlier change it depends on),
    // one out, or one whose answer never came (being checked, or waiting to be sent again).
    LaneState laneState(Key key) const;
    // When a retrying lane tries next (invalid while it waits for the site's list).
    QDateTime nextTry(Key key) const;

    // The pause before attempt n+1 is initialRetryMs * 2^(n-1), at most maxRetryMs.
    int initialRetryMs = 500;
    int maxRetryMs = 60000;

signals:
    void pendingCountChanged(int count);
    // A request was queued, sent, answered or set to be sent again.
    void changed();
    // A request of `key` is done (answered, refused, or found carried out): the next one may go.
    void requestDone(Key key);

private:
    struct Request {
        Kind kind;
        Send send;
        Admit admit;
        int attempts = 0;
        Check check; // set once an answer never came
    };
    struct Lane {
        std::deque<Request> waiting;
        bool inFlight = false;
        bool retrying = false;
        bool admitting = false; // its front request waits for an earlier change
        QDateTime nextTry;
    };
    bool enqueue(Key key, Kind kind, Send send, Admit admit);
    void startNext(Key key);
    void send(Key key);
    void finished(Key key, Result result, Check check);
    // The site's list decides whether the front request of `key` took effect; `refused` when it was
    // refused after an earlier answer never came.
    void checkSite(Key key, bool refused);
    void later(Key key, const std::function<void()>& then);
    void complete(Key key);
    void reportCount();

    ChangeOrder& order_;
    Listing listing_;
    std::map<Key, Lane> lanes_;
    int lastReported_ = 0;
    quint64 changesSent_ = 0;
};

} // namespace folvane
