#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace folvane::sim {

// Lets request threads wait out injected delays while shutdown can still wake them at once.
class InterruptibleSleep {
public:
    void sleepFor(std::chrono::milliseconds duration) {
        std::unique_lock lock(mutex_);
        woken_.wait_for(lock, duration, [this] { return stopping_; });
    }

    void wakeAll() {
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        woken_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable woken_;
    bool stopping_ = false;
};

} // namespace folvane::sim
