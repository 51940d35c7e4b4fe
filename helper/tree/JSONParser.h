#pragma once

#include "LenientJson.h"
#include "tree/WebsiteInUse.h"

#include <QString>
#include <memory>
#include <optional>
#include <set>

namespace folvane {

// Builds the mirror folder from a "list_all" answer: every template group becomes a folder, every
// template a file holding its content, and each is recorded in the site's path dictionaries. The walk
// follows the answer's own key order. Names that are not one safe path component are skipped, and
// nothing is written through a link or outside the mirror folder. Building consumes the templates'
// contents from the list (they live on in the records), so a list is built from once.
class JSONParser {
public:
    // Prepares the cache: the cache root below `basePath` exists, the site's mirror folder is empty.
    JSONParser(std::shared_ptr<Json> rootJSON, const QString& basePath, WebsiteInUse& site);

    void setJSON(std::shared_ptr<Json> json) { rootJSON_ = std::move(json); }
    void setRefreshing(bool refreshing) { refreshing_ = refreshing; }
    bool getRefreshing() const { return refreshing_; }
    // The cache root before the first build, the mirror folder from then on.
    const QString& basePath() const { return basePath_; }
    // The site's mirror folder, whether or not a build has run.
    QString mirrorFolder() const;

    void startParser();

private:
    void startAtBaseJSON(Json& root);
    void getSubFolders(Json& collection, const QString& usedPath);
    void getSubJSONs(Json& value, const QString& usedPath);
    void createFolder(const QString& parent, const QString& name,
                      const std::optional<QString>& templateGroupID, std::optional<bool> isSpecial);
    void createFiles(const QString& folderPath, Json& templates, const QString& templateGroupID);
    // Creates `path` (and the folders above it up to the mirror); false when that failed or would leave
    // the mirror folder.
    bool makeFolder(const QString& path);
    bool isInsideMirror(const QString& path);
    void writeFile(const QString& path, const QByteArray& bytes);

    QString mirror_;
    QString basePath_;
    std::shared_ptr<Json> rootJSON_;
    std::optional<QString> cachedFolderName_;
    bool refreshing_ = false;
    WebsiteInUse& site_;
    std::set<QString> checkedFolders_; // folders already known to lie inside the mirror during one build
};

} // namespace folvane
