#pragma once

#include "LenientJson.h"

#include <QByteArray>
#include <QString>
#include <map>
#include <optional>
#include <set>

namespace folvane {

class MirrorBuilder;
class TemplateListSpool;
class VolumeControl;
class WebsiteInUse;

// Writes the site's state into the mirror: the whole tree after a refresh, or one template after an on-open
// fetch. The helper writes into the mirror itself and then has the volume's caches invalidated, so its own
// writes never come back as edits. Deciding whether the user's content may be replaced is the caller's.
class MirrorRefresh {
public:
    MirrorRefresh(WebsiteInUse& site, MirrorBuilder& parser, VolumeControl& cache, QString mirrorFolder);

    // Rebuilds the records and the mirror from a fresh template list; files and folders the site no longer
    // has are removed. Files never sent to the site stay where they are (and the folders holding them), and
    // so do the files at `kept` (changes the site has not confirmed): the site's text of each of those it
    // still has goes to `siteTexts` instead. False when the list could not be read to its end after all:
    // then nothing is removed, and what the rebuild did not reach keeps its record.
    bool rebuild(TemplateListSpool& list, const std::set<QString>& kept,
                 std::map<QString, QByteArray>* siteTexts);

    // A template as a "get_template" answer has it.
    struct SiteVersion {
        QString name;
        QByteArray encoded; // standard Base64, as the add-on sent it
        QByteArray bytes;
    };
    // The site's version of the file at `file` (a full path with a template record) when it differs from
    // what the records hold and can be written: nothing for an unusable answer or an unsafe name.
    std::optional<SiteVersion> newerVersion(const Json& answer, const QString& file);
    // Writes the version into the mirror, renaming the file when the site renamed the template; the record
    // follows at once. Returns where the file is now, or nothing when the mirror was left as it was.
    QString write(const SiteVersion& version, const QString& file);

private:
    // Removes `folder` with everything in it except files never sent to the site and those `kept`; false
    // when it had some.
    bool removeAllButLocalOnly(const QString& folder, const std::set<QString>& kept);

    WebsiteInUse& site_;
    MirrorBuilder& parser_;
    VolumeControl& cache_;
    QString mirror_;
};

} // namespace folvane
