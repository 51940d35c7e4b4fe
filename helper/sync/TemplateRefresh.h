#pragma once

#include "LenientJson.h"

#include <QObject>
#include <QString>
#include <QVariantMap>
#include <deque>
#include <functional>

namespace folvane {

class FileSync;
class JSONParser;
class NotificationBus;
class Recovery;
class SiteConnectionHelper;
class WebsiteInUse;

// Brings the mirror up to date with the site: the full refresh the application asks for, and, with
// caching off, the per-file merge after each read. The helper writes the site's content into the mirror
// itself and then has the volume's caches invalidated, so its own writes never come back as edits. Content
// the site never confirmed is kept in the recovery folder before the site's version replaces it, and a
// save still on its way is never overwritten.
class TemplateRefresh : public QObject {
    Q_OBJECT
public:
    TemplateRefresh(WebsiteInUse& site, SiteConnectionHelper& client, JSONParser& parser, FileSync& files,
                    Recovery& recovery, NotificationBus& bus, QString mirrorFolder,
                    QObject* parent = nullptr);

    // "refresh-": rebuild from a fresh list and answer "refresh-done-" with the request's user information.
    void refreshTemplates(const QVariantMap& userInfo);
    // "openfile-" with caching off: fetch the template that was read and merge it.
    void getNewTemplateData(const QVariantMap& userInfo);
    // Merges a "get_template" answer into the file at `lookup` (a full path with a template record).
    void updateTemplate(const Json& answer, const QString& lookup);

    // Invalidates the volume's caches: one volume-relative path, or (empty text) the whole volume.
    std::function<void(const QString& volumePath)> invalidate;
    // Whether changes are still on their way to the site (requests of files or folders, files being created
    // or saved): the records and the mirror are rebuilt only once none is.
    std::function<bool()> changesPending;
    // Changes get this long to reach the site before a refresh replaces the files, and again after the list
    // was fetched; a refresh that still finds changes on their way then keeps the volume as it is.
    int settleMs = 3000;

private:
    void refreshOnce(const QVariantMap& userInfo);
    // Keeps events flowing until no change is on its way or `ms` have passed; true when none is.
    bool waitUntilQuiet(int ms);

    WebsiteInUse& site_;
    SiteConnectionHelper& client_;
    JSONParser& parser_;
    FileSync& files_;
    Recovery& recovery_;
    NotificationBus& bus_;
    QString mirror_;
    std::deque<QVariantMap> waiting_; // the running refresh's request first
};

} // namespace folvane
