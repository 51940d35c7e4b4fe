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
        loop.exec();
        activeLoops.pop_back();
        loop_ = nullptr;
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
