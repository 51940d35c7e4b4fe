#pragma once

#include "Cms.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <array>
#include <map>
#include <mutex>
#include <optional>

namespace folvane {

struct Constants {
    static inline const QString cache = QStringLiteral("/.cache/");
};

struct FolderRecord {
    QString name;
    std::optional<QString> templateGroupID;
    std::optional<bool> isSpecial;
    QStringList paths; // full local paths of the known children, in the order they were recorded
};

// What is kept of a template's content: the SHA-256 digest of its standard Base64 text. Two digests are equal
// exactly when the texts are (short of a SHA-256 collision); the text itself is not kept, so that a site with
// a great many templates does not hold all of them in memory. A default digest is that of the empty text.
class ContentDigest {
public:
    ContentDigest();
    // Of Base64 text as the add-on sends and receives it, taken as it is (also when it does not decode).
    static ContentDigest ofBase64(QByteArrayView base64);
    // Of a file's bytes: the digest of their standard Base64 encoding.
    static ContentDigest ofContent(const QByteArray& bytes);

    bool operator==(const ContentDigest&) const = default;
    // Hexadecimal, for test output.
    QByteArray toHex() const;

private:
    explicit ContentDigest(const QByteArray& sha256);

    std::array<char, 32> sha256_;
};

struct FileRecord {
    QString name;
    QString templateGroupID;
    QString templateID;
    ContentDigest encodedData; // content as last sent to or received from the add-on
};

// Keys are full local paths: the mirror folder followed directly by the volume-relative path.
struct PathDictionaries {
    std::map<QString, FolderRecord> folderDictionary;
    std::map<QString, FileRecord> fileDictionary;

    // Files the record of `from` under the key `to` and keeps the parents' child lists in step (the moved
    // child goes last). Returns the moved record, or nothing when `from` has none.
    FileRecord* moveFileRecord(const QString& from, const QString& to);
};

// Everything the helper knows about the one site it serves. Connection fields are written on the main
// thread; the two path dictionaries are reached only through `withDictionaries`, under one lock, because
// the main thread and the background file-creation path both use them.
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

    template <class F> decltype(auto) withDictionaries(F&& f) {
        std::lock_guard lock(mutex_);
        return f(dictionaries_);
    }

    // The site title, or the empty text when none was given: the suffix of every notification name.
    QString title() const { return cleanName.value_or(QString()); }

private:
    std::mutex mutex_;
    PathDictionaries dictionaries_;
};

// The site's mirror folder: the base folder, "/.cache/", then the mirror folder name.
inline QString mirrorFolderPath(const QString& baseFolder, const QString& cachedFolderName) {
    return baseFolder + Constants::cache + cachedFolderName;
}

// Stable 64-bit hash (FNV-1a over UTF-8) of the text, as signed decimal text: names the mirror folder.
QString stableHashText(const QString& text);

} // namespace folvane
