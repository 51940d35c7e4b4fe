#include "FileIdentities.h"

#include "tree/PathText.h"

namespace folvane {

namespace {
// `path` below `from` is taken to the same place below `to`; false when it is not below `from`.
bool movedBelow(QString& path, const QString& from, const QString& to) {
    if (!isBelow(path, from))
        return false;
    path = to + path.mid(from.size());
    return true;
}
} // namespace

LocalFile* FileIdentities::find(Key key) const {
    const auto it = files_.find(key);
    return it == files_.end() ? nullptr : it->second.get();
}

LocalFile* FileIdentities::at(const QString& path) const {
    const auto it = keyByPath_.find(path);
    return it == keyByPath_.end() ? nullptr : find(it->second);
}

std::vector<FileIdentities::Key>
FileIdentities::keysWhere(const std::function<bool(const LocalFile&)>& which) const {
    std::vector<Key> keys;
    for (const auto& [key, file] : files_)
        if (which(*file))
            keys.push_back(key);
    return keys;
}

LocalFile& FileIdentities::add(const QString& path) {
    auto file = std::make_unique<LocalFile>();
    file->key = nextKey_++;
    file->path = file->sitePath = path;
    keyByPath_[path] = file->key;
    return *files_.emplace(file->key, std::move(file)).first->second;
}

void FileIdentities::place(LocalFile& file, const QString& path) {
    file.path = path;
    keyByPath_[path] = file.key;
}

void FileIdentities::remove(Key key) {
    std::erase_if(keyByPath_, [key](const auto& link) { return link.second == key; });
    files_.erase(key);
}

std::vector<LocalFile*> FileIdentities::moveBelow(const QString& from, const QString& to) {
    std::map<QString, Key> paths;
    for (const auto& [old, key] : keyByPath_) {
        QString path = old;
        movedBelow(path, from, to);
        paths[path] = key;
    }
    keyByPath_ = std::move(paths);
    std::vector<LocalFile*> moved;
    for (auto& [key, file] : files_)
        if (movedBelow(file->path, from, to))
            moved.push_back(file.get());
    return moved;
}

void FileIdentities::siteMovedBelow(const QString& from, const QString& to) {
    for (auto& [key, file] : files_)
        movedBelow(file->sitePath, from, to);
}

LocalFile* FileIdentities::adopt(const QString& path, const QString& recorded, const RecordTree& records) {
    // A record whose template has moved on (its move not yet confirmed) belongs to that file, not to
    // whatever file appears under the old name.
    for (const auto& [key, item] : files_)
        if (item->sitePath == recorded)
            return nullptr;
    const FileRecord* record = records.file(recorded);
    if (!record)
        return nullptr;
    LocalFile& item = add(path);
    item.sitePath = recorded;
    item.onSite = true;
    item.groupID = record->templateGroupID;
    item.templateID = record->templateID;
    item.confirmed = record->encodedData;
    return &item;
}

void FileIdentities::followGroupIDs(const RecordTree& records) {
    // From the folder, not the template's own record: a template deleted while its group was renamed has no
    // record any more, and its delete still needs the group's new identifier.
    for (const auto& [key, item] : files_) {
        const FolderRecord* folder = records.folder(parentOf(item->sitePath));
        if (item->onSite && folder && folder->templateGroupID)
            item->groupID = *folder->templateGroupID;
    }
}

} // namespace folvane
