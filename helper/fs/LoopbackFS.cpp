#include "LoopbackFS.h"

#include "ConsoleLog.h"
#include "FuseApi.h"
#include "VolumeEvents.h"

#include <QFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/fuse.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

namespace folvane {

namespace {

// libfuse wants 0 or the negative error number.
int status(int result) {
    return result == -1 ? -errno : 0;
}

int fdOf(const fuse_file_info* fi) {
    return static_cast<int>(fi->fh);
}

// Without a path the handle's file was removed while open.
std::string_view nameIn(const char* volumePath) {
    const char* slash = std::strrchr(volumePath, '/');
    return slash ? slash + 1 : volumePath;
}

QString volumeText(const char* volumePath) {
    return volumePath ? QFile::decodeName(volumePath) : QStringLiteral("(removed file)");
}

void logAt(const char* what, const char* volumePath) {
    logLine(QLatin1String(what) + volumeText(volumePath));
}

// A set-attributes request may carry a new size together with a new mode or owner (the kernel clears
// set-user-id bits on truncate that way). libfuse applies mode and owner before the size; the size
// must come first, so that a failed truncate changes nothing else. The serving thread notes such a
// request before dispatching it; the first of chmod/chown then truncates, and the truncate that libfuse
// calls afterwards has nothing left to do.
struct SizeFirst {
    bool pending = false;
    bool done = false;
    off_t size = 0;
};
thread_local SizeFirst sizeFirst;

// Whether the process behind the current request holds CAP_FSETID (its effective set, as /proc shows it).
bool callerMayKeepSetIdBits() {
    QFile status(QStringLiteral("/proc/%1/status").arg(fuse_get_context()->pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    constexpr int capFsetid = 4;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine())
        if (line.startsWith("CapEff:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> capFsetid) & 1;
    return false;
}

// A write by a caller without CAP_FSETID clears the set-user-id bit, and the set-group-id bit of a file its
// group may run, as a local filesystem does. Writes through the page cache have the kernel do it first; a
// direct write (caching off, or a handle open only for writing) leaves it to the filesystem.
void dropSetIdBitsOnWrite(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return;
    mode_t mode = st.st_mode & 07777 & ~S_ISUID;
    if ((mode & (S_ISGID | S_IXGRP)) == (S_ISGID | S_IXGRP))
        mode &= ~S_ISGID;
    if (mode != (st.st_mode & 07777) && !callerMayKeepSetIdBits())
        ::fchmod(fd, mode);
}

} // namespace

LoopbackFS::LoopbackFS(QString rootPath, VolumeEvents& events, CachePolicy cache)
    : rootPathText_(std::move(rootPath)), root_(QFile::encodeName(rootPathText_).toStdString()),
      events_(events), cache_(cache) {}

LoopbackFS::~LoopbackFS() {
    if (rootFd_ != -1)
        ::close(rootFd_);
}

void LoopbackFS::openRoot() {
    if (rootFd_ != -1)
        ::close(rootFd_);
    rootFd_ = ::open(root_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (rootFd_ == -1)
        logLine(QStringLiteral("Cannot open the mirror folder ") + rootPathText_);
}

LoopbackFS::MirrorName::~MirrorName() {
    if (owned_ != -1)
        ::close(owned_);
}

LoopbackFS::MirrorName LoopbackFS::at(const char* volumePath) const {
    const char* rest = volumePath + 1;
    if (*rest == '\0')
        return {rootFd_, ".", -1, 0};
    int folder = rootFd_, owned = -1;
    while (std::strlen(rest) >= PATH_MAX) {
        const char* cut = rest + PATH_MAX - 1;
        while (cut > rest && *cut != '/')
            --cut;
        if (cut == rest)
            break; // one name too long: the call itself says so
        const int next = ::openat(folder, std::string(rest, cut).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        const int error = errno;
        if (owned != -1)
            ::close(owned);
        if (next == -1)
            return {-1, rest, -1, error};
        folder = owned = next;
        rest = cut + 1;
    }
    return {folder, rest, owned, 0};
}

void LoopbackFS::report(void (VolumeEvents::*event)(const QString&), const char* volumePath) {
    if (volumePath && !isRemovedOpenName(nameIn(volumePath)))
        (events_.*event)(QFile::decodeName(volumePath));
}

void LoopbackFS::waitUntilCurrent(const char* volumePath) {
    const QString path = QFile::decodeName(volumePath);
    const std::uint64_t ticket = openGate_.ticket(path);
    events_.fileOpened(path);
    if (!openGate_.pass(path, ticket, std::chrono::milliseconds(cache_.openWaitMs)))
        logLine(QStringLiteral("The site did not answer in time; opening the local copy of ") + path);
}

// One static function per libfuse operation, each one system call on the real path or the handle.
struct LoopbackOps {
    static LoopbackFS& fs() { return *static_cast<LoopbackFS*>(fuse_get_context()->private_data); }

    static void* init(fuse_conn_info* conn, fuse_config* cfg) {
        LoopbackFS& self = *static_cast<LoopbackFS*>(fuse_get_context()->private_data);
        self.openRoot();
        // The kernel's numbering, not the mirror's: the invalidation code finds a folder's node by
        // its inode number on the volume.
        cfg->use_ino = 0;
        // A file removed or renamed over while still open is set aside under a hidden name until its last
        // close (isRemovedOpenName): its handles keep answering for its attributes, as on a local disk.
        cfg->hard_remove = 0;
        cfg->nullpath_ok = 0;
        cfg->entry_timeout = self.cache_.attributeSeconds;
        cfg->attr_timeout = self.cache_.attributeSeconds;
        // A name the kernel remembers as missing would make a later create fail with EEXIST.
        cfg->negative_timeout = 0;
        // No writeback cache: with it the kernel keeps its own idea of a file's size and ignores the size
        // the mirror reports after the helper rewrote the file (a refresh, an on-open fetch), so the volume
        // would show the site's new text cut or padded to the old length.
        conn->want &= ~FUSE_CAP_WRITEBACK_CACHE;
        // Clearing set-user-id bits on truncate reaches the filesystem as a mode change.
        conn->want &= ~FUSE_CAP_HANDLE_KILLPRIV;
        // Otherwise the kernel re-reads every file at each open, which defeats keeping the page cache;
        // the helper invalidates whatever it changes in the mirror itself.
        conn->want &= ~FUSE_CAP_AUTO_INVAL_DATA;
        return &self;
    }

    static int getattr(const char* path, struct stat* st, fuse_file_info* fi) {
        return fi ? status(::fstat(fdOf(fi), st)) : lstatAt(path, st);
    }

    static int lstatAt(const char* path, struct stat* st) {
        const auto m = fs().at(path);
        return m.error() ? -m.error() : status(::fstatat(m.folder(), m.name(), st, AT_SYMLINK_NOFOLLOW));
    }

    static int readlink(const char* path, char* buffer, size_t size) {
        const auto m = fs().at(path);
        if (m.error())
            return -m.error();
        const ssize_t length = ::readlinkat(m.folder(), m.name(), buffer, size - 1);
        if (length == -1)
            return -errno;
        buffer[length] = '\0';
        return 0;
    }

    static int mkdir(const char* path, mode_t mode) {
        logAt("Create directory at ", path);
        const auto m = fs().at(path);
        const int result = m.error() ? -m.error() : status(::mkdirat(m.folder(), m.name(), mode));
        if (result == 0)
            fs().report(&VolumeEvents::folderMade, path);
        return result;
    }

    static int unlink(const char* path) {
        logAt("Remove file at ", path);
        const auto m = fs().at(path);
        const int result = m.error() ? -m.error() : status(::unlinkat(m.folder(), m.name(), 0));
        if (result == 0)
            fs().report(&VolumeEvents::fileRemoved, path);
        return result;
    }

    static int rmdir(const char* path) {
        logAt("Remove directory at ", path);
        const auto m = fs().at(path);
        int result = m.error() ? -m.error() : status(::unlinkat(m.folder(), m.name(), AT_REMOVEDIR));
        // A folder whose only entries are removed files still open is empty to its users: those go now
        // (their handles keep the files), as a local filesystem removes such a folder.
        if (result == -ENOTEMPTY && removeSetAside(m.folder(), m.name()))
            result = status(::unlinkat(m.folder(), m.name(), AT_REMOVEDIR));
        if (result == 0)
            fs().report(&VolumeEvents::folderRemoved, path);
        return result;
    }

    // Whether the folder `name` in `parent` held nothing but removed open files, which are unlinked.
    static bool removeSetAside(int parent, const char* name) {
        const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        DIR* dir = fd == -1 ? nullptr : ::fdopendir(fd);
        if (!dir) {
            if (fd != -1)
                ::close(fd);
            return false;
        }
        std::vector<std::string> setAside;
        bool onlySetAside = true;
        while (const dirent* entry = ::readdir(dir)) {
            const std::string_view entryName = entry->d_name;
            if (isRemovedOpenName(entryName))
                setAside.emplace_back(entryName);
            else if (entryName != "." && entryName != "..")
                onlySetAside = false;
        }
        if (onlySetAside)
            for (const std::string& entryName : setAside)
                ::unlinkat(::dirfd(dir), entryName.c_str(), 0);
        ::closedir(dir);
        return onlySetAside && !setAside.empty();
    }

    static int symlink(const char* target, const char* path) {
        const auto m = fs().at(path);
        return m.error() ? -m.error() : status(::symlinkat(target, m.folder(), m.name()));
    }

    // FIFOs, sockets and device nodes live in the mirror like anything else but never reach the site;
    // a regular file made this way is a new file like one made by create. The kernel has checked that
    // the caller may make a device node.
    static int mknod(const char* path, mode_t mode, dev_t device) {
        const auto m = fs().at(path);
        const int result = m.error() ? -m.error() : status(::mknodat(m.folder(), m.name(), mode, device));
        if (result == 0 && S_ISREG(mode)) {
            logAt("Create file at ", path);
            fs().report(&VolumeEvents::fileCreated, path);
        }
        return result;
    }

    static int renameAt(const char* from, const char* to, unsigned int flags) {
        const auto source = fs().at(from), destination = fs().at(to);
        if (source.error() || destination.error())
            return -(source.error() ? source.error() : destination.error());
        return status(
            ::renameat2(source.folder(), source.name(), destination.folder(), destination.name(), flags));
    }

    static int rename(const char* from, const char* to, unsigned int flags) {
        if (flags & RENAME_EXCHANGE)
            return exchange(from, to);
        const int result = renameAt(from, to, flags);
        if (result != 0)
            return result;
        const QString source = QFile::decodeName(from);
        const QString destination = QFile::decodeName(to);
        logLine(QStringLiteral("Moving file from ") + source + QStringLiteral(" to ") + destination);
        // libfuse setting aside a removed open file: for the site, the name was removed. When a rename
        // over it follows, the name taken back at once makes that a save, as any rename over a template.
        if (isRemovedOpenName(nameIn(to)))
            fs().report(&VolumeEvents::fileRemoved, from);
        else
            fs().events_.moved(source, destination);
        return 0;
    }

    // Two files swap their contents under their names: each name keeps its template, so each is a save.
    // Anything else exchanged (a folder, a file with a link or a FIFO) would make a template of something
    // else or move a whole group, which no save or move describes: refused as by a filesystem without
    // exchanges. Items that never reach the site (FIFOs, sockets, device nodes, links) swap freely.
    static int exchange(const char* from, const char* to) {
        struct stat first, second;
        if (const int failed = lstatAt(from, &first); failed != 0)
            return failed;
        if (const int failed = lstatAt(to, &second); failed != 0)
            return failed;
        const bool files = S_ISREG(first.st_mode) && S_ISREG(second.st_mode);
        const bool neverSent = !S_ISREG(first.st_mode) && !S_ISDIR(first.st_mode) &&
                               !S_ISREG(second.st_mode) && !S_ISDIR(second.st_mode);
        if (!files && !neverSent)
            return -EINVAL;
        if (const int failed = renameAt(from, to, RENAME_EXCHANGE); failed != 0)
            return failed;
        if (files) {
            logLine(QStringLiteral("Exchanged the files ") + volumeText(from) + QStringLiteral(" and ") +
                    volumeText(to));
            fs().report(&VolumeEvents::fileWritten, from);
            fs().report(&VolumeEvents::fileWritten, to);
        }
        return 0;
    }

    // A second name for a file would let a save under one name change the other's template unseen; the
    // volume has no hard links, as a filesystem without them answers.
    static int link(const char*, const char*) { return -EPERM; }

    // truncate(2) itself, on the file found relative to the mirror's root (there is no truncateat).
    static int truncateAt(const char* path, off_t size) {
        const auto m = fs().at(path);
        if (m.error()) {
            errno = m.error();
            return -1;
        }
        const int fd = ::openat(m.folder(), m.name(), O_PATH | O_CLOEXEC);
        if (fd == -1)
            return -1;
        const int result = ::truncate(("/proc/self/fd/" + std::to_string(fd)).c_str(), size);
        const int error = errno;
        ::close(fd);
        errno = error;
        return result;
    }

    // A size change is a save of its own, even when no write follows.
    static int resize(const char* path, off_t size, fuse_file_info* fi) {
        const int result = status(fi ? ::ftruncate(fdOf(fi), size) : truncateAt(path, size));
        if (result == 0)
            fs().report(&VolumeEvents::fileWritten, path);
        return result;
    }

    static int resizeFirst(const char* path, fuse_file_info* fi) {
        if (!sizeFirst.pending || sizeFirst.done)
            return 0;
        sizeFirst.done = true;
        return resize(path, sizeFirst.size, fi);
    }

    static int chmod(const char* path, mode_t mode, fuse_file_info* fi) {
        if (const int failed = resizeFirst(path, fi))
            return failed;
        if (fi)
            return status(::fchmod(fdOf(fi), mode));
        const auto m = fs().at(path);
        return m.error() ? -m.error() : status(::fchmodat(m.folder(), m.name(), mode, 0));
    }

    static int chown(const char* path, uid_t uid, gid_t gid, fuse_file_info* fi) {
        if (const int failed = resizeFirst(path, fi))
            return failed;
        if (fi)
            return status(::fchown(fdOf(fi), uid, gid));
        const auto m = fs().at(path);
        return m.error() ? -m.error()
                         : status(::fchownat(m.folder(), m.name(), uid, gid, AT_SYMLINK_NOFOLLOW));
    }

    static int truncate(const char* path, off_t size, fuse_file_info* fi) {
        return sizeFirst.done ? 0 : resize(path, size, fi);
    }

    static int utimens(const char* path, const timespec times[2], fuse_file_info* fi) {
        if (fi)
            return status(::futimens(fdOf(fi), times));
        const auto m = fs().at(path);
        return m.error() ? -m.error() : status(::utimensat(m.folder(), m.name(), times, AT_SYMLINK_NOFOLLOW));
    }

    static bool forWriting(const fuse_file_info* fi) { return (fi->flags & O_ACCMODE) != O_RDONLY; }

    // With caching off every call reaches the mirror. With it on, a handle open only for writing still
    // writes straight through: its data is copied once, into the mirror, instead of first into the
    // volume's page cache as well (the kernel drops the pages such a write makes stale).
    static bool writesDirectly(const fuse_file_info* fi) {
        return !fs().cache_.keepPageCache || (fi->flags & O_ACCMODE) == O_WRONLY;
    }

    static void useCachePolicy(fuse_file_info* fi) {
        fi->keep_cache = fs().cache_.keepPageCache;
        fi->direct_io = writesDirectly(fi);
    }

    static int create(const char* path, mode_t mode, fuse_file_info* fi) {
        logAt("Create file at ", path);
        const auto m = fs().at(path);
        if (m.error())
            return -m.error();
        const int fd = ::openat(m.folder(), m.name(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd == -1)
            return -errno;
        fi->fh = static_cast<uint64_t>(fd);
        useCachePolicy(fi);
        fs().report(&VolumeEvents::fileCreated, path);
        return 0;
    }

    static int open(const char* path, fuse_file_info* fi) {
        logAt("Open file at ", path);
        // The kernel's own requests already carry the positions; O_DIRECT would make the mirror refuse
        // the unaligned buffers it gets them in.
        const int flags = fi->flags & ~O_DIRECT;
        const auto m = fs().at(path);
        if (m.error())
            return -m.error();
        int fd = ::openat(m.folder(), m.name(), flags | O_CLOEXEC);
        if (fd == -1)
            return -errno;
        if (!fs().cache_.keepPageCache && (fi->flags & O_ACCMODE) != O_WRONLY && !(fi->flags & O_TRUNC)) {
            fs().waitUntilCurrent(path);
            // The site's version replaced the mirror's file (a new file under the name, or a new name):
            // the handle must be to what is there now. Where nothing is there any more, the old one stays.
            if (const int current = ::openat(m.folder(), m.name(), flags | O_CLOEXEC); current != -1) {
                ::close(fd);
                fd = current;
            }
        }
        fi->fh = static_cast<uint64_t>(fd);
        useCachePolicy(fi);
        if ((fi->flags & O_TRUNC) && forWriting(fi))
            fs().report(&VolumeEvents::fileWritten, path);
        return 0;
    }

    // The data goes from the mirror's file to the kernel without passing through this process where the
    // kernel allows it.
    static int read_buf(const char* path, fuse_bufvec** out, size_t size, off_t offset, fuse_file_info* fi) {
        logAt("Reading file at ", path);
        auto* source = static_cast<fuse_bufvec*>(std::malloc(sizeof(fuse_bufvec)));
        if (!source)
            return -ENOMEM;
        *source = FUSE_BUFVEC_INIT(size);
        source->buf[0].flags = static_cast<fuse_buf_flags>(FUSE_BUF_IS_FD | FUSE_BUF_FD_SEEK);
        source->buf[0].fd = fdOf(fi);
        source->buf[0].pos = offset;
        *out = source;
        return 0;
    }

    static int write_buf(const char* path, fuse_bufvec* data, off_t offset, fuse_file_info* fi) {
        logAt("Writing file at ", path);
        fuse_bufvec destination = FUSE_BUFVEC_INIT(fuse_buf_size(data));
        destination.buf[0].flags = static_cast<fuse_buf_flags>(FUSE_BUF_IS_FD | FUSE_BUF_FD_SEEK);
        destination.buf[0].fd = fdOf(fi);
        destination.buf[0].pos = offset;
        if (writesDirectly(fi))
            dropSetIdBitsOnWrite(fdOf(fi));
        const ssize_t written = fuse_buf_copy(&destination, data, FUSE_BUF_SPLICE_NONBLOCK);
        if (written < 0)
            return static_cast<int>(written);
        fs().report(&VolumeEvents::fileWritten, path);
        return static_cast<int>(written);
    }

    static ssize_t copy_file_range(const char*, fuse_file_info* fromFile, off_t fromOffset, const char* path,
                                   fuse_file_info* toFile, off_t toOffset, size_t size, int flags) {
        loff_t from = fromOffset, to = toOffset;
        const ssize_t copied =
            ::copy_file_range(fdOf(fromFile), &from, fdOf(toFile), &to, size, static_cast<unsigned>(flags));
        if (copied == -1)
            return -errno;
        fs().report(&VolumeEvents::fileWritten, path);
        return copied;
    }

    // Only SEEK_DATA and SEEK_HOLE reach the filesystem: where the mirror's file has its holes.
    static off_t lseek(const char*, off_t offset, int whence, fuse_file_info* fi) {
        const off_t result = ::lseek(fdOf(fi), offset, whence);
        return result == -1 ? -errno : result;
    }

    // The size of the mirror's own filesystem: a volume reporting no free space makes file managers
    // refuse to copy onto it.
    static int statfs(const char*, struct statvfs* st) { return status(::fstatvfs(fs().rootFd_, st)); }

    static int release(const char* path, fuse_file_info* fi) {
        if (!forWriting(fi)) {
            ::close(fdOf(fi));
            return 0;
        }
        if (::close(fdOf(fi)) == 0)
            fs().report(&VolumeEvents::fileReleased, path);
        return 0;
    }

    static int fsync(const char*, int dataOnly, fuse_file_info* fi) {
        return status(dataOnly ? ::fdatasync(fdOf(fi)) : ::fsync(fdOf(fi)));
    }

    static int opendir(const char* path, fuse_file_info* fi) {
        const auto m = fs().at(path);
        if (m.error())
            return -m.error();
        const int fd = ::openat(m.folder(), m.name(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        DIR* dir = fd == -1 ? nullptr : ::fdopendir(fd);
        if (!dir) {
            const int error = errno;
            if (fd != -1)
                ::close(fd);
            return -error;
        }
        fi->fh = reinterpret_cast<uint64_t>(dir);
        return 0;
    }

    static int readdir(const char*, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info* fi,
                       fuse_readdir_flags flags) {
        DIR* dir = reinterpret_cast<DIR*>(fi->fh);
        ::rewinddir(dir);
        errno = 0;
        // Offsets of 0: libfuse takes the whole listing in one pass and pages it to the kernel itself.
        // With attributes asked for, each entry comes with them, which spares the kernel a lookup each.
        while (const dirent* entry = ::readdir(dir)) {
            if (isRemovedOpenName(entry->d_name))
                continue;
            struct stat st = {};
            fuse_fill_dir_flags filled = {};
            if ((flags & FUSE_READDIR_PLUS) &&
                ::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
                filled = FUSE_FILL_DIR_PLUS;
            } else {
                st.st_ino = entry->d_ino;
                st.st_mode = static_cast<mode_t>(DTTOIF(entry->d_type));
            }
            if (fill(buffer, entry->d_name, &st, 0, filled) != 0)
                break;
            errno = 0;
        }
        return -errno;
    }

    static int fsyncdir(const char*, int dataOnly, fuse_file_info* fi) {
        const int fd = ::dirfd(reinterpret_cast<DIR*>(fi->fh));
        return status(dataOnly ? ::fdatasync(fd) : ::fsync(fd));
    }

    static int releasedir(const char*, fuse_file_info* fi) {
        ::closedir(reinterpret_cast<DIR*>(fi->fh));
        return 0;
    }

    // Space allocated beyond the end grows the file, and punching or zeroing a range changes its text:
    // either is a save. Space kept for later without a size change leaves the text as it was.
    static int fallocate(const char* path, int mode, off_t offset, off_t length, fuse_file_info* fi) {
        struct stat before, after;
        if (::fstat(fdOf(fi), &before) != 0)
            return -errno;
        if (::fallocate(fdOf(fi), mode, offset, length) != 0)
            return -errno;
        const bool changed = (mode & ~FALLOC_FL_KEEP_SIZE) != 0 ||
                             (::fstat(fdOf(fi), &after) == 0 && after.st_size != before.st_size);
        if (changed)
            fs().report(&VolumeEvents::fileWritten, path);
        return 0;
    }

    // No flush: the mirror's local filesystem has nothing to report when a file is closed, and without
    // the operation the kernel stops asking, which spares every close a round trip. No locks, ioctl or
    // poll either: the kernel then keeps locks itself and answers the rest as a local filesystem does.
    // No extended attributes: templates carry none, and once the kernel has been told they are not
    // supported it stops asking for `security.capability` before every write.
    static fuse_operations table() {
        fuse_operations ops = {};
        ops.init = init;
        ops.getattr = getattr;
        ops.readlink = readlink;
        ops.mknod = mknod;
        ops.mkdir = mkdir;
        ops.unlink = unlink;
        ops.rmdir = rmdir;
        ops.symlink = symlink;
        ops.rename = rename;
        ops.link = link;
        ops.chmod = chmod;
        ops.chown = chown;
        ops.truncate = truncate;
        ops.utimens = utimens;
        ops.create = create;
        ops.open = open;
        ops.read_buf = read_buf;
        ops.write_buf = write_buf;
        ops.statfs = statfs;
        ops.release = release;
        ops.fsync = fsync;
        ops.opendir = opendir;
        ops.readdir = readdir;
        ops.releasedir = releasedir;
        ops.fsyncdir = fsyncdir;
        ops.fallocate = fallocate;
        ops.copy_file_range = copy_file_range;
        ops.lseek = lseek;
        return ops;
    }
};

bool LoopbackFS::beginRequest(const void* request, size_t size) {
    sizeFirst = {};
    if (!request)
        return true; // only a write's data is left in the kernel's pipe
    if (size < sizeof(fuse_in_header))
        return false;
    fuse_in_header header;
    std::memcpy(&header, request, sizeof header);
    const char* arguments = static_cast<const char*>(request) + sizeof header;
    switch (header.opcode) {
    case FUSE_SETATTR:
        if (size >= sizeof header + sizeof(fuse_setattr_in)) {
            fuse_setattr_in setattr;
            std::memcpy(&setattr, arguments, sizeof setattr);
            if ((setattr.valid & FATTR_SIZE) && (setattr.valid & (FATTR_MODE | FATTR_UID | FATTR_GID)))
                sizeFirst = {.pending = true, .done = false, .size = static_cast<off_t>(setattr.size)};
        }
        return true;
    case FUSE_OPEN:
        if (size >= sizeof header + sizeof(fuse_open_in)) {
            fuse_open_in open;
            std::memcpy(&open, arguments, sizeof open);
            return (open.flags & O_TRUNC) != 0;
        }
        return false;
    case FUSE_SYMLINK:
    case FUSE_MKNOD:
    case FUSE_MKDIR:
    case FUSE_UNLINK:
    case FUSE_RMDIR:
    case FUSE_RENAME:
    case FUSE_RENAME2:
    case FUSE_LINK:
    case FUSE_WRITE:
    case FUSE_CREATE:
    case FUSE_FALLOCATE:
    case FUSE_COPY_FILE_RANGE:
        return true;
    default:
        return false;
    }
}

void LoopbackFS::holdChanges() {
    std::unique_lock lock(changeMutex_);
    changesHeld_ = true;
    changeTurn_.wait(lock, [this] { return changesInProgress_ == 0; });
}

void LoopbackFS::resumeChanges() {
    {
        std::lock_guard lock(changeMutex_);
        changesHeld_ = false;
    }
    changeTurn_.notify_all();
}

LoopbackFS::ChangePass::ChangePass(LoopbackFS& fs, bool changes) : fs_(changes ? &fs : nullptr) {
    if (!fs_)
        return;
    std::unique_lock lock(fs_->changeMutex_);
    fs_->changeTurn_.wait(lock, [this] { return !fs_->changesHeld_; });
    ++fs_->changesInProgress_;
}

LoopbackFS::ChangePass::~ChangePass() {
    if (!fs_)
        return;
    {
        std::lock_guard lock(fs_->changeMutex_);
        --fs_->changesInProgress_;
    }
    fs_->changeTurn_.notify_all();
}

const fuse_operations& LoopbackFS::operations() {
    static const fuse_operations table = LoopbackOps::table();
    return table;
}

} // namespace folvane
