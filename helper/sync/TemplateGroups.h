#pragma once

#include "ChangeOrder.h"
#include "PendingFiles.h"
#include "RequestScheduler.h"

#include <QObject>
#include <QString>
#include <deque>
#include <functional>
#include <map>
#include <optional>

namespace folvane {

class AddonClient;
struct AddonResult;
class RecordTree;
class WebsiteInUse;

// The template groups of the synchronisation: turns folder operations on the volume into group requests
// and keeps the records in step, re-keying everything below a folder whose path changed. Group
// requests go out one at a time, in the order the user made the changes, each reading the identifiers it
// needs when it goes (a rename or move changes those of everything below). Each change is entered in the
// ChangeOrder, so what happens inside a folder whose group is being created, renamed or moved waits until
// the site has answered. The requests go in the scheduler's group lane, under its policy for answers that
// never came. Paths are full local paths. All methods run on the main thread.
class TemplateGroups : public QObject {
    Q_OBJECT
public:
    TemplateGroups(WebsiteInUse& site, AddonClient& client, ChangeOrder& order, RequestScheduler& queue,
                   QString mirrorFolder, QObject* parent = nullptr);

    // `made` runs when the site has answered, with whether it made the group.
    void create(const QString& folder, std::function<void(bool made)> made);
    void remove(const QString& folder);
    // A folder renamed to a hidden name leaves the site's view: its group stays on the site as it is (a local
    // hide never changes the site's data). Once the changes made before it are done, nothing below `folder`
    // is known as the site's any more; `left` runs then.
    void hide(const QString& folder, std::function<void()> left);
    // `answered` runs when the site has answered, before what waits for the move goes, with whether the
    // records followed the folder to `destination`.
    void move(const QString& source, const QString& destination, std::function<void(bool followed)> answered);

    // The folders whose last change the site refused, with what it said (a later change of the folder, or a
    // refresh, starts again).
    QList<PendingFile> refusals() const;
    void forgetRefusals() { refused_.clear(); }

private:
    using Done = RequestScheduler::Done;
    using Send = RequestScheduler::Send;
    // Reads what a request needs (names, identifiers; the records of a rename follow it here) once, when its
    // turn comes, and gives the request itself, which may be sent again.
    using Prepare = std::function<Send()>;

    // Queues a group request for `folders`; it goes once the requests before it are answered and, when
    // `settleBelow` is given, once the template requests made before it below that folder are too.
    void enqueueGroupRequest(const QStringList& folders, const QString& settleBelow, Prepare prepare,
                             bool isMove = false);
    using Answered = std::function<void(bool followed)>;
    // The records of a group renamed in place follow it before the request goes.
    Send rename(const QString& source, const QString& name, const Answered& answered);
    // The records of a group moved to another parent follow it once the site confirmed the move.
    Send moveToParent(const QString& source, const QString& destination, const Answered& answered);
    // The identifier a group has after a rename or move to `parentID` as `name`: ExpressionEngine keeps it,
    // WordPress names a group by its path.
    QString movedGroupID(const QString& oldID, const QString& parentID, const QString& name) const;
    // The group at `folder` has the identifier `groupID` now; the records below take what follows from it.
    void regroup(const QString& folder, const std::optional<QString>& groupID);
    // The group a folder stands for: its record's identifier, the empty one (the top level) for the volume
    // itself, nothing for a folder that is no group.
    std::optional<QString> groupIDOf(const RecordTree& records, const QString& folder) const;
    // Keeps what the site said when it refused the change of `folder`.
    void noteAnswer(const QString& folder, const AddonResult& result);
    // The records follow a folder move the site confirmed.
    bool moved(const QString& source, const QString& destination, const std::optional<QString>& newID);

    WebsiteInUse& site_;
    AddonClient& client_;
    ChangeOrder& order_;
    QString mirror_;
    RequestScheduler& queue_;
    std::deque<ChangeOrder::Order> queued_; // the group lane's changes, oldest first
    std::map<QString, QString> refused_;    // folder -> the add-on's message
};

} // namespace folvane
