#pragma once

#include "FileIdentities.h"
#include "PendingFiles.h"
#include "SiteCheck.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <map>

namespace folvane {

class ChangeOrder;
class ReplaceGrace;
class RequestScheduler;
class WebsiteInUse;

// What of the template files the site does not hold yet, as the pending list, the counts and a refresh see
// it: saves and creates still to be made or answered, names within the replace grace, and what the site
// refused (until a save of it is confirmed).
// Whether the site holds a file's current content, or an upload of it is still to come.
enum class LocalState { confirmed, pending, unconfirmed };

class PendingView {
public:
    PendingView(const FileIdentities& files, const RequestScheduler& queue, const ReplaceGrace& grace,
                WebsiteInUse& site, const ChangeOrder& order, QString mirrorFolder);

    int pendingCount() const;
    // By name (below the volume, in order), each with where its upload stands.
    QList<PendingFile> pendingFiles() const;
    // Whether a request, a save or a create is still on its way (what the site refused is not).
    bool changesOnTheWay() const;
    // The files whose current content the site has not confirmed (files it is never sent are not among them).
    QStringList unconfirmedFiles() const;
    // The files the synchronisation never sends to the site (top level, hidden names).
    QStringList localOnlyFiles() const;
    // The files a refresh must leave as they are, each as its save's check would see it.
    std::map<QString, SiteCheck::Save> unsettledFiles() const;
    // Where the content of the file at `path` stands (`item`: its identity, if it has one).
    LocalState localState(const LocalFile* item, const QString& path) const;
    // A refresh found the site holding `text` for the template of `file`.
    void siteHolds(const QString& file, const ContentDigest& text);

private:
    // The regular files of the mirror that the synchronisation sends (`sent`) or never sends.
    QStringList mirrorFiles(bool sent) const;
    // A new file still watched until it stops growing.
    static bool growing(const LocalFile& file);

    const FileIdentities& files_;
    const RequestScheduler& queue_;
    const ReplaceGrace& grace_;
    WebsiteInUse& site_;
    const ChangeOrder& order_;
    QString mirror_;
};

} // namespace folvane
