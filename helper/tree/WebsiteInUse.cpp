#include "WebsiteInUse.h"

#include "PathText.h"

#include <cstdint>

namespace folvane {

FileRecord* PathDictionaries::moveFileRecord(const QString& from, const QString& to) {
    const auto record = fileDictionary.find(from);
    if (record == fileDictionary.end())
        return nullptr;
    FileRecord moved = std::move(record->second);
    fileDictionary.erase(record);
    FileRecord& filed = fileDictionary[to] = std::move(moved);
    if (const auto source = folderDictionary.find(parentOf(from)); source != folderDictionary.end())
        source->second.paths.removeOne(from);
    if (const auto destination = folderDictionary.find(parentOf(to));
        destination != folderDictionary.end() && !destination->second.paths.contains(to))
        destination->second.paths.append(to);
    return &filed;
}

QString stableHashText(const QString& text) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (const char byte : text.toUtf8()) {
        hash ^= static_cast<unsigned char>(byte);
        hash *= 1099511628211ULL;
    }
    return QString::number(static_cast<std::int64_t>(hash));
}

} // namespace folvane
