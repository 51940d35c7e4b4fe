#pragma once

#include <QByteArray>
#include <QString>

namespace folvane {

// What a file holds, for the site. Only a regular file is read, never through a symbolic link: a link
// made on the volume (or copied there with `cp -a`) can point at any file of the user's, a private key
// say, and what it points at must never be published as a template.
struct FileContent {
    enum class Kind { regular, gone, notRegular } kind = Kind::gone;
    QByteArray bytes;
};
FileContent readFile(const QString& path);

// Whether `path` itself (not what a link there points at) is a regular file.
bool isRegularFile(const QString& path);

} // namespace folvane
