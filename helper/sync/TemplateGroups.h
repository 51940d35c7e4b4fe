#pragma once

#include "ChangeOrder.h"

#include <QObject>
#include <QString>
#include <deque>
#include <functional>
#include <optional>

namespace folvane {

class AddonClient;
struct PathDictionaries;
class WebsiteInUse;

// The template groups of the synchronisation: turns folder operations on the volume into group requests
// and keeps the path dictionaries in step, re-keying everything below a folder whose path changed. Group
// requests go out one at a time, in the order the user made the changes, each reading the identifiers it
// needs when it goes (a rename or move changes those of everything below). Each change is entered in the
// ChangeOrder, so what happens inside a folder whose group is being created, renamed or moved waits until
// the site has answered. Paths are full local paths. All methods run on the main thread.
class TemplateGroups : public QObject {
    Q_OBJECT
public:
    TemplateGroups(WebsiteInUse& site, AddonClient& client, ChangeOrder& order, QString mirrorFolder,
                   QObject* parent = nullptr);

    // `made` runs when the site has answered, with whether it made the group.
    void create(const QString& folder, std::function<void(bool made)> made);
    void remove(const QString& folder);
    // `answered` runs when the site has answered, before what waits for the move goes, with whether the
    // records followed the folder to `destination`.
    void move(const QString& source, const QString& destination, std::function<void(bool followed)> answered);

private:
    using Finished = std::function<void()>;
    using GroupRequest = std::function<void(const Finished& done)>;

    // Queues a group request for `folders`; it goes once the requests before it are answered and, when
    // `settleBelow` is given, once the template requests made before it below that folder are too.
    void enqueueGroupRequest(const QStringList& folders, const QString& settleBelow, GroupRequest request,
                             bool isMove = false);
    void runNextGroupRequest();
    using Answered = std::function<void(bool followed)>;
    // The records of a group renamed in place follow it before the request goes.
    void rename(const QString& source, const QString& name, const Answered& answered);
    // The records of a group moved to another parent follow it once the site confirmed the move.
    void moveToParent(const QString& source, const QString& destination, const Answered& answered);
    void updateMovedPathsRecursive(const QString& path, const QString& groupID);
    // The group a folder stands for: its record's identifier, the empty one (the top level) for the volume
    // itself, nothing for a folder that is no group.
    std::optional<QString> groupIDOf(const PathDictionaries& d, const QString& folder) const;
    // The records follow a folder move the site confirmed.
    bool moved(const QString& source, const QString& destination, const std::optional<QString>& newID);

    WebsiteInUse& site_;
    AddonClient& client_;
    ChangeOrder& order_;
    QString mirror_;
    std::deque<std::function<void()>> groupRequests_;
    bool groupRequestOut_ = false;
};

} // namespace folvane
