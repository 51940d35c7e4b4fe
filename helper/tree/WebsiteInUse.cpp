#include "WebsiteInUse.h"

#include "PathText.h"

#include <QCryptographicHash>
#include <cstdint>
#include <cstring>

namespace folvane {

ContentDigest::ContentDigest(const QByteArray& sha256) {
    std::memcpy(sha256_.data(), sha256.constData(), sha256_.size());
}

ContentDigest::ContentDigest() {
    static const ContentDigest empty = ofBase64({});
    sha256_ = empty.sha256_;
}

ContentDigest ContentDigest::ofBase64(QByteArrayView base64) {
    return ContentDigest(QCryptographicHash::hash(base64, QCryptographicHash::Sha256));
}

ContentDigest ContentDigest::ofContent(const QByteArray& bytes) {
    return ofBase64(bytes.toBase64());
}

QByteArray ContentDigest::toHex() const {
    return QByteArray(sha256_.data(), static_cast<qsizetype>(sha256_.size())).toHex();
}

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
