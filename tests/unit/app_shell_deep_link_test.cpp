// Reading "add_site" deep links (the fields a link fills, the links that are not ours) and holding them
// until start-up has finished.
#include "shell/DeepLink.h"
#include "shell/DeepLinkQueue.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

using folvane::shell::DeepLinkRequest;
using folvane::shell::parseDeepLink;

// The fields a link fills: percent escapes decoded, "+" a blank only in the title (an address may carry a
// real one), a missing item empty.
TEST(DeepLink, FillsTitleUrlAndUserName) {
    const std::pair<const char*, DeepLinkRequest> links[] = {
        {"folvane://add_site?title=My+Site&url=https://example.com/admin.php&username=anna",
         {"My Site", "https://example.com/admin.php", "anna"}},
        {"folvane://add_site?title=Caf%C3%A9%20%2B%20Bar&url=http%3A%2F%2Flocalhost%3A8888%2F%3FD%3Dcp"
         "&username=a%2Bb%40example.com",
         {QStringLiteral("Café + Bar"), "http://localhost:8888/?D=cp", "a+b@example.com"}},
        {"folvane://add_site", {}},
    };
    for (const auto& [link, request] : links)
        EXPECT_EQ(parseDeepLink(link), std::optional(request)) << link;
}

TEST(DeepLink, RefusesOtherSchemesHostsAndBrokenInput) {
    for (const char* link :
         {"folvane://remove_site?title=A", "https://add_site?title=A", "add_site?title=A", "", "folvane://",
          "not a url at all", "folvane://add_site:notaport?title=A", "folvane://ADD_SITE.example?title=A"})
        EXPECT_FALSE(parseDeepLink(link)) << link;
}

TEST(DeepLinkQueue, KeepsLinksUntilStartUpHasFinishedThenReleasesThemInOrder) {
    folvane::shell::DeepLinkQueue queue(0);
    std::vector<DeepLinkRequest> requests;
    QObject::connect(&queue, &folvane::shell::DeepLinkQueue::addSiteRequested,
                     [&](const DeepLinkRequest& request) { requests.push_back(request); });
    queue.enqueue("folvane://add_site?title=First");
    queue.enqueue("https://example.com/not-ours?password=secret");
    queue.enqueue("folvane://add_site?title=Second");
    QCoreApplication::processEvents();
    EXPECT_TRUE(requests.empty()) << "nothing before start-up has finished";

    queue.setupFinished();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].title, "First");
    EXPECT_EQ(requests[1].title, "Second");

    queue.enqueue("folvane://add_site?title=Later");
    EXPECT_EQ(requests.size(), 2u) << "even after start-up a link waits for its delay";
    QCoreApplication::processEvents();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[2].title, "Later");
}
