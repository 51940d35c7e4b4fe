#pragma once

#include "LenientJson.h"
#include "tree/WebsiteInUse.h"

#include <QByteArrayView>
#include <QString>
#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

namespace folvane {

// Reads a template list's JSON events; logs where and why the text is not valid JSON, and stops there.
class ListEvents : public nlohmann::json_sax<Json> {
public:
    bool parse_error(std::size_t position, const std::string& token,
                     const nlohmann::detail::exception& error) override;
};

// What nlohmann's parser reads a text that comes in chunks with: a byte at a time straight from the chunk at
// hand (reading through nlohmann's stream or iterator adapters cost a call per byte). `nextChunk(begin,
// end)` points at the next chunk (never an empty one), false at the end.
template <class NextChunk> struct ChunkInput {
    using char_type = char;
    NextChunk* nextChunk;
    const char* at = nullptr;
    const char* end = nullptr;
    std::char_traits<char>::int_type get_character() {
        if (at != end || (*nextChunk)(at, end))
            return std::char_traits<char>::to_int_type(*at++);
        return std::char_traits<char>::eof();
    }
};

// Parses a JSON text that comes in chunks into `events`; whether it was one whole JSON value.
template <class NextChunk> bool parseChunks(NextChunk nextChunk, ListEvents& events) {
    return nlohmann::detail::parser<Json, ChunkInput<NextChunk>>(ChunkInput<NextChunk>{&nextChunk})
        .sax_parse(&events);
}

// What one template list may make the helper hold: millions of tiny entries fit under the answer's size
// limit, and a value held whole could nest without end. Past a bound what exceeds it is skipped with a log
// line and the rest is built.
struct ListBounds {
    qint64 templates = 250'000;
    qint64 groups = 25'000;
    // A template held until it is whole (its texts, and 64 bytes for each of its values), and how deeply
    // its values may nest (its fields are flat).
    qint64 templateBytes = qint64(64) << 20;
    int templateNesting = 4;
    // What a group holds until its "name", "id" and "is_special" have come.
    qint64 groupHeldBytes = qint64(256) << 20;

    // These, with $FOLVANE_LIST_MAX_TEMPLATES, $FOLVANE_LIST_MAX_GROUPS and $FOLVANE_LIST_MAX_TEMPLATE_BYTES
    // in place of theirs when set (for tests).
    static ListBounds fromEnvironment();
};

// Builds the mirror folder from a "list_all" answer: every template group becomes a folder, every
// template a file holding its content, and each is recorded in the site's records. The walk
// follows the answer's own key order. Names that are not one safe path component are skipped, and
// nothing is written through a link or outside the mirror folder.
//
// The walk reads the answer's bytes as a stream of JSON events, as they arrive: a group's files are written
// as its templates go by, so only one template at a time is held (a group whose "files" come before its
// "name", "id" or "is_special" is held until its end). A refresh builds again over the same mirror the same
// way.
class MirrorBuilder {
public:
    // Prepares the cache: the cache root below `basePath` exists, the site's mirror folder is empty.
    MirrorBuilder(const QString& basePath, WebsiteInUse& site,
                  ListBounds bounds = ListBounds::fromEnvironment());
    ~MirrorBuilder();

    // The site's mirror folder, whether or not a build has run.
    QString mirrorFolder() const;

    // Builds from the answer's bytes while they arrive: each chunk in order, then `finish`. The walk runs
    // on a thread of its own; `feed` returns at once unless more than a few megabytes wait to be read.
    void feed(QByteArrayView chunk);
    // Waits until the walk has read everything fed. False when the bytes were not one whole JSON value
    // (whatever their valid beginning described is built, as it arrived).
    bool finish();

    // A refresh builds over the records of the last build: it asks for the full paths of every record the
    // next build writes, to find afterwards the records the new list no longer has. `takeRecordedPaths`
    // hands them over and stops noting them.
    void noteRecordedPaths();
    std::set<QString> takeRecordedPaths();
    // While noting, the files at `paths` keep what the mirror holds (changes of the user's the site has not
    // confirmed): their records are written, and the site's text of each is handed over by `takeSiteTexts`.
    void keepLocalFiles(std::set<QString> paths);
    std::map<QString, QByteArray> takeSiteTexts();

private:
    class Walk;
    class Stream;
    class Writer;
    friend class Walk;

    void startBuild();
    void createFolder(const QString& parent, const QString& name,
                      const std::optional<QString>& templateGroupID, std::optional<bool> isSpecial);
    // Reads a template on the walk's thread; `placeFile` records and writes it on the writer's.
    void createFile(const QString& folderPath, const Json& entry, const QString& templateGroupID);
    void placeFile(const QString& path, const FileRecord& record, const QByteArray& bytes);
    void writeFile(const QString& path, const QByteArray& bytes);
    void noteRecorded(const RecordTree& records, const QString& path);

    QString mirror_;
    WebsiteInUse& site_;
    const ListBounds bounds_;
    std::set<QString> checkedFolders_; // folders already known to lie inside the mirror during one build
    bool noting_ = false;
    std::set<QString> recorded_; // while noting: the paths the build recorded
    std::set<QString> keptLocal_;
    std::map<QString, QByteArray> siteTexts_; // of the files in keptLocal_ the build met
    std::unique_ptr<Writer> writer_;          // makes the folders and files of the build below, while it runs
    std::unique_ptr<Stream> stream_;          // the answer being fed, while it is
    std::unique_ptr<Utf8Repair> repair_;      // marks its bad UTF-8 on the way in, like a whole answer's
};

} // namespace folvane
