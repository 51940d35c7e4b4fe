// The update feed: which release it names, whether that is newer, when the daily check is due, and what the
// updater tells the user, against a feed served on the loopback interface.
#include "RecordingShellPrompts.h"
#include "TinyWebServer.h"
#include "shell/Appcast.h"
#include "shell/Updater.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <optional>

#include "testkit/Wait.h"

using namespace folvane::shell;

namespace {

QByteArray feedWith(const QByteArray& items) {
    return R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
  <channel><title>Folvane 3</title><link>https://www.folvane.com/</link>)" +
           items + "</channel></rss>";
}

} // namespace

// Which release a feed names: the newest by version whatever the order, skipping releases without a version
// or a web address; none when the feed is not whole.
TEST(Appcast, NamesTheNewestUsableReleaseOfAWholeFeed) {
    const std::pair<QByteArray, const char*> feeds[] = {
        {feedWith(R"(
    <item><title>Version 3.9</title><link>https://example.com/3.9</link>
      <enclosure url="https://example.com/3.9.deb" sparkle:version="390" sparkle:shortVersionString="3.9"/></item>
    <item><title>Version 3.10</title><sparkle:shortVersionString>3.10</sparkle:shortVersionString>
      <sparkle:version>3100</sparkle:version>
      <enclosure url="https://example.com/folvane3_3.10_amd64.deb" length="1"/></item>
    <item><title>Version 3.2</title><link>https://example.com/3.2</link><sparkle:version>3.2</sparkle:version></item>)"),
         "3.10"},
        {feedWith(R"(
    <item><title>No version</title><link>https://example.com/x</link></item>
    <item><title>Not a web page</title><link>file:///etc/passwd</link><sparkle:version>9.0</sparkle:version></item>
    <item><title>Fine</title><link>http://example.com/3.0.1</link><sparkle:version>3.0.1</sparkle:version></item>)"),
         "3.0.1"},
        {{}, nullptr},
        {"<html><body>Not found</body></html>", nullptr},
        {feedWith("<item><sparkle:version>3.1</sparkle:version><link>https://e.com</link>").left(200),
         nullptr},
    };
    for (const auto& [feed, version] : feeds) {
        const auto release = newestRelease(feed);
        EXPECT_EQ(release ? release->version : QString(), QString(version ? version : ""))
            << feed.toStdString();
    }
    const auto release = newestRelease(feeds[0].first);
    ASSERT_TRUE(release);
    EXPECT_EQ(release->title, "Version 3.10");
    // Without a link the enclosure's address is the download page.
    EXPECT_EQ(release->downloadPage, QUrl("https://example.com/folvane3_3.10_amd64.deb"));
}

TEST(Appcast, ChecksOnceADay) {
    const QDateTime now = QDateTime::fromString("2025-03-01T12:00:00Z", Qt::ISODate);
    EXPECT_TRUE(updateCheckDue({}, now));
    EXPECT_FALSE(updateCheckDue(now.addSecs(-23 * 3600), now));
    EXPECT_TRUE(updateCheckDue(now.addDays(-1), now));
    EXPECT_TRUE(updateCheckDue(now.addDays(3), now)) << "a clock set back does not stop the checks";
}

namespace {

struct UpdaterRun {
    QTemporaryDir folder;
    QSettings defaults{folder.filePath("defaults.ini"), QSettings::IniFormat};
    folvane::testsupport::TinyWebServer feed;
    folvane::testsupport::RecordingShellPrompts prompts;
    Updater updater{prompts,
                    {QUrl(feed.base() + "/appcast.xml"), "3.0.0", &defaults, nullptr, 60 * 60 * 1000}};

    UpdaterRun() {
        feed.answers["/appcast.xml"].body =
            feedWith(R"(<item><title>Version 3.1.0</title><link>https://example.com/download</link>
            <sparkle:shortVersionString>3.1.0</sparkle:shortVersionString></item>)");
    }
    // Runs one check to its end (a user's, or one the updater starts itself).
    void check(std::optional<bool> userAsked) {
        bool finished = false;
        const auto connection = QObject::connect(&updater, &Updater::checkFinished, [&] { finished = true; });
        if (userAsked)
            updater.checkNow(*userAsked);
        else
            updater.setCheckAutomatically(true);
        EXPECT_TRUE(folvane::testkit::waitUntil([&] { return finished; }));
        QObject::disconnect(connection);
    }
};

} // namespace

// A newer release is offered at each check until the user skips it; then only a check the user asked for
// offers it again.
TEST(Updater, OffersANewerReleaseUntilItIsSkippedAndOpensItsDownloadPage) {
    UpdaterRun run;
    run.prompts.answers = {0, 1}; // "Download", then "Skip This Version"
    run.check(false);
    ASSERT_EQ(run.prompts.alerts.size(), 1u);
    EXPECT_EQ(run.prompts.alerts[0].message, "A new version of Folvane 3 is available!");
    EXPECT_EQ(run.prompts.alerts[0].informativeText,
              "Folvane 3 3.1.0 is now available—you have 3.0.0. Would you like to download it now?");
    EXPECT_EQ(run.prompts.opened, std::vector<QUrl>{QUrl("https://example.com/download")});
    run.check(false);
    run.check(false);
    EXPECT_EQ(run.prompts.alerts.size(), 2u);
    run.check(true);
    EXPECT_EQ(run.prompts.alerts.size(), 3u);
    EXPECT_EQ(run.prompts.opened.size(), 1u);
}

// An automatic check runs at once and then once a day; it tells the user nothing unless there is an update.
TEST(Updater, ChecksOnceADayAndTellsOnlyWhenAskedAboutNoUpdateOrAFailure) {
    UpdaterRun run;
    run.feed.answers["/appcast.xml"].body =
        feedWith(R"(<item><link>https://example.com/</link><sparkle:version>3.0.0</sparkle:version></item>)");
    run.check(std::nullopt); // the first automatic check runs at once
    EXPECT_TRUE(run.updater.checksAutomatically());
    EXPECT_EQ(run.feed.requested.size(), 1);
    // Switched off and on again the same day: the last check is recent, so none now.
    run.updater.setCheckAutomatically(false);
    run.updater.setCheckAutomatically(true);
    QCoreApplication::processEvents();
    EXPECT_EQ(run.feed.requested.size(), 1);

    run.check(false);
    EXPECT_TRUE(run.prompts.alerts.empty());
    run.check(true);
    ASSERT_EQ(run.prompts.alerts.size(), 1u);
    EXPECT_EQ(run.prompts.alerts[0].message, "You're up-to-date!");

    run.feed.answers["/appcast.xml"].status = 404;
    run.check(false);
    EXPECT_EQ(run.prompts.alerts.size(), 1u);
    run.check(true);
    ASSERT_EQ(run.prompts.alerts.size(), 2u);
    EXPECT_EQ(run.prompts.alerts[1].message, "Update Error!");
}
