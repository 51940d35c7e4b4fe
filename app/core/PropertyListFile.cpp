#include "PropertyListFile.h"

#include "Paths.h"

#include "ConsoleLog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSaveFile>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace folvane {

namespace {
// libplist ends the process when a text or key holding a NUL byte is read (its getters assert that the
// length is the C string's), so such a property list, which no program here writes, reads as none. The
// XML form writes texts and keys as they are (only markup escaped) and every other value as text or
// Base64: a NUL in it is a NUL in a text or key.
bool holdsTextWithNul(plist_t root) {
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root, &xml, &length);
    const bool found = !xml || std::memchr(xml, 0, length) != nullptr;
    plist_to_xml_free(xml);
    return found;
}
} // namespace

PropertyListFile::PropertyListFile(QString folder, const QString& fileName)
    : folder_(std::move(folder)), path_(folder_ + u'/' + fileName) {}

bool PropertyListFile::exists() const {
    return QFileInfo::exists(path_);
}

bool PropertyListFile::createFolder() {
    if (paths::makePrivateFolder(folder_))
        return true;
    lastError_ = QStringLiteral("cannot create the folder ") + folder_;
    logLine(lastError_);
    return false;
}

bool PropertyListFile::prepareFirstSave(const QString& firstStartLine) {
    if (exists())
        return true;
    logLine(firstStartLine);
    return createFolder();
}

Plist PropertyListFile::load() {
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly)) {
        lastError_ = QStringLiteral("cannot read ") + path_ + QStringLiteral(": ") + file.errorString();
        if (file.exists())
            keepAside();
        return nullptr;
    }
    const QByteArray bytes = file.readAll();
    file.close();
    if (bytes.isEmpty()) {
        lastError_ = path_ + QStringLiteral(" is empty");
        return nullptr;
    }
    Plist root = parse(bytes);
    if (!root) {
        lastError_ = path_ + QStringLiteral(" is not a property list");
        keepAside();
    }
    return root;
}

QByteArray PropertyListFile::encode(plist_t root) {
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(root, &bytes, &length);
    const QByteArray encoded(bytes, bytes ? static_cast<qsizetype>(length) : 0);
    plist_to_bin_free(bytes);
    return encoded;
}

Plist PropertyListFile::parse(const QByteArray& bytes) {
    plist_t root = nullptr;
    if (bytes.size() <= std::numeric_limits<uint32_t>::max())
        plist_from_memory(bytes.constData(), static_cast<uint32_t>(bytes.size()), &root);
    Plist parsed(root);
    if (parsed && holdsTextWithNul(parsed.get()))
        return nullptr;
    return parsed;
}

void PropertyListFile::keepAside() {
    const QString aside =
        path_ + QStringLiteral(".unreadable-") +
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd'T'HH-mm-ss-zzz'Z'"));
    if (QFile::rename(path_, aside)) {
        keptAsidePath_ = aside;
        logLine(path_ + QStringLiteral(" could not be read; it was kept as ") + aside);
    } else {
        unreadableInPlace_ = true;
        logLine(path_ + QStringLiteral(" could not be read nor moved aside; it will not be overwritten"));
    }
}

bool PropertyListFile::save(plist_t root) {
    if (unreadableInPlace_) {
        lastError_ = path_ + QStringLiteral(" could not be read nor moved aside; move it away to save again");
        return false;
    }
    if (!createFolder())
        return false;
    const QByteArray bytes = encode(root);
    if (bytes.isEmpty()) {
        lastError_ = QStringLiteral("cannot encode ") + path_;
        return false;
    }
    QSaveFile file(path_);
    // Unbuffered: a buffered write reports success and its failure (disk full) surfaces only at the flush,
    // after which the save still replaced the file with the truncated content.
    const bool opened = file.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    const bool complete = opened && file.write(bytes) == bytes.size();
    const bool written =
        complete && file.setPermissions(QFile::ReadOwner | QFile::WriteOwner) && file.commit();
    if (!written) {
        // A short write sets no error of its own: the disk is full or the file too large.
        const QString reason = opened && !complete && file.error() == QFileDevice::NoError
                                   ? QStringLiteral("the disk is full or the file too large")
                                   : file.errorString();
        lastError_ = QStringLiteral("cannot write ") + path_ + QStringLiteral(": ") + reason;
        logLine(lastError_);
    }
    return written;
}

PropertyListFile::Lock::~Lock() {
    if (descriptor_ >= 0)
        ::close(descriptor_); // closing releases the flock
}

PropertyListFile::Lock PropertyListFile::lock() {
    if (!createFolder())
        return Lock();
    const QByteArray lockPath = QFile::encodeName(path_ + QStringLiteral(".lock"));
    const int descriptor = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (descriptor < 0) {
        lastError_ = QStringLiteral("cannot open the lock file %1: %2")
                         .arg(QFile::decodeName(lockPath), QString::fromLocal8Bit(std::strerror(errno)));
        logLine(lastError_);
        return Lock();
    }
    // Another writer holds it for one read, change and save; a holder that stays far longer is stuck,
    // and waiting for it must not freeze the caller.
    constexpr int attempts = 500;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (::flock(descriptor, LOCK_EX | LOCK_NB) == 0)
            return Lock(descriptor);
        if (errno != EWOULDBLOCK && errno != EINTR)
            break;
        QThread::msleep(20);
    }
    lastError_ = QStringLiteral("%1 is being changed by another program; try again").arg(path_);
    logLine(lastError_);
    ::close(descriptor);
    return Lock();
}

PropertyListFile::Stamp PropertyListFile::stamp() const {
    struct stat info {};
    if (::stat(QFile::encodeName(path_).constData(), &info) != 0)
        return {};
    return {static_cast<quint64>(info.st_ino), static_cast<qint64>(info.st_size),
            static_cast<qint64>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec};
}

PropertyListWatch::PropertyListWatch(const PropertyListFile& file, std::function<void()> changed)
    : watcher_(std::make_unique<QFileSystemWatcher>()) {
    watcher_->addPath(file.folder());
    const auto check = [this, path = file.path(), changed = std::move(changed)] {
        changed();
        if (QFileInfo::exists(path) && !watcher_->files().contains(path))
            watcher_->addPath(path);
    };
    check();
    QObject::connect(watcher_.get(), &QFileSystemWatcher::directoryChanged, watcher_.get(), check);
    QObject::connect(watcher_.get(), &QFileSystemWatcher::fileChanged, watcher_.get(), check);
}

PropertyListWatch::~PropertyListWatch() = default;

} // namespace folvane
