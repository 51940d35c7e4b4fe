#include "SiteLock.h"

#include "Paths.h"
#include "tree/WebsiteInUse.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace folvane {

SiteLock::SiteLock(const QString& title, const QString& folder)
    : path_(QDir::cleanPath(folder) + u'/' + stableHashText(title) + QStringLiteral(".lock")) {}

SiteLock::~SiteLock() {
    if (fd_ != -1)
        ::close(fd_);
}

SiteLock::Outcome SiteLock::acquire(int waitMs, QString* error) {
    const QString folder = QFileInfo(path_).path();
    if (!paths::makePrivateFolder(folder)) {
        *error = QStringLiteral("could not make the lock folder ") + folder;
        return Outcome::unavailable;
    }
    struct stat info {};
    if (::lstat(QFile::encodeName(folder).constData(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::geteuid() || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        *error = QStringLiteral("the lock folder %1 is not this user's alone").arg(folder);
        return Outcome::unavailable;
    }
    fd_ = ::open(QFile::encodeName(path_).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ == -1) {
        *error = QStringLiteral("could not open the lock file %1: %2")
                     .arg(path_, QString::fromLocal8Bit(std::strerror(errno)));
        return Outcome::unavailable;
    }
    const QDeadlineTimer deadline(waitMs);
    while (::flock(fd_, LOCK_EX | LOCK_NB) == -1) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            *error = QStringLiteral("could not lock %1: %2")
                         .arg(path_, QString::fromLocal8Bit(std::strerror(errno)));
            return Outcome::unavailable;
        }
        if (deadline.hasExpired())
            return Outcome::heldByAnother;
        QThread::msleep(50);
    }
    return Outcome::acquired;
}

} // namespace folvane
