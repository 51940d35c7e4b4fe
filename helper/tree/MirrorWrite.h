#pragma once

#include <QByteArray>
#include <QString>
#include <set>

namespace folvane {

// The helper's own writes into the mirror folder. Whatever the user made on the volume lands in the mirror
// too, links included, so no write of the helper's may follow a link: it could lead outside the mirror.

// Creates `folder` (and the folders above it up to `mirror`) folder by folder, never through a link; false
// when that failed or would leave the mirror. Folders in `known` were checked already and are skipped; the
// ones checked now are added (pass nothing when the mirror may have changed since).
bool makeMirrorFolder(const QString& mirror, const QString& folder, std::set<QString>* known = nullptr);

// Writes all of `bytes` at the open file's position; false when a write failed.
bool writeAll(int fd, const QByteArray& bytes);

// Replaces the contents of the file at `path` (creating it), refusing a link in its place.
bool writeMirrorFile(const QString& path, const QByteArray& bytes);

// Whether the file at `path` (not a link) holds exactly `bytes`.
bool mirrorFileHolds(const QString& path, const QByteArray& bytes);

} // namespace folvane
