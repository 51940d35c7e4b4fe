#include "sync/RequestScheduler.h"

#include "QtPrinters.h"
#include "testkit/Wait.h"

#include <gtest/gtest.h>

using namespace folvane;
using Result = RequestScheduler::Result;
using Kind = RequestScheduler::Kind;

namespace {

// Requests that answer only when the test says so, recording the order they went out in.
struct FakeSite {
    std::vector<std::string> sent;
    std::vector<RequestScheduler::Done> open;
    RequestScheduler::Send request(std::string name, std::function<std::string()> content = {}) {
        return [this, name, content](RequestScheduler::Done done) {
            sent.push_back(content ? name + ":" + content() : name);
            open.push_back(std::move(done));
        };
    }
    void answer(size_t index, Result result) { open.at(index)(result); }
};

// A site whose list is never needed by these requests.
const RequestScheduler::Listing noList = [](const std::function<void(const SiteIndex*)>& read) {
    read(nullptr);
};
ChangeOrder changes; // no group changes: nothing waits for one

} // namespace

TEST(RequestScheduler, OneRequestPerTemplateInFlightInTheOrderMade) {
    RequestScheduler queue(changes, noList);
    FakeSite site;
    queue.enqueue(1, Kind::create, site.request("create"));
    queue.enqueue(1, Kind::move, site.request("move"));
    queue.enqueue(2, Kind::update, site.request("other"));
    queue.enqueue(1, Kind::remove, site.request("delete"));
    EXPECT_EQ(site.sent, (std::vector<std::string>{"create", "other"}));
    EXPECT_EQ(queue.pendingCount(), 4);
    site.answer(0, Result::confirmed);
    EXPECT_EQ(site.sent.back(), "move");
    site.answer(2, Result::refused); // a refusal is final: the next request of that template goes
    EXPECT_EQ(site.sent.back(), "delete");
    site.answer(3, Result::confirmed);
    site.answer(1, Result::confirmed);
    EXPECT_TRUE(queue.isIdle());
}

TEST(RequestScheduler, WaitingUpdatesCollapseIntoOneWithTheLatestContent) {
    RequestScheduler queue(changes, noList);
    FakeSite site;
    std::string content = "v1";
    const auto current = [&] { return content; };
    queue.enqueue(1, Kind::update, site.request("update", current));
    for (const char* version : {"v2", "v3", "v4"}) {
        content = version;
        queue.enqueue(1, Kind::update, site.request("update", current));
    }
    EXPECT_EQ(queue.pendingCount(), 2) << "one out, one follow-up";
    site.answer(0, Result::confirmed);
    site.answer(1, Result::confirmed);
    EXPECT_EQ(site.sent, (std::vector<std::string>{"update:v1", "update:v4"}));

    // An update behind a move is not merged with one before it: the order of kinds is kept.
    queue.enqueue(1, Kind::update, site.request("update", current));
    queue.enqueue(1, Kind::move, site.request("move"));
    queue.enqueue(1, Kind::update, site.request("update", current));
    EXPECT_EQ(queue.pendingCount(), 3);
}

TEST(RequestScheduler, TransportFailuresAreRetriedUntilAnsweredWithACappedPause) {
    RequestScheduler queue(changes, noList);
    queue.initialRetryMs = 1;
    queue.maxRetryMs = 4;
    int attempts = 0;
    queue.enqueue(7, Kind::update, [&](RequestScheduler::Done done) {
        ++attempts;
        done(attempts < 12 ? Result::transportFailed : Result::refused);
    });
    ASSERT_TRUE(testkit::waitUntil([&] { return queue.isIdle(); }));
    EXPECT_EQ(attempts, 12) << "sent again as long as no answer came, then the refusal is final";

    attempts = 0;
    queue.enqueue(7, Kind::update, [&](RequestScheduler::Done done) {
        ++attempts;
        done(attempts < 2 ? Result::transportFailed : Result::confirmed);
    });
    FakeSite site;
    queue.enqueue(7, Kind::remove, site.request("delete"));
    ASSERT_TRUE(testkit::waitUntil([&] { return !site.sent.empty(); }));
    EXPECT_EQ(attempts, 2);
    EXPECT_EQ(site.sent, std::vector<std::string>{"delete"}) << "the delete waited for the retried update";
}

TEST(RequestScheduler, AnswersReportedTwiceCountOnce) {
    RequestScheduler queue(changes, noList);
    RequestScheduler::Done kept;
    queue.enqueue(1, Kind::update, [&](RequestScheduler::Done done) { kept = done; });
    FakeSite site;
    queue.enqueue(1, Kind::remove, site.request("delete"));
    kept(Result::confirmed);
    kept(Result::confirmed);
    EXPECT_EQ(site.sent.size(), 1u);
    EXPECT_EQ(queue.pendingCount(), 1);
}

TEST(RequestScheduler, EachTemplateSaysWhereItsRequestsStand) {
    RequestScheduler queue(changes, noList);
    queue.initialRetryMs = 10;
    FakeSite site;
    int changes = 0;
    QObject::connect(&queue, &RequestScheduler::changed, [&] { ++changes; });
    EXPECT_EQ(queue.laneState(1), RequestScheduler::LaneState::idle);
    queue.enqueue(1, Kind::update, site.request("update"));
    EXPECT_EQ(queue.laneState(1), RequestScheduler::LaneState::sending);
    EXPECT_GT(changes, 0);
    site.answer(0, Result::transportFailed);
    EXPECT_EQ(queue.laneState(1), RequestScheduler::LaneState::retrying);
    const int beforeRetry = changes;
    ASSERT_TRUE(testkit::waitUntil([&] { return site.sent.size() == 2; }));
    EXPECT_EQ(queue.laneState(1), RequestScheduler::LaneState::sending);
    EXPECT_GT(changes, beforeRetry) << "sending again is a change too";
    queue.enqueue(1, Kind::move, site.request("move"));
    site.answer(1, Result::confirmed);
    EXPECT_EQ(queue.laneState(1), RequestScheduler::LaneState::sending) << "the move went out";
    site.answer(2, Result::refused);
    EXPECT_EQ(queue.laneState(1), RequestScheduler::LaneState::idle);
}
