#include "ConsoleLog.h"

#include "BuildInfo.h"
#include "Paths.h"
#include "PrintableText.h"

#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace folvane {

namespace {

// Room for bursts of many thousand lines while a destination is slow.
constexpr std::size_t queueCapacityBytes = 2 * 1024 * 1024;
// How long the end of a program waits for each destination to take what is still queued.
constexpr int exitFlushMs = 2000;
// How long the writer lets lines gather after each write.
constexpr std::chrono::milliseconds restAfterWrite{1};

// Writes all of `text`; false when the destination is gone (closed, no reader any more) or failing.
bool writeAll(int fd, const QByteArray& text) {
    const char* data = text.constData();
    std::size_t left = static_cast<std::size_t>(text.size());
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written >= 0) {
            data += written;
            left -= static_cast<std::size_t>(written);
            continue;
        }
        if (errno == EINTR)
            continue;
        // Standard error may be a non-blocking descriptor shared with another program.
        if (errno == EAGAIN) {
            pollfd ready{fd, POLLOUT, 0};
            ::poll(&ready, 1, -1);
            continue;
        }
        return false;
    }
    return true;
}

// One destination of the log: its own queue and the one thread that writes it, so that a stalled
// destination holds up neither the callers nor the other destination. Never destroyed: a thread still
// blocked on a stalled reader when the program ends must find its state in place.
class LogWriter {
public:
    // `write` returns false when the destination is gone for good; nothing is written there after that.
    explicit LogWriter(std::function<bool(const QByteArray&)> write)
        : queue_(queueCapacityBytes), write_(std::move(write)) {
        std::thread([this] { run(); }).detach();
    }

    void push(const QByteArray& line) {
        {
            std::lock_guard lock(mutex_);
            queue_.push(line);
        }
        wake_.notify_one();
    }

    bool flush(int timeoutMs) {
        std::unique_lock lock(mutex_);
        return drained_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [this] { return queue_.isEmpty() && !writing_; });
    }

private:
    void run() {
        bool gone = false;
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return !queue_.isEmpty(); });
            const QByteArray batch = queue_.takeAll();
            writing_ = true;
            lock.unlock();
            gone = gone || !write_(batch);
            // Lines arriving meanwhile make the next batch: a busy volume logs a line per call, and
            // waking for each would cost every call a thread switch. A line after a quiet spell is
            // written at once.
            std::this_thread::sleep_for(restAfterWrite);
            lock.lock();
            writing_ = false;
            if (queue_.isEmpty())
                drained_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable drained_;
    LogQueue queue_;
    bool writing_ = false;
    std::function<bool(const QByteArray&)> write_;
};

struct Destinations {
    LogWriter standardError{[](const QByteArray& text) { return writeAll(STDERR_FILENO, text); }};
    std::atomic<LogWriter*> file{nullptr};
};

Destinations& destinations() {
    static Destinations* const all = [] {
        auto* made = new Destinations;
        // Whatever was logged before a normal end (return from main, exit()) still gets written.
        std::atexit([] { flushConsoleLog(exitFlushMs); });
        return made;
    }();
    return *all;
}

QtMessageHandler qtHandler = nullptr;

void logQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtFatalMsg) {
        flushConsoleLog(exitFlushMs);
        if (qtHandler)
            qtHandler(type, context, message);
        writeAll(STDERR_FILENO, qFormatLogMessage(type, context, message).toUtf8() + '\n');
        std::abort();
    }
    logLine(qFormatLogMessage(type, context, message));
}

bool lockExclusively(int fd) {
    while (::flock(fd, LOCK_EX) != 0)
        if (errno != EINTR)
            return false;
    return true;
}

bool isFileAt(const QByteArray& path, int fd, off_t* size) {
    struct stat atPath {};
    struct stat open {};
    if (::stat(path.constData(), &atPath) != 0 || ::fstat(fd, &open) != 0)
        return false;
    *size = open.st_size;
    return atPath.st_dev == open.st_dev && atPath.st_ino == open.st_ino;
}

} // namespace

bool LogQueue::push(const QByteArray& line) {
    // Once one line is dropped every later one is too, until the writer takes the queue: the gap stays in
    // one place, right where the count is written.
    if (dropped_ > 0 || !fits(static_cast<std::size_t>(line.size()))) {
        ++dropped_;
        return false;
    }
    append(line);
    return true;
}

QByteArray LogQueue::takeAll() {
    QByteArray text;
    text.reserve(static_cast<qsizetype>(bytes_) + 64);
    for (const QByteArray& line : lines_)
        text += line;
    if (dropped_ > 0)
        text += QStringLiteral("… %1 log lines dropped\n").arg(dropped_).toUtf8();
    lines_.clear();
    bytes_ = 0;
    dropped_ = 0;
    return text;
}

void LogQueue::append(const QByteArray& line) {
    lines_.push_back(line);
    bytes_ += static_cast<std::size_t>(line.size());
}

RotatingLogFile::RotatingLogFile(QString path, off_t limitBytes)
    : path_(std::move(path)), encodedPath_(QFile::encodeName(path_)),
      encodedOlderPath_(QFile::encodeName(path_ + QStringLiteral(".1"))), limit_(limitBytes) {}

RotatingLogFile::~RotatingLogFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool RotatingLogFile::open() {
    return reopen();
}

bool RotatingLogFile::reopen() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = ::open(encodedPath_.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0)
        return false;
    ::fchmod(fd_, 0600);
    return true;
}

bool RotatingLogFile::append(const QByteArray& text) {
    // Each round that does not write follows a rotation (this process's or another's); a few suffice.
    for (int round = 0; round < 4; ++round) {
        if (fd_ < 0 && !reopen())
            return false;
        if (!lockExclusively(fd_))
            return false;
        off_t size = 0;
        if (!isFileAt(encodedPath_, fd_, &size)) {
            // Set aside (or removed) by someone else since it was opened: go on in the file at the path.
            ::flock(fd_, LOCK_UN);
            if (!reopen())
                return false;
            continue;
        }
        if (size > 0 && size + text.size() > limit_ &&
            ::rename(encodedPath_.constData(), encodedOlderPath_.constData()) == 0) {
            ::flock(fd_, LOCK_UN);
            if (!reopen())
                return false;
            continue;
        }
        const bool written = writeAll(fd_, text);
        ::flock(fd_, LOCK_UN);
        return written;
    }
    return false;
}

void logLine(const QString& line) {
    const QByteArray bytes = printableLine(line).toUtf8() + '\n';
    Destinations& all = destinations();
    all.standardError.push(bytes);
    if (LogWriter* file = all.file.load())
        file->push(bytes);
}

void echoLine(const QString& line) {
    destinations().standardError.push(printableLine(line).toUtf8() + '\n');
}

void openConsoleLogFileWhenWanted() {
    if (!build::diagnosticLog && qEnvironmentVariable("FOLVANE_CONSOLE_LOG") != QLatin1String("1"))
        return;
    Destinations& all = destinations();
    if (all.file.load())
        return;
    const QString path = paths::consoleLogFile();
    if (!paths::makePrivateFolder(QFileInfo(path).absolutePath()))
        return;
    auto file = std::make_unique<RotatingLogFile>(path, consoleLogLimitBytes);
    if (!file->open())
        return;
    all.file.store(new LogWriter([file = file.release()](const QByteArray& text) {
        // A failed write (a full disk, say) is not the end: the next one may succeed.
        file->append(text);
        return true;
    }));
    qtHandler = qInstallMessageHandler(logQtMessage);
}

bool flushConsoleLog(int timeoutMs) {
    Destinations& all = destinations();
    bool flushed = all.standardError.flush(timeoutMs);
    if (LogWriter* file = all.file.load())
        flushed = file->flush(timeoutMs) && flushed;
    return flushed;
}

} // namespace folvane
