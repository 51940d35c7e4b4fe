#pragma once

#include <QString>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>

namespace folvane {

// With caching off an open waits until the file shows the site's version. A serving thread takes a ticket
// before it reports the open and waits on it; whoever fetches the site's version takes a mark once the report
// reached it (every ticket taken so far is at or below it) and lets the file's opens up to that mark go once
// the file is current. Tickets are numbered across all files, so a late answer for one open can never let
// go a later open of the same file. Thread-safe.
class OpenGate {
public:
    std::uint64_t ticket(const QString& volumePath);
    // Returns false when `wait` passed first; the ticket is given up either way.
    bool pass(const QString& volumePath, std::uint64_t ticket, std::chrono::milliseconds wait);

    std::uint64_t mark();
    void current(const QString& volumePath, std::uint64_t mark);

private:
    struct File {
        int waiting = 0;
        std::uint64_t currentUpTo = 0;
    };
    std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t lastTicket_ = 0;
    std::map<QString, File> files_; // only files with an open waiting
};

} // namespace folvane
