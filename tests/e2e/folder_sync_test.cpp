// Folders on the volume are template groups: made, removed, renamed and moved with real tools; and the
// full refresh that brings the volume up to date with the site.
#include "testkit/AddonSim.h"
#include "testkit/BusRecorder.h"
#include "testkit/HelperRunner.h"
#include "testkit/RandomRuns.h"
#include "testkit/SiteCompare.h"
#include "testkit/TestSession.h"
#include "testkit/Wait.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <algorithm>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <sys/mount.h>

using namespace folvane::testkit;
using nlohmann::json;

namespace {

class FolderSync : public ::testing::Test {
protected:
    void start(const char* cms, const QMap<QString, QString>& env = {}) {
        sim_ = std::make_unique<AddonSim>(AddonSim::Options{cms, {}, {}, {}});
        bus_ = std::make_unique<BusRecorder>(session_.bus());
        HelperRunner::Options options;
        options.extraEnv = env;
        options.url = sim_->baseUrl();
        options.title = QStringLiteral("Folders");
        options.cms =
            std::string(cms) == "wp" ? QStringLiteral("Wordpress") : QStringLiteral("ExpressionEngine");
        helper_ = std::make_unique<HelperRunner>(session_, options);
        ASSERT_TRUE(bus_->waitFor("finishedconnecting-Folders")) << helper_->logText().toStdString();
        ASSERT_TRUE(waitUntil([&] { return helper_->isMounted(); }));
        sim_->clearLog();
    }
    void sh(const QString& command) {
        QProcess shell;
        shell.setWorkingDirectory(helper_->mountPoint());
        shell.setProcessEnvironment(session_.environment());
        shell.start(QStringLiteral("/bin/bash"), {QStringLiteral("-c"), command});
        ASSERT_TRUE(shell.waitForFinished(60000));
        ASSERT_EQ(shell.exitCode(), 0) << command.toStdString() << "\n"
                                       << shell.readAllStandardError().toStdString();
    }
    json group(const std::string& path) const {
        const json state = sim_->state();
        for (const json& g : state["groups"])
            if (g["path"] == path)
                return g;
        return {};
    }
    bool waitForGroup(const std::string& path) {
        return waitUntil([&] { return !group(path).is_null(); });
    }
    void expectSiteMatchesVolume() {
        EXPECT_TRUE(waitUntilSiteMatchesVolume(*sim_, helper_->mountPoint()))
            << describeDifference(siteContents(*sim_), volumeContents(helper_->mountPoint()));
    }
    // The groups the site holds and the folders the volume shows (hidden ones left out), as paths.
    std::set<std::string> siteGroups() const {
        std::set<std::string> paths;
        for (const json& g : sim_->state()["groups"].get<std::vector<json>>())
            paths.insert(g["path"].get<std::string>());
        return paths;
    }
    std::set<std::string> volumeFolders() const {
        std::set<std::string> paths;
        const QString root = helper_->mountPoint();
        QDirIterator it(root, QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next().mid(root.size());
            if (!path.contains(QStringLiteral("/.")))
                paths.insert(path.toStdString());
        }
        return paths;
    }
    std::string describeGroups() const {
        std::string text;
        const std::set<std::string> site = siteGroups(), volume = volumeFolders();
        for (const std::string& path : site)
            if (!volume.count(path))
                text += " only on the site: " + path;
        for (const std::string& path : volume)
            if (!site.count(path))
                text += " only on the volume: " + path;
        return text;
    }
    // Seeded random edits of folders and files in groups the test made itself, several chained in one shell
    // command; after each run the site holds the volume's groups and templates. On ExpressionEngine groups
    // stay at the top level and are not moved, as the add-on allows.
    void randomFolderEdits(bool nesting) {
        const RandomRuns random = RandomRuns::fromEnvironment(2, 4242);
        QStringList folders, files;
        int made = 0;
        const auto under = [](const QString& path, const QString& folder) {
            return path == folder || path.startsWith(folder + u'/');
        };
        for (int run = 0; run < random.runs; ++run) {
            std::mt19937 generator(random.seed + run);
            const auto pick = [&](const QStringList& list) {
                return list.at(static_cast<int>(generator() % list.size()));
            };
            QStringList batch;
            for (int step = 0; step < 25; ++step) {
                const int choice = folders.isEmpty() ? 0 : static_cast<int>(generator() % 7);
                if (choice == 0) {
                    const QString folder =
                        (nesting && !folders.isEmpty() && generator() % 2 ? pick(folders) + u'/'
                                                                          : QString()) +
                        QStringLiteral("g%1").arg(++made);
                    batch << QStringLiteral("mkdir %1").arg(folder);
                    folders << folder;
                } else if (choice <= 2) {
                    const QString file = QStringLiteral("%1/f%2.html").arg(pick(folders)).arg(++made);
                    batch << QStringLiteral("echo 'made %1' > %2").arg(made).arg(file);
                    files << file;
                } else if (choice == 3 && !files.isEmpty()) {
                    const QString file = pick(files);
                    batch << QStringLiteral("echo 'step %1' >> %2").arg(step).arg(file);
                } else if (choice == 4) {
                    // A group's new name, or (nesting) a new place for it outside itself.
                    const QString from = pick(folders);
                    QString parent = from.contains(u'/') ? from.left(from.lastIndexOf(u'/')) : QString();
                    if (nesting && generator() % 2) {
                        const QString target = pick(folders);
                        parent = under(target, from) ? QString() : target;
                    }
                    const QString to =
                        (parent.isEmpty() ? QString() : parent + u'/') + QStringLiteral("g%1").arg(++made);
                    batch << QStringLiteral("mv %1 %2").arg(from, to);
                    for (QStringList* list : {&folders, &files})
                        for (QString& path : *list)
                            if (under(path, from))
                                path = to + path.mid(from.size());
                } else if (choice == 5 && !files.isEmpty()) {
                    const QString from = pick(files);
                    const QString to = QStringLiteral("%1/f%2.html").arg(pick(folders)).arg(++made);
                    batch << QStringLiteral("mv %1 %2").arg(from, to);
                    files.replace(files.indexOf(from), to);
                } else if (folders.size() > 2) {
                    const QString gone = pick(folders);
                    batch << QStringLiteral("rm -r %1").arg(gone);
                    folders.erase(std::remove_if(folders.begin(), folders.end(),
                                                 [&](const QString& path) { return under(path, gone); }),
                                  folders.end());
                    files.erase(std::remove_if(files.begin(), files.end(),
                                               [&](const QString& path) { return under(path, gone); }),
                                files.end());
                }
                if (generator() % 3 == 0 && !batch.isEmpty()) {
                    sh(batch.join(QStringLiteral(" && ")));
                    batch.clear();
                }
            }
            if (!batch.isEmpty())
                sh(batch.join(QStringLiteral(" && ")));
            expectSiteMatchesVolume();
            EXPECT_TRUE(waitUntil([&] { return siteGroups() == volumeFolders(); }))
                << "the site's groups differ from the volume's folders: " << describeGroups();
            if (HasFailure())
                FAIL() << "run " << run << " (seed " << random.seed + run << ")";
        }
    }
    bool refresh(int row) {
        const int before = bus_->count("refresh-done-Folders");
        bus_->post("refresh-Folders", {{"row", row}});
        return bus_->waitFor("refresh-done-Folders", defaultTimeoutMs, before + 1);
    }
    // Why the last refresh kept the volume; empty when it did not.
    QString notRefreshed() const {
        return bus_->signalsNamed("refresh-done-Folders").back().value("notRefreshed").toString();
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

    TestSession session_;
    std::unique_ptr<AddonSim> sim_;
    std::unique_ptr<BusRecorder> bus_;
    std::unique_ptr<HelperRunner> helper_;
};

} // namespace

TEST_F(FolderSync, ExpressionEngineGroupsAreMadeRenamedAndRemoved) {
    start("ee");
    sh(QStringLiteral("mkdir blog && mkdir .hidden"));
    ASSERT_TRUE(waitForGroup("/blog"));
    // Every new ExpressionEngine group gets its index template.
    ASSERT_TRUE(waitUntil([&] { return siteContents(*sim_).count("/blog/index.php") == 1; }))
        << helper_->logText().right(3000).toStdString();
    EXPECT_TRUE(QFile::exists(helper_->mountPoint() + "/blog/index.php"));
    expectSiteMatchesVolume();
    EXPECT_EQ(sim_->requestsFor("create_template_group").size(), 1u) << "a hidden folder sends nothing";

    sh(QStringLiteral("mv news journal"));
    ASSERT_TRUE(waitForGroup("/journal"));
    sh(QStringLiteral("echo 'after the rename' > journal/index.html"));
    expectSiteMatchesVolume();
    EXPECT_EQ(sim_->requestsFor("create_template").size(), 1u)
        << "the renamed group's template is the same one";

    sh(QStringLiteral("rm blog/index.php && rmdir blog"));
    ASSERT_TRUE(waitUntil([&] { return group("/blog").is_null(); }));
}

TEST_F(FolderSync, WordPressGroupsNestRenameAndMove) {
    start("wp");
    sh(QStringLiteral("mkdir -p a/b/d && mkdir c"));
    ASSERT_TRUE(waitForGroup("/a/b/d"));
    ASSERT_TRUE(waitForGroup("/c"));
    EXPECT_EQ(group("/a/b/d")["id"], "a/b/d");

    sh(QStringLiteral("echo x > a/b/t.php"));
    expectSiteMatchesVolume();
    sh(QStringLiteral("mv a/b a/c2"));
    ASSERT_TRUE(waitForGroup("/a/c2/d"));
    EXPECT_EQ(group("/a/c2")["id"], "a/c2");
    sh(QStringLiteral("echo 'saved after rename' > a/c2/t.php"));
    expectSiteMatchesVolume();

    sh(QStringLiteral("mv a/c2 c/"));
    ASSERT_TRUE(waitForGroup("/c/c2/d"));
    EXPECT_EQ(sim_->requestsFor("move_template_group").size(), 1u);
    sh(QStringLiteral("echo 'saved after move' > c/c2/t.php"));
    expectSiteMatchesVolume();
}

TEST_F(FolderSync, CopiedTreeBecomesGroupsThenTemplates) {
    start("wp");
    sh(QStringLiteral("mkdir -p /tmp/folvane-tree-$$/x/y && echo 1 > /tmp/folvane-tree-$$/x/one.php && "
                      "echo 2 > /tmp/folvane-tree-$$/x/y/two.php && cp -r /tmp/folvane-tree-$$/x theme/ && "
                      "rm -r /tmp/folvane-tree-$$"));
    ASSERT_TRUE(waitForGroup("/theme/x/y"));
    expectSiteMatchesVolume();
}

TEST_F(FolderSync, RefreshBringsTheVolumeUpToDateAndAnswersWithTheRow) {
    start("ee");
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
    EXPECT_EQ(bus_->signalsNamed("refresh-done-Folders").back(), (QVariantMap{{"row", 7}}));
    expectSiteMatchesVolume();
    EXPECT_FALSE(QDir(helper_->mountPoint() + "/news").exists())
        << "a group deleted on the site goes with its files";
    EXPECT_TRUE(QFile::exists(helper_->mountPoint() + "/top-level-notes.txt"));

    // A shell inside the volume keeps working; a list that cannot be fetched leaves the volume alone.
    sim_->fault({{"action", "list_all"}, {"kind", "non_json"}});
    ASSERT_TRUE(refresh(8));
    sh(QStringLiteral("cd fresh && cat page.html > /dev/null"));
    EXPECT_TRUE(QFile::exists(helper_->mountPoint() + "/fresh/page.html"));
    ASSERT_TRUE(refresh(9)) << "an answer even when nothing changed";
}

// The list is kept on disk, not in memory, while it is on its way, and only as long as the refresh needs it.
TEST_F(FolderSync, ARefreshHoldsTheListInAFileWithoutANameOnlyWhileItNeedsIt) {
    start("ee");
    sim_->fault({{"action", "list_all"}, {"kind", "delay"}, {"ms", 1500}, {"times", 1}});
    const QStringList cached = cacheEntries();
    bus_->post("refresh-Folders", {{"row", 1}});
    EXPECT_TRUE(waitUntil([&] { return spoolsOpen().size() == 1; })) << "the list's file, while it comes";
    ASSERT_TRUE(bus_->waitFor("refresh-done-Folders"));
    EXPECT_EQ(notRefreshed(), "");
    EXPECT_TRUE(waitUntil([&] { return spoolsOpen().isEmpty(); })) << spoolsOpen().join(' ').toStdString();
    EXPECT_EQ(cacheEntries(), cached);
    expectSiteMatchesVolume();

    // A site without a default group is told about after a refresh too.
    const int before = warnings();
    sim_->seed(oneTemplateSite("a.html", "a", false));
    ASSERT_TRUE(refresh(2));
    EXPECT_TRUE(waitUntil([&] { return warnings() == before + 1; }));
    expectSiteMatchesVolume();
}

TEST_F(FolderSync, ARefreshFromAListCutShortOrNotJsonKeepsTheVolumeAndNothingOfTheList) {
    start("ee", {{"FOLVANE_ANSWER_DEADLINE_MS", "4000"}});
    const Contents before = volumeContents(helper_->mountPoint());
    const QStringList cached = cacheEntries();
    // Changed on the site: a rebuild would show it.
    sim_->seed(oneTemplateSite("index.html", "new home"));
    const int warned = warnings();
    const std::vector<json> faults{
        // The transfer breaks off after a few bytes.
        {{"action", "list_all"}, {"kind", "drip"}, {"ms", 200}, {"times", 1}},
        {{"action", "list_all"}, {"kind", "non_json"}, {"times", 1}},
        {{"action", "list_all"},
         {"kind", "raw"},
         {"body", R"({"folders":[{"id":1,"name":"site","is_special":true,"files":[{"id":1,"name":"x")"},
         {"times", 1}},
    };
    int row = 0;
    for (const json& fault : faults) {
        sim_->fault(fault);
        ASSERT_TRUE(refresh(++row)) << fault.dump();
        EXPECT_EQ(notRefreshed(), "the template list could not be fetched") << fault.dump();
        EXPECT_EQ(volumeContents(helper_->mountPoint()), before) << fault.dump();
        EXPECT_TRUE(waitUntil([&] { return spoolsOpen().isEmpty(); })) << fault.dump();
        EXPECT_EQ(cacheEntries(), cached);
    }
    // A list that arrived but holds no groups has no default group either; one that broke off says nothing.
    EXPECT_TRUE(waitUntil([&] { return warnings() >= warned + 2; }));
    EXPECT_EQ(warnings(), warned + 2);
    ASSERT_TRUE(refresh(++row));
    EXPECT_EQ(notRefreshed(), "");
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

TEST_F(FolderSync, ARefreshWhoseListDoesNotFitOnTheDiskKeepsTheVolumeAndSaysWhy) {
    SmallFilesystem small(session_.baseFolder(), "size=1m,mode=0700");
    if (!small.mounted)
        GTEST_SKIP() << "mounting a tmpfs needs root";
    start("ee");
    const Contents before = volumeContents(helper_->mountPoint());
    const QStringList cached = cacheEntries();
    sim_->seed(oneTemplateSite("big.html", std::string(1 << 20, 'x')));
    ASSERT_TRUE(refresh(1));
    EXPECT_TRUE(notRefreshed().startsWith("the template list could not be kept on disk (writing into " +
                                          cacheFolder() + " failed: No space left on device"))
        << notRefreshed().toStdString();
    EXPECT_EQ(volumeContents(helper_->mountPoint()), before);
    EXPECT_TRUE(waitUntil([&] { return spoolsOpen().isEmpty(); }));
    EXPECT_EQ(cacheEntries(), cached);
    // The room it took is free again: a list that fits is kept and built.
    sim_->seed(oneTemplateSite("big.html", std::string(200'000, 'y')));
    ASSERT_TRUE(refresh(2));
    EXPECT_EQ(notRefreshed(), "");
    expectSiteMatchesVolume();
    helper_.reset();
}

TEST_F(FolderSync, FilesNeverSentStayQuietlyAcrossARefresh) {
    start("ee");
    // A backup name is a template like any other; hidden names and the top level never reach the site.
    sh(QStringLiteral("echo notes > news/.x && echo backup > 'news/x~' && echo more > site/.notes && "
                      "echo top > top.txt"));
    expectSiteMatchesVolume();
    ASSERT_EQ(siteContents(*sim_).count("/news/x~"), 1u);

    // The group holding a hidden file is deleted on the site.
    json seed = {{"cms", "ee"},
                 {"groups",
                  {{{"name", "site"},
                    {"is_special", true},
                    {"templates", {{{"name", "index.html"}, {"content", "home"}}}}}}}};
    sim_->seed(seed);
    ASSERT_TRUE(refresh(1));
    EXPECT_FALSE(bus_->signalsNamed("refresh-done-Folders").back().contains("notRefreshed"));
    const QString volume = helper_->mountPoint();
    EXPECT_EQ(QDir(volume + "/news").entryList(QDir::Files | QDir::Hidden), QStringList{".x"})
        << "the deleted group's templates go, its hidden file stays";
    for (const auto& [file, content] :
         {std::pair{"/news/.x", "notes\n"}, {"/site/.notes", "more\n"}, {"/top.txt", "top\n"}}) {
        QFile kept(volume + file);
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly)) << file;
        EXPECT_EQ(kept.readAll(), content);
    }
    ASSERT_TRUE(refresh(2));
    EXPECT_FALSE(session_.waitForNotification("Unsaved changes kept", 500));
    EXPECT_FALSE(QDir(session_.baseFolder() + "/Recovered").exists());
}

TEST_F(FolderSync, RefreshRequestsThatWaitAreAnsweredInOrderByOneRefresh) {
    start("ee");
    sim_->clearLog();
    for (int row = 1; row <= 30; ++row)
        bus_->post("refresh-Folders", {{"row", row}});
    ASSERT_TRUE(bus_->waitFor("refresh-done-Folders", defaultTimeoutMs, 30));
    const auto answers = bus_->signalsNamed("refresh-done-Folders");
    for (int row = 1; row <= 30; ++row)
        EXPECT_EQ(answers.at(row - 1).value("row").toInt(), row);
    EXPECT_LE(sim_->requestsFor("list_all").size(), 3u) << "waiting requests share one refresh";
}

TEST_F(FolderSync, ALocallyCreatedTemplateSurvivesAndTwoRequestsGetTwoAnswers) {
    start("wp");
    sh(QStringLiteral("echo 'made here' > theme/local.php"));
    expectSiteMatchesVolume();

    // Two requests before the first answer: each gets its own answer with its own row.
    const int before = bus_->count("refresh-done-Folders");
    bus_->post("refresh-Folders", {{"row", 3}});
    bus_->post("refresh-Folders", {{"row", 4}});
    ASSERT_TRUE(bus_->waitFor("refresh-done-Folders", defaultTimeoutMs, before + 2));
    const auto answers = bus_->signalsNamed("refresh-done-Folders");
    ASSERT_EQ(answers.size(), static_cast<size_t>(before + 2));
    EXPECT_EQ(answers[before], (QVariantMap{{"row", 3}}));
    EXPECT_EQ(answers[before + 1], (QVariantMap{{"row", 4}}));

    QFile local(helper_->mountPoint() + "/theme/local.php");
    ASSERT_TRUE(local.open(QIODevice::ReadOnly));
    EXPECT_EQ(local.readAll(), "made here\n");
    expectSiteMatchesVolume();
}

// No folder lists the top-level groups, yet moving one must take its records along.
TEST_F(FolderSync, AFolderMovedInAndOutOfTheTopLevelKeepsItsTemplatesAndAnUnknownOneSendsNothing) {
    start("wp");
    sh(QStringLiteral("mkdir a c && echo one > a/t.php"));
    expectSiteMatchesVolume();
    sh(QStringLiteral("mv a c/"));
    ASSERT_TRUE(waitForGroup("/c/a"));
    sh(QStringLiteral("echo 'saved after the move' > c/a/t.php"));
    expectSiteMatchesVolume();

    // And out again to the top level.
    sh(QStringLiteral("mv c/a . && echo 'saved at the top' > a/t.php"));
    ASSERT_TRUE(waitForGroup("/a"));
    expectSiteMatchesVolume();

    sim_->clearLog();
    sh(QStringLiteral("mkdir .drafts && mv .drafts c/"));
    sh(QStringLiteral("echo 'one more save' > a/t.php"));
    expectSiteMatchesVolume();
    EXPECT_EQ(sim_->requestsFor("move_template_group").size(), 0u)
        << "a folder that is no group moves locally";
}

TEST_F(FolderSync, RandomFolderAndFileEditsConvergeOnWordPress) {
    start("wp");
    randomFolderEdits(true);
}

TEST_F(FolderSync, RandomFolderAndFileEditsConvergeOnExpressionEngine) {
    start("ee");
    randomFolderEdits(false);
}

// A template nobody touched yet, in a folder whose new name waits behind another folder change: it is
// still that template, not a new file.
TEST_F(FolderSync, ATemplateMovedInAFolderJustRenamedStaysTheSameTemplate) {
    start("wp");
    sh(QStringLiteral("mkdir first && mv theme look && mv look/index.php look/home.php && "
                      "echo 'saved' >> look/home.php"));
    expectSiteMatchesVolume();
    EXPECT_EQ(sim_->requestsFor("create_template").size(), 0u);
}
