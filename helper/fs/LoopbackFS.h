#pragma once

#include "OpenGate.h"

#include <QString>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <sys/types.h>

struct fuse_operations;

namespace folvane {

class VolumeEvents;

// The filesystem behind a site's volume: every operation is carried out on the same relative path
// inside the site's mirror folder, so the volume shows exactly what is on disk there. Operations that
// change a template, and with caching off every open for reading, are reported to VolumeEvents with the
// volume path once the system call succeeded, at most one report per call; the filesystem itself never talks
// to the add-on and never consults the site's records. Calls may run on several threads at once: each is
// one system call on the mirror, which needs no lock of its own.
class LoopbackFS {
public:
    struct CachePolicy {
        // Keep file contents in the kernel's page cache across opens. Off: every read reaches the
        // filesystem, and each open for reading is reported and waits at most `openWaitMs` for the
        // synchronisation to bring the file up to date with the site.
        bool keepPageCache = true;
        // How long the kernel may trust names and attributes it has seen. The helper invalidates
        // whatever it changes in the mirror itself, so only changes made behind its back wait this long.
        double attributeSeconds = 86400;
        int openWaitMs = 5000;
    };

    LoopbackFS(QString rootPath, VolumeEvents& events, CachePolicy cache);
    ~LoopbackFS();
    LoopbackFS(const LoopbackFS&) = delete;
    LoopbackFS& operator=(const LoopbackFS&) = delete;

    const QString& rootPath() const { return rootPathText_; }
    const CachePolicy& cachePolicy() const { return cache_; }
    // The table handed to libfuse; the instance is its private data.
    static const fuse_operations& operations();
    // Called by the session loop with each raw request before libfuse dispatches it (null when the
    // request was not read into memory: a large write), on the serving thread. Returns whether the request
    // changes the mirror.
    static bool beginRequest(const void* request, size_t size);

    // What opens wait on with caching off.
    OpenGate& openGate() { return openGate_; }

    // While held, requests that change the mirror wait before they are carried out; reads go on.
    // `holdChanges` returns once no change is in progress. Main thread.
    void holdChanges();
    void resumeChanges();
    // Held by a serving thread around a request that changes the mirror.
    class ChangePass {
    public:
        ChangePass(LoopbackFS& fs, bool changes);
        ~ChangePass();
        ChangePass(const ChangePass&) = delete;
        ChangePass& operator=(const ChangePass&) = delete;

    private:
        LoopbackFS* fs_;
    };

private:
    friend struct LoopbackOps;

    // A volume path as a folder of the mirror and a name in it, for the *at calls. Relative to the mirror's
    // root, so the mirror's own location takes nothing from the length a volume path may have; a path
    // longer than one call takes is reached a folder at a time.
    class MirrorName {
    public:
        MirrorName(int folder, const char* name, int owned, int error)
            : folder_(folder), name_(name), owned_(owned), error_(error) {}
        ~MirrorName();
        MirrorName(const MirrorName&) = delete;
        MirrorName& operator=(const MirrorName&) = delete;
        int folder() const { return folder_; }
        const char* name() const { return name_; }
        // The errno of a folder on the way that could not be opened, else 0.
        int error() const { return error_; }

    private:
        int folder_;
        const char* name_;
        int owned_;
        int error_;
    };
    MirrorName at(const char* volumePath) const;
    // Opened when the kernel first talks to the volume, once the mirror is in place.
    void openRoot();
    // Nothing for a handle whose file has no name any more (unlinked while open).
    void report(void (VolumeEvents::*event)(const QString&), const char* volumePath);
    // With caching off: reports the open and waits until the file is current or the wait is over.
    void waitUntilCurrent(const char* volumePath);

    const QString rootPathText_;
    const std::string root_;
    int rootFd_ = -1;
    VolumeEvents& events_;
    const CachePolicy cache_;
    OpenGate openGate_;
    std::mutex changeMutex_;
    std::condition_variable changeTurn_;
    bool changesHeld_ = false;
    int changesInProgress_ = 0;
};

} // namespace folvane
