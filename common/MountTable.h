#pragma once

#include <QString>

namespace folvane {

// The mounts of this process's namespace, as /proc/self/mountinfo lists them.
class MountTable {
public:
    // The path as the table shows it: absolute and clean, with the symbolic links above it resolved (a mount
    // root given as "root/", "root//" or through a link names the same place).
    static QString tablePath(const QString& path);
    // Whether the table lists a FUSE filesystem mounted at `path`. Touches nothing on the mount itself, so
    // the thread serving it may ask too.
    static bool listsFuseMountAt(const QString& path);
    // Whether a FUSE filesystem is mounted at `path`, or the path answers "Transport endpoint is not
    // connected" (its filesystem process died).
    static bool hasFuseMountAt(const QString& path);
    // Lazily detaches whatever FUSE mount sits at `path`, however many are stacked there; a busy or
    // orphaned mount is detached too. Returns whether none is left.
    static bool detachFuseMountsAt(const QString& path);
};

} // namespace folvane
