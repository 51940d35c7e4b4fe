#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <array>
#include <map>
#include <optional>
#include <variant>

namespace folvane {

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
    explicit ContentDigest(const std::array<char, 32>& sha256) : sha256_(sha256) {}

    std::array<char, 32> sha256_;
};

struct FolderRecord {
    QString name;
    std::optional<QString> templateGroupID;
    std::optional<bool> isSpecial;
};

struct FileRecord {
    QString name;
    QString templateGroupID;
    QString templateID;
    ContentDigest encodedData; // content as last sent to or received from the add-on
};

// Orders full local paths so that everything below a folder sorts directly after it: "/a/b", "/a/b/c",
// "/a-b" ("/" before every other character). A folder's subtree is then one range of keys.
struct BelowFirst {
    bool operator()(const QString& a, const QString& b) const;
};

// The records of the site's groups (folders) and templates (files), keyed by full local path: the mirror
// folder followed directly by the volume-relative path. A folder's children are the records directly below
// it, in the order they were recorded; a record moved somewhere comes last among its new siblings.
class RecordTree {
public:
    struct Entry {
        std::variant<FolderRecord, FileRecord> record;
        quint64 listed = 0; // when it was recorded under its parent
    };
    using Entries = std::map<QString, Entry, BelowFirst>;

    const Entries& all() const { return entries_; }
    FolderRecord* folder(const QString& path);
    const FolderRecord* folder(const QString& path) const;
    FileRecord* file(const QString& path);
    // The group identifier of the folder at `path`: none when no folder is recorded there or it has none.
    std::optional<QString> groupIDOf(const QString& path) const;
    const FileRecord* file(const QString& path) const;
    // Records `record` at `path`; a record there before is replaced and keeps its place among its siblings.
    FolderRecord& setFolder(const QString& path, FolderRecord record);
    FileRecord& setFile(const QString& path, FileRecord record);
    void erase(const QString& path) { entries_.erase(path); }
    // The record at `path` and every record below it.
    void eraseSubtree(const QString& path);
    // The record at `from` and everything below it are at `to` now, in place of what was there. False, and
    // nothing moves, when there is no record at `from`.
    bool moveSubtree(const QString& from, const QString& to);
    // The records directly below `folder`, in the order they were recorded.
    QStringList children(const QString& folder) const;
    // The records below `folder` (not itself), each after its parent.
    QStringList below(const QString& folder) const;
    qsizetype folderCount() const;
    qsizetype fileCount() const;

private:
    template <class Record> Record& set(const QString& path, Record record);
    // The end of the range of records below `path`.
    Entries::const_iterator endBelow(const QString& path) const;
    // The first entry below `path`, and the end of the range below it.
    std::pair<Entries::const_iterator, Entries::const_iterator> rangeBelow(const QString& path) const;

    Entries entries_;
    quint64 listed_ = 0;
};

} // namespace folvane
