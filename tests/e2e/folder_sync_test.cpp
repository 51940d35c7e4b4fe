// Folders on the volume are template groups: made, removed, renamed and moved with real tools; and the
// full refresh that brings the volume up to date with the site.
#include "testkit/ConnectedSite.h"
#include "testkit/Wait.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <gtest/gtest.h>
#include <sys/mount.h>

using namespace folvane::testkit;
using nlohmann::json;

namespace {

class FolderSync : public ConnectedSite {
protected:
    bool waitForGroup(const std::string& path) {
        return waitUntil([&] { return !siteGroup(path).is_null(); });
    }
    bool refresh(int row) {
        const int before = bus_->count(signal("refresh-done"));
        bus_->post(signal("refresh"), {{"row", row}});
        return bus_->waitFor(signal("refresh-done"), defaultTimeoutMs, before + 1);
    }
    // Why the last refresh kept the volume; empty when it did not.
    QString notRefreshed() const {
        return bus_->signalsNamed(signal("refresh-done")).back().value("notRefreshed").toString();
    }
    QString cacheFolder() const { return session_.baseFolder() + "/.cache"; }
    QStringList cacheEntries() const {
        return QDir(cacheFolder())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }
    // The files without a name the helper holds open in the cache folder: a template list on its way.
    QStringList spoolsOpen() const {
        QStringList spools;
        const QString fds = QStringLiteral("/proc/%1/fd").arg(helper_->pid());
        for (const QString& fd : QDir(fds).entryList(QDir::Files | QDir::System)) {
            const QString target = QFileInfo(fds + u'/' + fd).symLinkTarget();
            if (target.startsWith(cacheFolder() + u'/') && target.endsWith(QStringLiteral(" (deleted)")))
                spools << target;
        }
        return spools;
    }
    // A site of one group holding one template; the group is the site's default group unless told.
    static json oneTemplateSite(const std::string& name, const std::string& content,
                                bool defaultGroup = true) {
        return {{"cms", "ee"},
                {"groups",
                 {{{"name", "site"},
                   {"is_special", defaultGroup},
                   {"templates", {{{"name", name}, {"content", content}}}}}}}};
    }
    int warnings() const {
        const auto shown = session_.notifications();
        return static_cast<int>(
            std::count_if(shown.begin(), shown.end(), [](const auto& n) { return n.summary == "Warning"; }));
    }
};

} // namespace

TEST_F(FolderSync, ExpressionEngineGroupsAreMadeRenamedAndRemoved) {
    connect("ee");
    sh(QStringLiteral("mkdir blog && mkdir .hidden"));
    ASSERT_TRUE(waitForGroup("/blog"));
    // Every new ExpressionEngine group gets its index template.
    ASSERT_TRUE(waitUntil([&] { return siteContents(*sim_).count("/blog/index.php") == 1; }))
        << helper_->logText().right(3000).toStdString();
    EXPECT_TRUE(QFile::exists(volume() + "/blog/index.php"));
    expectSiteMatchesVolume();
    EXPECT_EQ(requests("create_template_group"), 1) << "a hidden folder sends nothing";

    sh(QStringLiteral("mv news journal"));
    ASSERT_TRUE(waitForGroup("/journal"));
    sh(QStringLiteral("echo 'after the rename' > journal/index.html"));
    expectSiteMatchesVolume();
    EXPECT_EQ(requests("create_template"), 1) << "the renamed group's template is the same one";

    sh(QStringLiteral("rm blog/index.php && rmdir blog"));
    ASSERT_TRUE(waitUntil([&] { return siteGroup("/blog").is_null(); }));
}

TEST_F(FolderSync, WordPressGroupsNestRenameAndMove) {
    connect("wp");
    // A template nobody touched yet, in a folder whose new name waits behind another folder change: it is
    // still that template, not a new file. A copied tree becomes groups, then templates.
    sh(QStringLiteral("mkdir first && mv theme look && mv look/index.php look/home.php && "
                      "echo 'saved' >> look/home.php"));
    expectSiteMatchesVolume();
    EXPECT_EQ(requests("create_template"), 0);
    sh(QStringLiteral("mkdir -p /tmp/folvane-tree-$$/x/y && echo 1 > /tmp/folvane-tree-$$/x/one.php && "
                      "echo 2 > /tmp/folvane-tree-$$/x/y/two.php && cp -r /tmp/folvane-tree-$$/x look/ && "
                      "rm -r /tmp/folvane-tree-$$"));
    expectSiteMatchesVolume();

    sh(QStringLiteral("mkdir -p a/b/d && mkdir c"));
    ASSERT_TRUE(waitForGroup("/a/b/d"));
    ASSERT_TRUE(waitForGroup("/c"));
    EXPECT_EQ(siteGroup("/a/b/d")["id"], "a/b/d");

    sh(QStringLiteral("echo x > a/b/t.php"));
    expectSiteMatchesVolume();
    sh(QStringLiteral("mv a/b a/c2"));
    ASSERT_TRUE(waitForGroup("/a/c2/d"));
    EXPECT_EQ(siteGroup("/a/c2")["id"], "a/c2");
    sh(QStringLiteral("echo 'saved after rename' > a/c2/t.php"));
    expectSiteMatchesVolume();

    sh(QStringLiteral("mv a/c2 c/"));
    ASSERT_TRUE(waitForGroup("/c/c2/d"));
    EXPECT_EQ(requests("move_template_group"), 1);
    sh(QStringLiteral("echo 'saved after move' > c/c2/t.php"));
    expectSiteMatchesVolume();

    // No folder lists the top-level groups, yet moving one in and out must take its records along.
    sh(QStringLiteral("mkdir e f && echo one > e/t.php"));
    expectSiteMatchesVolume();
    sh(QStringLiteral("mv e f/"));
    ASSERT_TRUE(waitForGroup("/f/e"));
    sh(QStringLiteral("echo 'saved after the move' > f/e/t.php"));
    expectSiteMatchesVolume();
    sh(QStringLiteral("mv f/e . && echo 'saved at the top' > e/t.php"));
    ASSERT_TRUE(waitForGroup("/e"));
    expectSiteMatchesVolume();

    // A folder that is no group moves locally.
    sim_->clearLog();
    sh(QStringLiteral("mkdir .drafts && mv .drafts f/"));
    sh(QStringLiteral("echo 'one more save' > e/t.php"));
    expectSiteMatchesVolume();
    EXPECT_EQ(requests("move_template_group"), 0);
    sh(QStringLiteral("rm -r e"));
    expectSiteMatchesVolume();
}

TEST_F(FolderSync, RefreshBringsTheVolumeUpToDateAndAnswersEachRequestInOrder) {
    connect("ee");
    sh(QStringLiteral("echo 'local only' > top-level-notes.txt && echo 'mine' > news/mine.html"));
    expectSiteMatchesVolume();

    // Changes made on the site by someone else.
    json seed = {
        {"cms", "ee"},
        {"groups",
         {{{"name", "site"},
           {"is_special", true},
           {"templates", {{{"name", "index.html"}, {"content", "new home"}}}}},
          {{"name", "fresh"}, {"templates", {{{"name", "page.html"}, {"content", "fresh page"}}}}}}}};
    sim_->seed(seed);
    ASSERT_TRUE(refresh(7));
    EXPECT_EQ(bus_->signalsNamed(signal("refresh-done")).back(), (QVariantMap{{"row", 7}}));
    expectSiteMatchesVolume();
    EXPECT_FALSE(QDir(volume() + "/news").exists()) << "a group deleted on the site goes with its files";
    EXPECT_TRUE(QFile::exists(volume() + "/top-level-notes.txt"));

    // A shell inside the volume keeps working; a list that cannot be fetched leaves the volume alone.
    sim_->fault({{"action", "list_all"}, {"kind", "non_json"}});
    ASSERT_TRUE(refresh(8));
    sh(QStringLiteral("cd fresh && cat page.html > /dev/null"));
    EXPECT_TRUE(QFile::exists(volume() + "/fresh/page.html"));
    ASSERT_TRUE(refresh(9)) << "an answer even when nothing changed";

    // Requests that come while a refresh runs are answered in order, each with its row, and share one
    // refresh; a template made here survives them.
    sim_->clearFaults();
    sh(QStringLiteral("echo 'made here' > fresh/local.html"));
    expectSiteMatchesVolume();
    sim_->clearLog();
    const int before = bus_->count(signal("refresh-done"));
    for (int row = 10; row < 40; ++row)
        bus_->post(signal("refresh"), {{"row", row}});
    ASSERT_TRUE(bus_->waitFor(signal("refresh-done"), defaultTimeoutMs, before + 30));
    const auto answers = bus_->signalsNamed(signal("refresh-done"));
    for (int row = 10; row < 40; ++row)
        EXPECT_EQ(answers.at(before + row - 10), (QVariantMap{{"row", row}}));
    EXPECT_LE(requests("list_all"), 3) << "waiting requests share one refresh";
    EXPECT_EQ(readFile(volume("/fresh/local.html")), "made here\n");
    expectSiteMatchesVolume();
}

// The helper's own small filesystem for its base folder, gone with the test.
struct SmallFilesystem {
    SmallFilesystem(const QString& at, const char* size) : path(QFile::encodeName(at)) {
        QDir().mkpath(at);
        mounted = ::mount("tmpfs", path.constData(), "tmpfs", 0, size) == 0;
    }
    ~SmallFilesystem() {
        if (mounted)
            ::umount2(path.constData(), MNT_DETACH);
    }
    QByteArray path;
    bool mounted = false;
};

// The list is kept on disk, not in memory, while it is on its way, and only as long as the refresh needs it;
// when it does not fit, the volume is kept and the refresh says why.
TEST_F(FolderSync, ARefreshHoldsTheListInAFileWithoutANameAndKeepsTheVolumeWhenTheDiskIsFull) {
    SmallFilesystem small(session_.baseFolder(), "size=1m,mode=0700");
    if (!small.mounted)
        GTEST_SKIP() << "mounting a tmpfs needs root";
    connect("ee");
    const Contents before = volumeContents(volume());
    const QStringList cached = cacheEntries();
    sim_->fault({{"action", "list_all"}, {"kind", "delay"}, {"ms", 1500}, {"times", 1}});
    bus_->post(signal("refresh"), {{"row", 1}});
    EXPECT_TRUE(waitUntil([&] { return spoolsOpen().size() == 1; })) << "the list's file, while it comes";
    ASSERT_TRUE(bus_->waitFor(signal("refresh-done")));
    EXPECT_EQ(notRefreshed(), "");

    sim_->seed(oneTemplateSite("big.html", std::string(1 << 20, 'x')));
    ASSERT_TRUE(refresh(2));
    EXPECT_TRUE(notRefreshed().startsWith("the template list could not be kept on disk (writing into " +
                                          cacheFolder() + " failed: No space left on device"))
        << notRefreshed().toStdString();
    EXPECT_EQ(volumeContents(volume()), before);
    EXPECT_TRUE(waitUntil([&] { return spoolsOpen().isEmpty(); })) << spoolsOpen().join(' ').toStdString();
    EXPECT_EQ(cacheEntries(), cached);
    // The room it took is free again: a list that fits is kept and built, and a site without a default group
    // is told about after a refresh too.
    const int warned = warnings();
    sim_->seed(oneTemplateSite("big.html", std::string(200'000, 'y'), false));
    ASSERT_TRUE(refresh(3));
    EXPECT_EQ(notRefreshed(), "");
    EXPECT_TRUE(waitUntil([&] { return warnings() == warned + 1; }));
    expectSiteMatchesVolume();
    helper_.reset();
}
