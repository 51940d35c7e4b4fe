#pragma once

#include <functional>

class QEventLoop;

namespace folvane {

// Waiting for an answer without blocking the main thread: the event loop keeps turning in slices of
// at most 10 s until the answer's handler calls `signal()`. Waits may nest. Once the helper starts to
// shut down, or the application has been asked to quit, every wait gives up, so shutdown is never held by
// an outstanding request.
class AnswerWait {
public:
    void signal();
    bool isSignalled() const { return signalled_; }
    // Returns true when signalled, false when the wait was abandoned or the application is quitting.
    bool wait(const std::function<void()>& beforeEachSlice = {});

    static void abandonAll();
    static bool abandoned();

private:
    bool signalled_ = false;
    QEventLoop* loop_ = nullptr;
};

} // namespace folvane
