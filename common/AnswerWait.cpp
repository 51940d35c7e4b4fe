#include "AnswerWait.h"

#include <QEventLoop>
#include <QTimer>
#include <vector>

namespace folvane {

namespace {
constexpr int sliceMs = 10000;
bool abandonedFlag = false;
std::vector<QEventLoop*> activeLoops; // main thread only
} // namespace

void AnswerWait::signal() {
    signalled_ = true;
    if (loop_)
        loop_->quit();
}

bool AnswerWait::wait(const std::function<void()>& beforeEachSlice) {
    while (!signalled_ && !abandonedFlag) {
        if (beforeEachSlice)
            beforeEachSlice();
        QEventLoop loop;
        loop_ = &loop;
        activeLoops.push_back(&loop);
        QTimer::singleShot(sliceMs, &loop, &QEventLoop::quit);
        // Once the application has been asked to quit, every new event loop returns -1 at once without
        // handling an event: the answer cannot arrive, and waiting on would keep the application from ending.
        const int result = loop.exec();
        activeLoops.pop_back();
        loop_ = nullptr;
        if (result < 0)
            break;
    }
    return signalled_;
}

void AnswerWait::abandonAll() {
    abandonedFlag = true;
    for (QEventLoop* loop : activeLoops)
        loop->quit();
}

bool AnswerWait::abandoned() {
    return abandonedFlag;
}

} // namespace folvane
