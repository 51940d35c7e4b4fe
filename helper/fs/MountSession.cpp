#include "MountSession.h"

#include "ConsoleLog.h"
#include "FuseApi.h"
#include "LoopbackFS.h"
#include "MountTable.h"
#include "Paths.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace folvane {

namespace {

// libfuse explains a failed mount only in its log messages. While the main thread sets a mount up, those
// messages are kept as the failure's reason; every message also goes to the console log.
thread_local QString* capturedFuseMessages = nullptr;

void logFuseMessage(fuse_log_level, const char* format, va_list arguments) {
    char text[1024];
    std::vsnprintf(text, sizeof text, format, arguments);
    const QString message = QString::fromLocal8Bit(text).trimmed();
    logLine(message);
    if (capturedFuseMessages)
        *capturedFuseMessages +=
            (capturedFuseMessages->isEmpty() ? QString() : QStringLiteral("; ")) + message;
}

class FuseMessageCapture {
public:
    FuseMessageCapture() {
        fuse_set_log_func(logFuseMessage);
        capturedFuseMessages = &messages_;
    }
    ~FuseMessageCapture() { capturedFuseMessages = nullptr; }
    // What libfuse said, else the system's text for the error number.
    QString reason(int error) const {
        return messages_.isEmpty() ? QString::fromLocal8Bit(std::strerror(error)) : messages_;
    }

private:
    QString messages_;
};

// Calls block in the mirror's filesystem (fsync, a large write), so a few more threads than cores keep
// the others moving.
unsigned servingThreads() {
    return std::clamp(std::thread::hardware_concurrency(), 4u, 16u);
}

// fuse_opt splits option lists at commas; a backslash keeps one in a value.
std::string escapedOptionValue(const QString& value) {
    std::string escaped;
    for (const char c : value.toUtf8().toStdString()) {
        if (c == ',' || c == '\\')
            escaped += '\\';
        escaped += c;
    }
    return escaped;
}

// Tells a serving thread to look whether the session ended; no one else sends it.
int wakeSignal() {
    return SIGRTMIN + 3;
}

void ignoreWake(int) {}

// Interrupts a serving thread's read without restarting it.
void installWakeHandler() {
    struct sigaction action = {};
    action.sa_handler = ignoreWake;
    sigemptyset(&action.sa_mask);
    ::sigaction(wakeSignal(), &action, nullptr);
}

} // namespace

MountSession::MountSession(LoopbackFS& fs, QString title, QString mountPoint, QObject* parent)
    : QObject(parent), fs_(fs), title_(std::move(title)), mountPoint_(std::move(mountPoint)),
      wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

MountSession::~MountSession() {
    unmount();
    ::close(wakeFd_);
}

void MountSession::mount() {
    const QString failure = mountFailure();
    if (!failure.isEmpty()) {
        QMetaObject::invokeMethod(
            this, [this, failure] { emit mountFailed(failure); }, Qt::QueuedConnection);
        return;
    }
    const unsigned count = servingThreads();
    serving_ = static_cast<int>(count);
    for (unsigned i = 0; i < count; ++i)
        servers_.emplace_back([this] { serve(); });
    watcher_ = std::thread([this] { watch(); });
    QMetaObject::invokeMethod(
        this, [this] { emit mounted(mountPoint_); }, Qt::QueuedConnection);
}

// Sets the mount up; the reason when that failed, else the empty text.
QString MountSession::mountFailure() {
    if (!paths::isSafeMountTitle(title_))
        return QStringLiteral("The site title \"%1\" cannot name a mount point: it must be one folder name "
                              "(not empty, \".\" or \"..\", and without \"/\").")
            .arg(title_);
    if (wakeFd_ == -1)
        return QString::fromLocal8Bit(std::strerror(errno));
    if (MountTable::hasFuseMountAt(mountPoint_)) {
        logLine(QStringLiteral("Detaching a mount left at ") + mountPoint_ +
                QStringLiteral(" by an earlier run"));
        if (!MountTable::detachFuseMountsAt(mountPoint_))
            return QStringLiteral("A mount left at %1 by an earlier run could not be detached.")
                .arg(mountPoint_);
    }
    QDir().mkpath(mountPoint_);
    if (!QFileInfo(mountPoint_).isDir())
        return QStringLiteral("The mount point %1 is not a folder and cannot be made one.").arg(mountPoint_);

    // The kernel checks permissions against the mirror's modes as a local filesystem does, with the
    // caller's own rights (and clears set-group-id bits the caller may not set); the helper's rights are
    // only the mirror's.
    const std::string options =
        "fsname=" + escapedOptionValue(title_) + ",subtype=folvane3,default_permissions";
    const char* argv[] = {"folvane3-fuse-helper", "-o", options.c_str()};
    fuse_args args = FUSE_ARGS_INIT(3, const_cast<char**>(argv));
    FuseMessageCapture capture;
    errno = 0;
    struct fuse* session = fuse_new(&args, &LoopbackFS::operations(), sizeof(fuse_operations), &fs_);
    fuse_opt_free_args(&args);
    if (!session)
        return capture.reason(errno ? errno : EINVAL);
    if (fuse_mount(session, QFile::encodeName(mountPoint_).constData()) != 0) {
        const int error = errno ? errno : EIO;
        fuse_destroy(session);
        return capture.reason(error);
    }
    installWakeHandler();
    uint64_t drained;
    [[maybe_unused]] const ssize_t wasWoken = ::read(wakeFd_, &drained, sizeof drained);
    fuse_ = session;
    stopping_ = false;
    return {};
}

// The serving threads wait in a blocking read on the device, where the kernel wakes one of them per
// request. A volume detached lazily while still in use keeps its connection, so one more thread watches
// for `unmount()` and for every change of the mount table (which the kernel signals as priority data) to
// see whether the volume is still mounted; when it ends, the serving threads are interrupted by a signal
// until each has left its loop. The last one out reports an unmount from outside.
void MountSession::serve() {
    sigset_t others;
    sigfillset(&others);
    sigdelset(&others, wakeSignal());
    pthread_sigmask(SIG_SETMASK, &others, nullptr); // other signals are the main thread's business
    fuse_session* session = fuse_get_session(fuse_);
    fuse_buf buffer = {};
    while (!fuse_session_exited(session)) {
        const int received = fuse_session_receive_buf(session, &buffer);
        if (received == -EINTR || received == -EAGAIN)
            continue;
        if (received <= 0)
            break;
        const bool changes = LoopbackFS::beginRequest((buffer.flags & FUSE_BUF_IS_FD) ? nullptr : buffer.mem,
                                                      static_cast<size_t>(received));
        const LoopbackFS::ChangePass pass(fs_, changes);
        fuse_session_process_buf(session, &buffer);
    }
    std::free(buffer.mem);
    stopServing();
    if (--serving_ == 0 && !stopping_)
        QMetaObject::invokeMethod(
            this, [this] { emit unmountedFromOutside(); }, Qt::QueuedConnection);
}

void MountSession::watch() {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    const int mountTable = ::open("/proc/self/mounts", O_RDONLY | O_CLOEXEC);
    pollfd watched[2] = {{wakeFd_, POLLIN, 0}, {mountTable, POLLPRI, 0}};
    for (;;) {
        if (::poll(watched, 2, -1) == -1 && errno != EINTR)
            break;
        if (watched[0].revents)
            break;
        // Only the table: looking at the mount point itself would send a request to this volume.
        if (watched[1].revents && !MountTable::listsFuseMountAt(mountPoint_))
            break;
    }
    if (mountTable != -1)
        ::close(mountTable);
    fuse_session_exit(fuse_get_session(fuse_));
    // A signal that arrives just before a thread starts its read is missed, so it is repeated until
    // every thread has left.
    while (serving_ > 0) {
        for (std::thread& server : servers_)
            pthread_kill(server.native_handle(), wakeSignal());
        std::this_thread::sleep_for(10ms);
    }
}

void MountSession::stopServing() {
    const uint64_t wake = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &wake, sizeof wake);
}

bool MountSession::unmount() {
    if (!fuse_)
        return !MountTable::hasFuseMountAt(mountPoint_);
    stopping_ = true;
    fuse_exit(fuse_);
    stopServing();
    watcher_.join();
    for (std::thread& server : servers_)
        server.join();
    servers_.clear();
    // Closing the device ends the connection even while the volume is busy; the detach is lazy.
    fuse_unmount(fuse_);
    fuse_destroy(fuse_);
    fuse_ = nullptr;
    if (MountTable::hasFuseMountAt(mountPoint_))
        return false;
    QDir().rmdir(mountPoint_);
    return true;
}

void MountSession::holdChanges() {
    fs_.holdChanges();
    holding_ = true;
}

std::uint64_t MountSession::openMark() {
    return fs_.openGate().mark();
}

void MountSession::fileCurrent(const QString& volumePath, std::uint64_t mark) {
    fs_.openGate().current(volumePath, mark);
}

void MountSession::resumeChanges() {
    fs_.resumeChanges();
    holding_ = false;
    const std::vector<QString> paths = std::exchange(deferredPaths_, {});
    if (const auto since = std::exchange(deferredSince_, std::nullopt))
        invalidateChangedSince(*since);
    for (const QString& path : paths)
        invalidate(path);
}

void MountSession::invalidateChangedSince(std::chrono::system_clock::time_point since) {
    if (holding_) {
        deferredSince_ = std::min(deferredSince_.value_or(since), since);
        return;
    }
    if (!fuse_)
        return;
    // A file's change time comes from the kernel's coarse clock, which may lag the time taken here by
    // a tick: what changed within the second before counts as changed.
    const auto cutoff = since - std::chrono::seconds(1);
    const QString root = fs_.rootPath();
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat st;
        if (::lstat(QFile::encodeName(path).constData(), &st) == 0 && !S_ISDIR(st.st_mode) &&
            std::chrono::system_clock::time_point(std::chrono::seconds(st.st_ctim.tv_sec) +
                                                  std::chrono::nanoseconds(st.st_ctim.tv_nsec)) < cutoff)
            continue;
        invalidate(path.mid(root.size()));
    }
    fuse_lowlevel_notify_inval_inode(fuse_get_session(fuse_), FUSE_ROOT_ID, 0, 0);
}

void MountSession::invalidate(const QString& volumePath) {
    if (holding_) {
        deferredPaths_.push_back(volumePath);
        return;
    }
    if (!fuse_ || !volumePath.startsWith(u'/') || volumePath.size() < 2)
        return;
    const QByteArray path = QFile::encodeName(volumePath);
    struct stat seen, real;
    // What the kernel believes (its cached attributes) against what the mirror holds.
    const bool present = ::lstat((QFile::encodeName(fs_.rootPath()) + path).constData(), &real) == 0;
    const bool seenAsOtherKind = present &&
                                 ::lstat((QFile::encodeName(mountPoint_) + path).constData(), &seen) == 0 &&
                                 (seen.st_mode & S_IFMT) != (real.st_mode & S_IFMT);
    if (!present || seenAsOtherKind)
        forgetName(path);
    fuse_invalidate_path(fuse_, path.constData());
}

// Drops the kernel's entry for the name (and everything cached below it), so the next lookup asks the
// filesystem. The parent is found by its inode number on the volume, which is libfuse's node id.
void MountSession::forgetName(const QByteArray& volumePath) {
    const qsizetype slash = volumePath.lastIndexOf('/');
    const QByteArray parent = volumePath.left(slash);
    const QByteArray name = volumePath.mid(slash + 1);
    fuse_ino_t parentNode = FUSE_ROOT_ID;
    if (!parent.isEmpty()) {
        struct stat st;
        if (::lstat((QFile::encodeName(mountPoint_) + parent).constData(), &st) != 0)
            return; // the kernel cannot reach the parent, so it holds nothing below it by that way
        parentNode = st.st_ino;
    }
    fuse_session* session = fuse_get_session(fuse_);
    fuse_lowlevel_notify_inval_entry(session, parentNode, name.constData(), static_cast<size_t>(name.size()));
    fuse_lowlevel_notify_inval_inode(session, parentNode, 0, 0);
}

} // namespace folvane
