#pragma once

#include "ChangeOrder.h"
#include "FileIdentities.h"
#include "RequestScheduler.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

namespace folvane {

class AddonClient;
struct AddonResult;
class WebsiteInUse;

// The template requests of the files: turns a file's create, move and delete into requests of the
// scheduler, each in its file's lane, and the site's answers into the file's identity and
// the records. Content counts as confirmed only when the add-on answered "success" true for it.
class TemplateRequests {
public:
    using Key = FileIdentities::Key;
    // What the owner of the identities does when a file is no template any more, when what is pending
    // may have changed, and when a file's content is owed to the site (written while its create or move
    // was out).
    struct Owner {
        std::function<void(Key)> forget;
        std::function<void()> report;
        std::function<void(Key)> save;
    };
    TemplateRequests(WebsiteInUse& site, AddonClient& client, ChangeOrder& order, RequestScheduler& queue,
                     FileIdentities& files, QString mirrorFolder, Owner owner);

    // A new file stopped growing: its create goes once the group changes before it are done (a file outside
    // every known group stays on this computer).
    void create(Key key);
    void move(Key key, const QString& from, const QString& to);
    // The file at `file` (identity `item`, if it has one) is gone: its delete goes at once.
    void removed(LocalFile* item, const QString& file);

private:
    void remove(Key key);
    void enqueueCreate(Key key, const QString& file, const QString& groupID);
    // What the site's answer to a create tells: the template's identifier and, when it took the content, the
    // follow-ups for changes made while the create was out.
    void recordCreated(Key key, const QString& file, const QString& group, const QByteArray& data,
                       const AddonResult& result);
    void recordMoved(Key key, const QString& from, const QString& to, const QString& toGroup,
                     const std::optional<QString>& newID);

    WebsiteInUse& site_;
    AddonClient& client_;
    ChangeOrder& order_;
    RequestScheduler& queue_;
    FileIdentities& files_;
    QString mirror_;
    Owner owner_;
};

} // namespace folvane
