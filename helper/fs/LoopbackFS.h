#pragma once

#include <QString>
#include <atomic>
#include <string>
#include <sys/types.h>

struct fuse_operations;

namespace folvane {

class VolumeEvents;

// The filesystem behind a site's volume: every operation is carried out on the same relative path
// inside the site's mirror folder, so the volume shows exactly what is on disk there. Operations that
// change a template, and every read, are reported to VolumeEvents with the volume path once the system
// call succeeded, at most one report per call; the filesystem itself never talks to the add-on and never
// consults the path dictionaries. Calls may run on several threads at once: each is one system call on
// the mirror, which needs no lock of its own.
class LoopbackFS {
public:
    struct CachePolicy {
        // Keep file contents in the kernel's page cache across opens. Off: every read reaches the
        // filesystem (each read may fetch the template from the site).
        bool keepPageCache = true;
        // How long the kernel may trust names and attributes it has seen. The helper invalidates
        // whatever it changes in the mirror itself, so only changes made behind its back wait this long.
        double attributeSeconds = 86400;
        // With the page cache kept, writes gather in the kernel; while a file stays open for writing they
        // are handed to the filesystem (and reported) at least this often.
        double writebackSeconds = 0.2;
    };

    LoopbackFS(QString rootPath, VolumeEvents& events, CachePolicy cache);

    const QString& rootPath() const { return rootPathText_; }
    const CachePolicy& cachePolicy() const { return cache_; }
    // Whether the kernel keeps written data in its cache (negotiated when the volume was mounted).
    bool gathersWrites() const { return writeback_; }
    bool hasFilesOpenForWriting() const { return openForWriting_ > 0; }
    // The table handed to libfuse; the instance is its private data.
    static const fuse_operations& operations();
    // Called by the session loop with each raw request before libfuse dispatches it (null when the
    // request was not read into memory), on the serving thread.
    static void beginRequest(const void* request, size_t size);

private:
    friend struct LoopbackOps;

    std::string realPath(const char* volumePath) const { return root_ + volumePath; }
    // Nothing for a handle whose file has no name any more (unlinked while open).
    void report(void (VolumeEvents::*event)(const QString&), const char* volumePath);

    const QString rootPathText_;
    const std::string root_;
    VolumeEvents& events_;
    const CachePolicy cache_;
    std::atomic<bool> writeback_ = false;
    std::atomic<int> openForWriting_ = 0;
};

} // namespace folvane
