#pragma once

#include "VolumeControl.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <optional>
#include <thread>
#include <vector>

struct fuse;

namespace folvane {

class LoopbackFS;

// The site's volume: mounts the loopback filesystem at the mount point, serves it on threads of its
// own (several calls at once), and takes it down again. Outcomes arrive as signals on the main thread,
// after `mount()` has returned. All public methods are for the main thread.
class MountSession : public QObject, public VolumeControl {
    Q_OBJECT
public:
    MountSession(LoopbackFS& fs, QString title, QString mountPoint, QObject* parent = nullptr);
    // Unmounts when still mounted.
    ~MountSession() override;

    const QString& mountPoint() const { return mountPoint_; }

    // Creates the mount point (and the root above it) when missing, detaches a stale mount left there by
    // a crashed run, mounts and starts serving. Reports `mounted` or `mountFailed`.
    void mount();
    // Stops serving and detaches the volume, also when it is busy (a shell inside it): whoever still
    // uses it gets "Transport endpoint is not connected". The mount-point folder this session mounted on
    // is removed once nothing is mounted there. Returns whether nothing is left mounted.
    bool unmount();

    // Makes the kernel forget what it cached (names, attributes, contents) of the folders and of whatever
    // the mirror changed since `since`, without unmounting: for after the helper itself rewrote the mirror.
    // Paths the helper removed from the mirror are forgotten with `invalidate`.
    void invalidateChangedSince(std::chrono::system_clock::time_point since) override;
    // The same for one volume path: its cached attributes and contents, and its name too when the mirror
    // no longer has it or has another kind of item there.
    void invalidate(const QString& volumePath) override;
    void holdChanges() override;
    void resumeChanges() override;
    std::uint64_t openMark() override;
    void fileCurrent(const QString& volumePath, std::uint64_t mark) override;

signals:
    void mounted(const QString& mountPoint);
    void mountFailed(const QString& reason);
    // The volume went away without `unmount()`: ejected or unmounted from outside, lazily detached
    // while in use included.
    void unmountedFromOutside();

private:
    QString mountFailure();
    void serve();
    void watch();
    void stopServing();
    void forgetName(const QByteArray& volumePath);

    LoopbackFS& fs_;
    const QString title_;
    const QString mountPoint_;
    struct fuse* fuse_ = nullptr;
    std::vector<std::thread> servers_;
    std::thread watcher_;
    int wakeFd_ = -1; // tells the watcher that serving ends (an unmount, a thread that left its loop)
    std::atomic<bool> stopping_ = false;
    std::atomic<int> serving_ = 0;
    // While changes are held (main thread only): the invalidations asked for meanwhile.
    bool holding_ = false;
    std::optional<std::chrono::system_clock::time_point> deferredSince_;
    std::vector<QString> deferredPaths_;
};

} // namespace folvane
