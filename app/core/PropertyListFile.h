#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <plist/plist.h>
#include <utility>

class QFileSystemWatcher;

namespace folvane {

struct PlistDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
// Owns a libplist node tree.
using Plist = std::unique_ptr<void, PlistDeleter>;

// One property-list file of the support folder. Saves never leave a half-written file: the new content
// goes to a temporary file that then replaces the old one. A file that has content but cannot be read
// is moved aside under a new name before anything can overwrite it. The application and the command
// line both change these files: a change is read, applied and saved while holding lock().
class PropertyListFile {
public:
    // An advisory lock (flock) on a file beside this one, held for the object's life. The list file
    // itself cannot carry it: every save replaces it by a new file.
    class Lock {
    public:
        explicit Lock(int descriptor = -1) : descriptor_(descriptor) {}
        Lock(Lock&& other) noexcept : descriptor_(std::exchange(other.descriptor_, -1)) {}
        Lock& operator=(Lock&&) = delete;
        ~Lock();
        explicit operator bool() const { return descriptor_ >= 0; }

    private:
        int descriptor_;
    };

    // What tells one version of the file from another without reading it.
    struct Stamp {
        quint64 inode = 0;
        qint64 size = -1;
        qint64 modifiedNanoseconds = 0;
        bool operator==(const Stamp&) const = default;
    };

    PropertyListFile(QString folder, const QString& fileName);

    QString folder() const { return folder_; }
    QString path() const { return path_; }
    bool exists() const;
    // Creates the folder, and its missing parents, when it is not there.
    bool createFolder();
    // Before the file's first save: logs `firstStartLine` and creates the folder. Nothing once the file
    // exists.
    bool prepareFirstSave(const QString& firstStartLine);
    // The file's root node; nothing when the file is missing, empty or not a property list (then moved
    // aside, see keptAsidePath()).
    Plist load();
    // The root node of a property list (binary or XML) held in `bytes`; nothing when they are none, or
    // when a text or key in it holds a NUL byte.
    static Plist parse(const QByteArray& bytes);
    // The bytes save() writes for `root` (the binary form); empty when it cannot be encoded.
    static QByteArray encode(plist_t root);
    // Writes `root` as a binary property list.
    bool save(plist_t root);
    // Waits a few seconds at most for another process to finish its change; an empty Lock (and
    // lastError()) when it does not.
    Lock lock();
    // Of the file as it is now; the default Stamp when it is missing.
    Stamp stamp() const;
    // Moves the file aside under a new name: it holds something this program cannot read.
    void keepAside();

    // Where an unreadable file was moved by load(); empty when none was.
    QString keptAsidePath() const { return keptAsidePath_; }
    // Why the last createFolder(), load() or save() failed.
    QString lastError() const { return lastError_; }

private:
    QString folder_;
    QString path_;
    QString keptAsidePath_;
    QString lastError_;
    bool unreadableInPlace_ = false; // unreadable and could not be moved: a save would destroy it
};

// Reports, while the event loop turns, that another program may have replaced or edited the file: the
// folder catches a replaced file, the file an edit in place (its watch ends with each replace).
class PropertyListWatch {
public:
    PropertyListWatch(const PropertyListFile& file, std::function<void()> changed);
    ~PropertyListWatch();

private:
    std::unique_ptr<QFileSystemWatcher> watcher_;
};

} // namespace folvane
