#pragma once

#include "ChangeOrder.h"
#include "FileIdentities.h"
#include "RequestScheduler.h"
#include "SiteCheck.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

namespace folvane {

class AddonClient;
struct AddonResult;
class WebsiteInUse;

// The template requests of the files: turns a file's create, save, move and delete into requests of the
// scheduler, each in its file's lane, and the site's answers into the file's identity and
// the records. Content counts as confirmed only when the add-on answered "success" true for it.
class TemplateRequests {
public:
    using Key = FileIdentities::Key;
    // What the owner of the identities does when a file is no template any more, and when what is pending
    // may have changed.
    struct Owner {
        std::function<void(Key)> forget;
        std::function<void()> report;
    };
    TemplateRequests(WebsiteInUse& site, AddonClient& client, ChangeOrder& order, RequestScheduler& queue,
                     SiteCheck& siteCheck, FileIdentities& files, QString mirrorFolder, Owner owner);

    // A new file stopped growing: its create goes once the group changes before it are done (a file outside
    // every known group stays on this computer).
    void create(Key key);
    // The save reads the file's content when it goes.
    void update(Key key);
    void move(Key key, const QString& from, const QString& to);
    void remove(Key key);

private:
    void enqueueCreate(Key key, const QString& file, const QString& groupID);
    // What the site's answer to a create tells: the template's identifier and, when it took the content, the
    // follow-ups for changes made while the create was out.
    void recordCreated(Key key, const QString& file, const QString& group, const QByteArray& data,
                       const AddonResult& result);
    void recordMoved(Key key, const QString& from, const QString& to, const QString& toGroup,
                     const std::optional<QString>& newID);
    // Sends the save of `data` (read when the update went) once the site check let it go.
    void sendUpdate(Key key, const QByteArray& data, const ContentDigest& digest,
                    RequestScheduler::Done done);

    WebsiteInUse& site_;
    AddonClient& client_;
    ChangeOrder& order_;
    RequestScheduler& queue_;
    SiteCheck& siteCheck_;
    FileIdentities& files_;
    QString mirror_;
    Owner owner_;
};

} // namespace folvane
