#include "RecordTree.h"

#include <algorithm>
#include <cstring>
#include <openssl/sha.h>
#include <vector>

namespace folvane {

ContentDigest::ContentDigest() {
    static const ContentDigest empty = ofBase64({});
    sha256_ = empty.sha256_;
}

ContentDigest ContentDigest::ofBase64(QByteArrayView base64) {
    // libcrypto's SHA-256 uses the processor's SHA instructions: a big site's texts are digested at several
    // times the speed of Qt's portable one.
    std::array<char, 32> sha256;
    ::SHA256(reinterpret_cast<const unsigned char*>(base64.data()), static_cast<size_t>(base64.size()),
             reinterpret_cast<unsigned char*>(sha256.data()));
    return ContentDigest(sha256);
}

ContentDigest ContentDigest::ofContent(const QByteArray& bytes) {
    return ofBase64(bytes.toBase64());
}

QByteArray ContentDigest::toHex() const {
    return QByteArray(sha256_.data(), static_cast<qsizetype>(sha256_.size())).toHex();
}

bool BelowFirst::operator()(const QString& a, const QString& b) const {
    // Keys share long beginnings (the mirror folder's path): the first difference is looked for four
    // characters at a time.
    const qsizetype common = std::min(a.size(), b.size());
    const QChar* x = a.constData();
    const QChar* y = b.constData();
    qsizetype at = 0;
    for (quint64 p = 0, q = 0; at + 4 <= common; at += 4) {
        std::memcpy(&p, x + at, sizeof p);
        std::memcpy(&q, y + at, sizeof q);
        if (p != q)
            break;
    }
    while (at < common && x[at] == y[at])
        ++at;
    if (at == b.size())
        return false;
    if (at == a.size())
        return true;
    return x[at] == u'/' || (y[at] != u'/' && x[at] < y[at]);
}

namespace {
// The record of kind `Record` at `path`, const when `entries` is.
template <class Record, class Entries> auto recordAt(Entries& entries, const QString& path) {
    const auto found = entries.find(path);
    return found == entries.end() ? nullptr : std::get_if<Record>(&found->second.record);
}
} // namespace

FolderRecord* RecordTree::folder(const QString& path) {
    return recordAt<FolderRecord>(entries_, path);
}
const FolderRecord* RecordTree::folder(const QString& path) const {
    return recordAt<FolderRecord>(entries_, path);
}
FileRecord* RecordTree::file(const QString& path) {
    return recordAt<FileRecord>(entries_, path);
}
const FileRecord* RecordTree::file(const QString& path) const {
    return recordAt<FileRecord>(entries_, path);
}

std::optional<QString> RecordTree::groupIDOf(const QString& path) const {
    const FolderRecord* record = folder(path);
    return record ? record->templateGroupID : std::nullopt;
}

template <class Record> Record& RecordTree::set(const QString& path, Record record) {
    const auto [entry, added] = entries_.try_emplace(path);
    if (added)
        entry->second.listed = ++listed_;
    entry->second.record = std::move(record);
    return std::get<Record>(entry->second.record);
}

FolderRecord& RecordTree::setFolder(const QString& path, FolderRecord record) {
    return set(path, std::move(record));
}

FileRecord& RecordTree::setFile(const QString& path, FileRecord record) {
    return set(path, std::move(record));
}

RecordTree::Entries::const_iterator RecordTree::endBelow(const QString& path) const {
    // No name holds a NUL: "path\0" sorts after every "path/…" and before every other key after `path`.
    return entries_.lower_bound(path + QChar(u'\0'));
}

std::pair<RecordTree::Entries::const_iterator, RecordTree::Entries::const_iterator>
RecordTree::rangeBelow(const QString& path) const {
    return {entries_.lower_bound(path + u'/'), endBelow(path)};
}

void RecordTree::eraseSubtree(const QString& path) {
    const auto [first, end] = rangeBelow(path);
    entries_.erase(first, end);
    entries_.erase(path);
}

bool RecordTree::moveSubtree(const QString& from, const QString& to) {
    const auto root = entries_.find(from);
    if (root == entries_.end())
        return false;
    std::vector<std::pair<QString, Entry>> moved{{to, std::move(root->second)}};
    moved.front().second.listed = ++listed_;
    const auto [first, end] = rangeBelow(from);
    for (auto entry = first; entry != end; ++entry)
        moved.emplace_back(to + entry->first.mid(from.size()), entry->second);
    entries_.erase(first, end);
    entries_.erase(from);
    for (auto& [path, entry] : moved)
        entries_.insert_or_assign(path, std::move(entry));
    return true;
}

QStringList RecordTree::children(const QString& folder) const {
    const auto [first, end] = rangeBelow(folder);
    std::vector<std::pair<quint64, QString>> found;
    // From one child to the next past the child's own subtree.
    for (auto entry = first; entry != end; entry = endBelow(entry->first))
        found.emplace_back(entry->second.listed, entry->first);
    std::sort(found.begin(), found.end());
    QStringList paths;
    for (const auto& [listed, path] : found)
        paths << path;
    return paths;
}

QStringList RecordTree::below(const QString& folder) const {
    const auto [first, end] = rangeBelow(folder);
    QStringList paths;
    for (auto entry = first; entry != end; ++entry)
        paths << entry->first;
    return paths;
}

qsizetype RecordTree::folderCount() const {
    return std::ranges::count_if(entries_, [](const auto& entry) {
        return std::holds_alternative<FolderRecord>(entry.second.record);
    });
}

qsizetype RecordTree::fileCount() const {
    return static_cast<qsizetype>(entries_.size()) - folderCount();
}

} // namespace folvane
