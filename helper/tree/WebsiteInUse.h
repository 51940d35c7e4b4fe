#pragma once

#include "Cms.h"
#include "RecordTree.h"

#include <QString>
#include <mutex>
#include <optional>

namespace folvane {

struct Constants {
    static inline const QString cache = QStringLiteral("/.cache/");
};

// Everything the helper knows about the one site it serves. Connection fields are written on the main
// thread; the records are reached only through `withRecords`, under one lock, because the main thread and
// the background file-creation path both use them.
class WebsiteInUse {
public:
    std::optional<QString> typedUrl;
    std::optional<QString> cleanUrl;
    std::optional<QString> login;
    std::optional<QString> password;
    std::optional<QString> cleanName;
    std::optional<QString> status;
    CMS cms = CMS::default_;
    std::optional<qint64> cmsVersion;
    bool loggedIn = false;
    std::optional<QString> cachedFolderName;

    template <class F> decltype(auto) withRecords(F&& f) {
        std::lock_guard lock(mutex_);
        return f(records_);
    }

    // The site title, or the empty text when none was given: the suffix of every notification name.
    QString title() const { return cleanName.value_or(QString()); }

private:
    std::mutex mutex_;
    RecordTree records_;
};

// The site's mirror folder: the base folder, "/.cache/", then the mirror folder name.
inline QString mirrorFolderPath(const QString& baseFolder, const QString& cachedFolderName) {
    return baseFolder + Constants::cache + cachedFolderName;
}

// Stable 64-bit hash (FNV-1a over UTF-8) of the text, as signed decimal text: names the mirror folder.
QString stableHashText(const QString& text);

} // namespace folvane
