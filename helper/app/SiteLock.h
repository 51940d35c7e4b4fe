#pragma once

#include <QString>

namespace folvane {

// One helper per site title per user: a lock file in a folder only this user can write, held for the
// helper's whole life. A second helper for the same title must not touch the first one's mirror or volume;
// the lock goes with the process however it ends, so a crashed helper never blocks the next one.
class SiteLock {
public:
    // The lock of `title` in `folder` (made when missing).
    SiteLock(const QString& title, const QString& folder);
    ~SiteLock();
    SiteLock(const SiteLock&) = delete;
    SiteLock& operator=(const SiteLock&) = delete;

    enum class Outcome { acquired, heldByAnother, unavailable };
    // Takes the lock, giving a helper that is ending up to `waitMs` to let go of it. `unavailable` (with the
    // reason in `error`) when no lock file could be made or locked here, or when the folder is not this
    // user's alone (another user could remove the lock there).
    Outcome acquire(int waitMs, QString* error);

private:
    QString path_;
    int fd_ = -1;
};

} // namespace folvane
