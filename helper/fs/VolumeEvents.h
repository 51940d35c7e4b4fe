#pragma once

#include <QString>
#include <string_view>

namespace folvane {

// A file removed, or renamed over, while it is still open lives on under a hidden name of libfuse's in its
// folder until its last close, so that its open handles can still ask for its attributes (as on a local
// filesystem). Such a name is no longer part of the mirror's contents: the volume neither lists nor reports
// it, and nothing that reads the mirror counts it as a file.
inline constexpr std::string_view removedOpenPrefix = ".fuse_hidden";
inline bool isRemovedOpenName(std::string_view name) {
    return name.starts_with(removedOpenPrefix);
}
inline bool isRemovedOpenFile(const QString& path) {
    return path.mid(path.lastIndexOf(u'/') + 1)
        .startsWith(QLatin1StringView(removedOpenPrefix.data(), qsizetype(removedOpenPrefix.size())));
}

// What the volume tells whoever keeps the site in step with it. Each report follows a call that succeeded
// on the mirror folder, so a change the mirror refused never reaches the site. Paths are relative to the
// mirror folder and start with "/"; the kernel has resolved links and "..", so each is a plain path inside
// the volume.
class VolumeEvents {
public:
    virtual ~VolumeEvents() = default;

    virtual void fileCreated(const QString& path) = 0;
    virtual void fileWritten(const QString& path) = 0;
    // A handle that was open for writing was closed without error: the end of one save.
    virtual void fileReleased(const QString& path) = 0;
    // With caching off: a file is being opened for reading. The open waits (a few seconds at most) until
    // VolumeControl::fileCurrent lets it go, so that it reads the site's version.
    virtual void fileOpened(const QString& path) = 0;
    // A file or folder was renamed or moved (not exchanged with another). A file set aside under a removed
    // open file's name is reported as removed instead.
    virtual void moved(const QString& from, const QString& to) = 0;
    virtual void fileRemoved(const QString& path) = 0;
    virtual void folderMade(const QString& path) = 0;
    virtual void folderRemoved(const QString& path) = 0;
};

} // namespace folvane
