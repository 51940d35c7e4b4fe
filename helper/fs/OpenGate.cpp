#include "OpenGate.h"

namespace folvane {

std::uint64_t OpenGate::ticket(const QString& volumePath) {
    std::lock_guard lock(mutex_);
    ++files_[volumePath].waiting;
    return ++lastTicket_;
}

bool OpenGate::pass(const QString& volumePath, std::uint64_t ticket, std::chrono::milliseconds wait) {
    std::unique_lock lock(mutex_);
    const bool passed =
        changed_.wait_for(lock, wait, [&] { return files_[volumePath].currentUpTo >= ticket; });
    if (--files_[volumePath].waiting == 0)
        files_.erase(volumePath);
    return passed;
}

std::uint64_t OpenGate::mark() {
    std::lock_guard lock(mutex_);
    return lastTicket_;
}

void OpenGate::current(const QString& volumePath, std::uint64_t mark) {
    {
        std::lock_guard lock(mutex_);
        const auto file = files_.find(volumePath);
        if (file == files_.end() || file->second.currentUpTo >= mark)
            return;
        file->second.currentUpTo = mark;
    }
    changed_.notify_all();
}

} // namespace folvane
