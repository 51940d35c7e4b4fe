#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <deque>
#include <sys/types.h>

namespace folvane {

// Plain log lines without level or prefix, each one line (see printableLine). The caller never waits for a
// write: the line joins a bounded queue per destination (standard error, and the console log file when that
// is on), each emptied by a writer thread of its own, so a stalled reader of standard error or a slow disk
// cannot hold up a file system call, nor one destination the other.
void logLine(const QString& line);

// A line of another program's log (a helper's, which writes the console log file itself): to standard
// error only, without waiting, in order with this program's own lines.
void echoLine(const QString& line);

// From now on log lines also go to the console log file, rotated as it grows (diagnostic builds, or when
// FOLVANE_CONSOLE_LOG=1); Qt's own messages go with them. When the file cannot be opened nothing changes.
void openConsoleLogFileWhenWanted();

// Waits until the lines logged so far are written, at most `timeoutMs` per destination; returns whether all
// were. Runs by itself when the program ends.
bool flushConsoleLog(int timeoutMs);

// The lines waiting for the writer, at most `capacityBytes` of them. A line that finds the queue full is
// dropped and counted; the next line that finds room again is preceded by "… N log lines dropped", so a
// reader sees where the gap is. Lines stay whole and in their order.
class LogQueue {
public:
    explicit LogQueue(std::size_t capacityBytes) : capacity_(capacityBytes) {}

    // `line` ends with its newline. Returns whether it was kept.
    bool push(const QByteArray& line);
    // Every line queued so far, in order, as one text.
    QByteArray takeAll();
    bool isEmpty() const { return lines_.empty(); }
    std::size_t dropped() const { return dropped_; }

private:
    bool fits(std::size_t size) const { return bytes_ + size <= capacity_; }
    void append(const QByteArray& line);

    std::size_t capacity_;
    std::size_t bytes_ = 0;
    std::size_t dropped_ = 0;
    std::deque<QByteArray> lines_;
};

// A log file that several processes append to. Past `limitBytes` it is renamed to "<path>.1" (one older
// generation is kept) and a new one begins. Each append holds an exclusive lock on the file that is at
// `path` at that moment, so two processes never rotate twice over nor write into a file another has just
// set aside.
class RotatingLogFile {
public:
    RotatingLogFile(QString path, off_t limitBytes);
    ~RotatingLogFile();
    RotatingLogFile(const RotatingLogFile&) = delete;
    RotatingLogFile& operator=(const RotatingLogFile&) = delete;

    // Opens (or creates, 0600) the file; returns whether it could.
    bool open();
    // Writes `text` (whole lines) at the end of the current file; returns whether it was written.
    bool append(const QByteArray& text);

private:
    bool reopen();

    QString path_;
    QByteArray encodedPath_;
    QByteArray encodedOlderPath_;
    off_t limit_;
    int fd_ = -1;
};

// How big the console log file grows before it is set aside.
inline constexpr off_t consoleLogLimitBytes = 4 * 1024 * 1024;

} // namespace folvane
