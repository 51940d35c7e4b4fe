#include "MirrorWrite.h"

#include <QFile>
#include <QStringList>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace folvane {

bool makeMirrorFolder(const QString& mirror, const QString& folder, std::set<QString>* known) {
    if (folder != mirror && !folder.startsWith(mirror + u'/'))
        return false;
    QString current = mirror;
    const QStringList parts = folder.mid(mirror.size()).split(u'/', Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        current += u'/' + part;
        if (known && known->count(current))
            continue;
        const QByteArray native = QFile::encodeName(current);
        struct stat info {};
        if (::lstat(native.constData(), &info) != 0) {
            if (errno != ENOENT || (::mkdir(native.constData(), 0755) != 0 && errno != EEXIST))
                return false;
            if (::lstat(native.constData(), &info) != 0)
                return false;
        }
        if (!S_ISDIR(info.st_mode))
            return false;
        if (known)
            known->insert(current);
    }
    return true;
}

bool writeAll(int fd, const QByteArray& bytes) {
    for (qsizetype written = 0; written < bytes.size();) {
        const ssize_t n =
            ::write(fd, bytes.constData() + written, static_cast<size_t>(bytes.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        written += n;
    }
    return true;
}

bool writeMirrorFile(const QString& path, const QByteArray& bytes) {
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool written = writeAll(fd, bytes);
    return ::close(fd) == 0 && written;
}

bool mirrorFileHolds(const QString& path, const QByteArray& bytes) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    bool same = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size == bytes.size();
    QByteArray held(same ? bytes.size() : 0, Qt::Uninitialized);
    for (qsizetype done = 0; same && done < held.size();) {
        const ssize_t n = ::read(fd, held.data() + done, static_cast<size_t>(held.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        same = n > 0;
        done += n;
    }
    ::close(fd);
    return same && held == bytes;
}

} // namespace folvane
