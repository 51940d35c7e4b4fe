// What each change waits for, and the paths records keep while a folder move is not yet followed.
#include "sync/ChangeOrder.h"

#include "QtPrinters.h"

#include <gtest/gtest.h>

using namespace folvane;

TEST(ChangeOrder, ATemplateRequestWaitsForEarlierGroupChangesOfItsFolderOrAbove) {
    ChangeOrder order;
    const auto rename = order.next();
    order.groupChangeQueued(rename, {"/m/news", "/m/journal"}, true);
    const auto later = order.next();
    std::vector<std::string> ran;
    EXPECT_TRUE(order.waitForGroupChanges(later, "/m/journal/sub", [&] { ran.push_back("below"); }));
    EXPECT_TRUE(order.waitForGroupChanges(later, "/m/news", [&] { ran.push_back("source"); }));
    EXPECT_FALSE(order.waitForGroupChanges(later, "/m/newsletter", [&] { ran.push_back("sibling"); }))
        << "a folder whose name only starts alike is not below";
    EXPECT_FALSE(order.waitForGroupChanges(rename, "/m/news", [] {})) << "never for changes made after it";
    EXPECT_TRUE(ran.empty());
    order.groupChangeDone(rename);
    EXPECT_EQ(ran, (std::vector<std::string>{"below", "source"}));
    order.groupChangeDone(rename);
    EXPECT_EQ(ran.size(), 2u) << "an answer that comes twice releases once";
}

TEST(ChangeOrder, AGroupChangeWaitsForEarlierTemplateRequestsBelowIt) {
    ChangeOrder order;
    const auto save = order.next();
    order.fileRequestQueued(1, save, {"/m/news/a.html"});
    const auto other = order.next();
    order.fileRequestQueued(2, other, {"/m/site/b.html", "/m/news/c.html"});
    const auto remove = order.next();
    int released = 0;
    EXPECT_TRUE(order.waitForFileRequests(remove, "/m/news", [&] { ++released; }));
    order.fileRequestDone(1);
    EXPECT_EQ(released, 0) << "a move out of the folder is still on its way";
    const auto merged = order.next();
    order.fileRequestQueued(2, merged, {"/m/news/c.html"});
    order.fileRequestWithdrawn(2);
    order.fileRequestDone(2);
    EXPECT_EQ(released, 1) << "a request merged into a waiting one is not waited for";
    EXPECT_FALSE(order.waitForFileRequests(remove, "/m/news", [] {}));
}

TEST(ChangeOrder, RecordPathsUndoTheMovesTheRecordsDoNotFollowYetNewestFirst) {
    ChangeOrder order;
    const auto first = order.next();
    order.groupChangeQueued(first, {"/m/a", "/m/b"}, true);
    const auto second = order.next();
    order.groupChangeQueued(second, {"/m/b", "/m/c"}, true);
    EXPECT_EQ(order.recordPathOf("/m/c/x.html"), "/m/a/x.html");
    EXPECT_EQ(order.recordPathOf("/m/cc/x.html"), "/m/cc/x.html");
    order.groupRecordsMoved("/m/a", "/m/b");
    EXPECT_EQ(order.recordPathOf("/m/c/x.html"), "/m/b/x.html");
    EXPECT_TRUE(order.groupChangesPending());
    order.groupChangeDone(first);
    order.groupChangeDone(second);
    EXPECT_FALSE(order.groupChangesPending());
    EXPECT_EQ(order.recordPathOf("/m/c/x.html"), "/m/c/x.html");
}
