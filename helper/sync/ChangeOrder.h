#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <map>
#include <vector>

namespace folvane {

// The user's order of changes, and what each change waits for before it goes to the site. Every change
// (a template request or a group change) gets the next number; a request waits only for changes numbered
// before it that concern the same folders, so waits can never form a circle:
// - a template request waits for the group changes made before it of the folder it is in (or was in, for a
//   move) or of a folder above it, so it goes out with the names and identifiers the site has then;
// - a group rename, move or delete waits for the template requests made before it below that folder.
// Also knows the path the records keep a file or folder under while a folder move is not yet followed by
// them. Main thread only; nothing here does I/O.
class ChangeOrder {
public:
    using Order = quint64;
    using Key = quint64; // a template's local identity, as the upload queue knows it
    using Then = std::function<void()>;

    Order next() { return ++last_; }
    Order last() const { return last_; }

    // A template request made as change `order`, concerning `paths` (full local paths), is waiting or out.
    void fileRequestQueued(Key key, Order order, QStringList paths);
    // The newest request of `key` was merged into one already waiting: it is not a request of its own.
    void fileRequestWithdrawn(Key key);
    // The oldest request of `key` is answered (or given up); every request of `key` is dropped by `forget`.
    void fileRequestDone(Key key);
    void forget(Key key);
    // Runs `then` once no template request made before `order` below `folder` is waiting or out; returns
    // false, without calling it, when none is.
    bool waitForFileRequests(Order order, const QString& folder, Then then);

    // A group change of `folders` (a move's source, then its destination) made as change `order`.
    void groupChangeQueued(Order order, QStringList folders, bool isMove);
    // The site answered the change: whatever waited for it goes now.
    void groupChangeDone(Order order);
    // The records already follow the move from `from` to `to`.
    void groupRecordsMoved(const QString& from, const QString& to);
    bool groupChangesPending() const { return !groups_.empty(); }
    // Runs `then` once no group change made before `order` of `folder` or a folder above is unanswered;
    // returns false, without calling it, when none is.
    bool waitForGroupChanges(Order order, const QString& folder, Then then);

    // The path the records know a file or folder at `path` by: the moves they do not follow yet undone.
    QString recordPathOf(const QString& path) const;

private:
    struct GroupChange {
        QStringList folders;
        bool isMove = false;
        bool recordsMoved = false;
        std::vector<Then> waiting;
    };
    struct FilesWait {
        Order order;
        QString folder;
        Then then;
    };
    bool fileRequestsBefore(Order order, const QString& folder) const;
    void releaseSettledFolders();

    Order last_ = 0;
    std::map<Key, std::deque<std::pair<Order, QStringList>>> fileRequests_; // oldest first per template
    std::map<Order, GroupChange> groups_;                                   // until answered
    std::vector<FilesWait> waitingForFiles_;
};

} // namespace folvane
