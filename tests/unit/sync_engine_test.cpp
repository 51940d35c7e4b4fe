// The synchronisation engine in-process: scripted and random sequences of volume reports against a fake
// add-on whose answers are delayed, reordered, refused or dropped. The mirror folder is real; the harness
// changes it the way the volume would and reports each change as the volume does. Every run ends with the
// fake site compared to the mirror.
#include "DesktopNotifier.h"
#include "QtPrinters.h"
#include "RecordsText.h"
#include "fakeaddon/FakeAddon.h"
#include "fs/VolumeControl.h"
#include "sync/MirrorRefresh.h"
#include "sync/Recovery.h"
#include "sync/SiteCheck.h"
#include "sync/SyncEngine.h"
#include "testkit/SiteCompare.h"
#include "testkit/Wait.h"
#include "tree/MirrorBuilder.h"
#include "tree/WebsiteInUse.h"

#include "SiteJson.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <sys/stat.h>

using namespace folvane;
using namespace folvane::testkit;

namespace {

struct NoCache : VolumeControl {
    void holdChanges() override {
        if (onHold)
            onHold();
    }
    void resumeChanges() override {
        ++resumes;
        if (onResume)
            onResume();
    }
    std::function<void()> onHold, onResume;
    int resumes = 0;
    void invalidateChangedSince(std::chrono::system_clock::time_point) override {}
    void invalidate(const QString&) override {}
    // Each open report is one open here: the mark counts them.
    std::uint64_t openMark() override { return marks; }
    void fileCurrent(const QString& volumePath, std::uint64_t mark) override { current[volumePath] = mark; }
    std::uint64_t marks = 0;
    std::map<QString, std::uint64_t> current; // the highest mark each file was let go at
};

// Two groups of templates, the same on both CMSs.
sim::SiteModel smallSite(sim::Cms cms) {
    sim::SiteModel model(cms);
    const std::vector<std::pair<std::string, std::vector<std::string>>> groups{
        {"news", {"index.html", "article.html"}}, {"site", {"index.html", "about.html", "contact.html"}}};
    for (const auto& [group, names] : groups) {
        const sim::Outcome made = model.insertGroup("", group, false, sim::Special::None);
        for (const std::string& name : names)
            model.insertTemplate(made.id, name, group + " " + name + "\n");
    }
    return model;
}

// One site: a fake add-on seeded with a small site, its mirror built as at connection, and the engine.
class Harness {
public:
    Harness(sim::Cms cms, unsigned seed, FakeAddon::Faults faults, bool fetchOnOpen = false)
        : addon_(smallSite(cms), seed, faults) {
        site_.cleanName = QStringLiteral("Engine");
        site_.cms = cms == sim::Cms::ExpressionEngine ? CMS::expressionEngine : CMS::wordPress;
        site_.cachedFolderName = QStringLiteral("mirror");
        builder_ = std::make_unique<MirrorBuilder>(tmp_.path(), site_);
        addon_.streamTemplateList([this](QByteArrayView piece) { builder_->feed(piece); });
        EXPECT_TRUE(builder_->finish());
        mirror_ = mirrorFolderPath(tmp_.path(), QStringLiteral("mirror"));
        engine_ = std::make_unique<SyncEngine>(
            site_, addon_, *builder_, cache_, recovery_, mirror_,
            SyncEngine::Options{.fetchOnOpen = fetchOnOpen,
                                .refreshSettleMs = 300,
                                .checkSiteBeforeSave = [this] { return checkSite; }});
        TemplateFiles& files = engine_->files();
        files.quietPeriodMs = 10;
        files.replaceGraceMs = 100;
        files.stableIntervalMs = 20;
        engine_->scheduler().initialRetryMs = 1;
        engine_->scheduler().maxRetryMs = 5;
        engine_->listCheck().minIntervalMs = 5;
    }

    FakeAddon& addon() { return addon_; }
    NoCache& volume() { return cache_; }
    // "Check the site before each save".
    bool checkSite = true;
    // Someone else changes the template at `path` on the site (a colleague, the CMS's own editor).
    void changeOnSite(const std::string& path, const std::string& content) {
        ASSERT_TRUE(sim::editTemplateAt(addon_.model(), path, content).ok()) << path;
    }
    // Someone else deletes a top-level group with its templates on the site.
    void deleteGroupOnSite(const std::string& name) {
        sim::SiteModel& model = addon_.model();
        const auto group = std::find_if(model.groups().begin(), model.groups().end(),
                                        [&](const sim::Group& g) { return g.name == name; });
        ASSERT_NE(group, model.groups().end()) << name;
        const std::string id = group->id;
        std::vector<std::string> inside;
        for (const sim::Template& t : model.templates())
            if (t.groupId == id)
                inside.push_back(t.id);
        for (const std::string& t : inside)
            ASSERT_TRUE(model.deleteTemplate(id, t).ok());
        ASSERT_TRUE(model.deleteGroup(id).ok());
    }
    // Every file kept in the recovery folder (path below the run's folder -> content).
    Contents keptFiles() const {
        Contents kept;
        QDirIterator it(recovered(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile file(it.next());
            if (file.open(QIODevice::ReadOnly))
                kept[file.fileName().mid(recovered().size()).section(u'/', 3).toStdString()] =
                    file.readAll().toStdString();
        }
        return kept;
    }
    // A program opens `path` for reading through the volume.
    void open(const QString& path) {
        ++cache_.marks;
        engine_->fileOpened(path);
    }
    SyncEngine& engine() { return *engine_; }
    const QString& mirror() const { return mirror_; }
    WebsiteInUse& site() { return site_; }
    QString recovered() const { return tmp_.filePath(QStringLiteral("Recovered")); }

    // What a program does through the volume, and what the volume reports of it.
    void write(const QString& path, const QByteArray& content) {
        const bool isNew = !QFile::exists(mirror_ + path);
        QFile file(mirror_ + path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
        file.write(content);
        file.close();
        if (isNew)
            engine_->fileCreated(path);
        engine_->fileWritten(path);
        engine_->fileReleased(path);
    }
    void append(const QString& path, const QByteArray& content) {
        QFile file(mirror_ + path);
        ASSERT_TRUE(file.open(QIODevice::Append)) << path.toStdString();
        file.write(content);
        file.close();
        engine_->fileWritten(path);
        engine_->fileReleased(path);
    }
    // An editor's save: the new content written to a temporary file beside it, renamed over it.
    void saveViaTemporary(const QString& path, const QByteArray& content, const QString& temporaryName) {
        const QString temporary = path.left(path.lastIndexOf(u'/') + 1) + temporaryName;
        write(temporary, content);
        rename(temporary, path);
    }
    void rename(const QString& from, const QString& to) {
        ASSERT_EQ(std::rename(QFile::encodeName(mirror_ + from).constData(),
                              QFile::encodeName(mirror_ + to).constData()),
                  0)
            << from.toStdString() << " -> " << to.toStdString();
        engine_->moved(from, to);
    }
    void remove(const QString& path) {
        ASSERT_TRUE(QFile::remove(mirror_ + path)) << path.toStdString();
        engine_->fileRemoved(path);
    }
    void mkdir(const QString& path) {
        ASSERT_TRUE(QDir().mkdir(mirror_ + path)) << path.toStdString();
        engine_->folderMade(path);
    }
    // `rm -r`: what is inside goes first, deepest first.
    void removeTree(const QString& path) {
        const QDir folder(mirror_ + path);
        for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden))
            remove(path + u'/' + name);
        for (const QString& name : folder.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden))
            removeTree(path + u'/' + name);
        ASSERT_TRUE(QDir().rmdir(mirror_ + path)) << path.toStdString();
        engine_->folderRemoved(path);
    }

    // Turns the event loop until nothing is on its way; false when that took implausibly long.
    bool settle() {
        const auto idle = [this] {
            return !engine_->hasChangesPending() && addon_.answersOutstanding() == 0;
        };
        return waitUntil(idle, 60'000);
    }
    Contents siteTree() const { return siteContents(nlohmann::json(sim::stateJson(addon_.model()))); }
    Contents mirrorTree() const { return volumeContents(mirror_); }
    // Settled, the whole site equals the whole mirror, and no template or group is on the site twice.
    ::testing::AssertionResult converged() {
        if (!settle()) {
            auto failure = ::testing::AssertionFailure() << "still on their way:";
            for (const PendingFile& file : engine_->pendingFiles())
                failure << " " << file.path.toStdString() << " " << stateName(file.state).toStdString();
            return failure;
        }
        const auto site = siteTree(), mirror = mirrorTree();
        if (site != mirror)
            return ::testing::AssertionFailure() << describeDifference(site, mirror);
        if (addon_.model().templates().size() + addon_.model().groups().size() != site.size())
            return ::testing::AssertionFailure() << "a template or group twice on the site";
        return ::testing::AssertionSuccess();
    }
    // The identifier the site has for the template at `path`; empty when it has none there.
    std::string idAt(const std::string& path) const {
        const sim::Json state = sim::stateJson(addon_.model());
        for (const sim::Json& t : state["templates"])
            if (t["path"] == path)
                return t["id"].get<std::string>();
        return {};
    }

private:
    QTemporaryDir tmp_;
    FakeAddon addon_;
    WebsiteInUse site_;
    std::unique_ptr<MirrorBuilder> builder_;
    QString mirror_;
    NoCache cache_;
    DesktopNotifier notifier_{QDBusConnection(QStringLiteral("not-connected"))};
    Recovery recovery_{tmp_.path(), QStringLiteral("Engine"),
                       mirrorFolderPath(tmp_.path(), QStringLiteral("mirror")), notifier_};
    std::unique_ptr<SyncEngine> engine_;
};

class SyncEngineTest : public ::testing::TestWithParam<sim::Cms> {};
const FakeAddon::Faults slowAndOutOfOrder{.maxDelayMs = 15, .dropRate = 0.15, .lostRate = 0.15};

std::string flavour(const ::testing::TestParamInfo<sim::Cms>& info) {
    return info.param == sim::Cms::ExpressionEngine ? "ExpressionEngine" : "WordPress";
}

// FOLVANE_RANDOM_RUNS and FOLVANE_RANDOM_SEED replay or extend the random runs.
int fromEnvironment(const char* name, int otherwise) {
    return qEnvironmentVariableIsSet(name) ? qEnvironmentVariableIntValue(name) : otherwise;
}

// A symbolic link made on the volume can point at any of the user's files: what it points at is never
// published, neither over an existing template nor as a new one. FIFOs and sockets can be made there too;
// neither is ever read for the site or copied aside (opening a FIFO would wait for a writer forever).
TEST_P(SyncEngineTest, LinksAndSpecialFilesNeitherReachTheSiteNorHoldUpTheEnd) {
    Harness h(GetParam(), 14, {});
    QTemporaryDir home;
    const QString secret = home.filePath(QStringLiteral("id_rsa"));
    QFile key(secret);
    ASSERT_TRUE(key.open(QIODevice::WriteOnly));
    key.write("PRIVATE KEY\n");
    key.close();
    ASSERT_TRUE(QFile::link(secret, h.mirror() + "/news/x"));
    h.rename("/news/x", "/news/index.html");
    ASSERT_TRUE(QFile::link(secret, h.mirror() + "/site/.y"));
    h.rename("/site/.y", "/site/new.html");
    ASSERT_EQ(::mkfifo(QFile::encodeName(h.mirror() + "/news/pipe").constData(), 0600), 0);
    ASSERT_EQ(::mkfifo(QFile::encodeName(h.mirror() + "/news/.hidden-pipe").constData(), 0600), 0);
    h.append("/site/about.html", "mine\n");
    ASSERT_TRUE(h.settle());
    for (const auto& [path, content] : h.siteTree())
        EXPECT_EQ(content.find("PRIVATE"), std::string::npos) << path;
    EXPECT_FALSE(h.siteTree().count("/site/new.html"));
    EXPECT_EQ(h.siteTree().at("/site/about.html"), "site about.html\nmine\n");
    EXPECT_TRUE(h.engine().files().unconfirmedFiles().isEmpty());
    h.engine().finish(100);
    EXPECT_FALSE(QFileInfo::exists(h.recovered())) << "nothing of them is copied aside";
}

// A save whose content the site already has is answered at once, without a request; nothing of it may stay
// behind for later changes of its folder to wait for.
TEST_P(SyncEngineTest, ASaveTheSiteAlreadyHasHoldsNothingUp) {
    Harness h(GetParam(), 13, slowAndOutOfOrder);
    h.write("/news/index.html", "news index.html\n");
    h.rename("/news", "/journal");
    h.write("/journal/later.html", "later\n");
    ASSERT_TRUE(h.converged());
}

// Editors that replace the file (vim, JetBrains IDEs, git) keep the template: the end-to-end tests run them.
// Here what only the grace decides: a delete or rename that is no editor's still reaches the site, a kept
// backup becomes a file of its own, and a name given up and taken back keeps the template.
TEST_P(SyncEngineTest, RealDeletesRenamesAndKeptBackupsStillReachTheSiteAfterTheGrace) {
    Harness h(GetParam(), 12, slowAndOutOfOrder);
    const std::string index = h.idAt("/news/index.html"), contact = h.idAt("/site/contact.html"),
                      article = h.idAt("/news/article.html");
    h.remove("/site/about.html");
    h.rename("/site/contact.html", "/site/reach.html");
    // vim with its backup kept: the backup is a file of its own once the grace is over.
    h.rename("/news/index.html", "/news/index.html~");
    h.write("/news/index.html", "saved\n");
    // Renamed away, deleted there, made again under its name.
    h.rename("/news/article.html", "/news/n1.html");
    h.remove("/news/n1.html");
    h.write("/news/article.html", "saved\n");
    ASSERT_TRUE(h.settle());
    waitUntil([&] { return h.siteTree().count("/news/index.html~") > 0; }, 5000);
    ASSERT_TRUE(h.converged());
    EXPECT_EQ(h.idAt("/site/reach.html"), contact);
    EXPECT_EQ(h.idAt("/news/index.html"), index);
    EXPECT_EQ(h.idAt("/news/article.html"), article);
    EXPECT_EQ(h.siteTree().at("/news/index.html~"), "news index.html\n");
}

// Every kind of request with its answers lost: before the site made the change, after it, or both in a row.
// A change the site made is learnt from its list, never made twice; one it did not make is sent again; the
// helper ends idle with nothing unconfirmed.
TEST_P(SyncEngineTest, ChangesWhoseAnswersNeverCameReachTheSiteExactlyOnce) {
    using Fate = FakeAddon::Fate;
    struct Change {
        const char* name;
        std::function<void(Harness&)> make;
    };
    std::vector<Change> changes{
        {"new file", [](Harness& h) { h.write("/news/fresh.html", "fresh\n"); }},
        {"save", [](Harness& h) { h.append("/news/index.html", "more\n"); }},
        {"rename", [](Harness& h) { h.rename("/site/about.html", "/site/about-us.html"); }},
        {"move", [](Harness& h) { h.rename("/news/article.html", "/site/article.html"); }},
        {"delete", [](Harness& h) { h.remove("/site/contact.html"); }},
        {"new folder", [](Harness& h) { h.mkdir("/fresh"); }},
        {"folder rename", [](Harness& h) { h.rename("/news", "/tidings"); }},
        {"folder delete", [](Harness& h) { h.removeTree("/news"); }},
    };
    if (GetParam() == sim::Cms::WordPress) {
        changes.push_back({"folder move", [](Harness& h) { h.rename("/news", "/site/news"); }});
        changes.push_back({"folder move and rename", [](Harness& h) { h.rename("/news", "/site/tidings"); }});
    }
    const std::vector<std::vector<Fate>> losses{{Fate::dropped, Fate::dropped, Fate::dropped},
                                                {Fate::lost},
                                                {Fate::dropped, Fate::dropped, Fate::lost}};
    for (const Change& change : changes)
        for (const std::vector<Fate>& loss : losses) {
            SCOPED_TRACE(std::string(change.name) + ", " + std::to_string(loss.size()) + " fates from " +
                         std::to_string(int(loss.front())));
            Harness h(GetParam(), 3, {});
            h.addon().script.assign(loss.begin(), loss.end());
            change.make(h);
            ASSERT_TRUE(h.settle());
            EXPECT_TRUE(h.addon().script.empty()) << "every loss was met by a request";
            EXPECT_TRUE(h.converged());
            EXPECT_EQ(h.engine().pendingCount(), 0);
            EXPECT_LE(h.addon().lists(), 1 + int(loss.size())) << "a list only for answers that never came";
        }
}

// Answers lost for requests of many templates at once are settled by one list, not one each.
TEST_P(SyncEngineTest, OneListServesEveryRequestWhoseAnswerNeverCame) {
    Harness h(GetParam(), 5, {});
    h.engine().listCheck().minIntervalMs = 1000;
    bool listed = false;
    h.engine().listCheck().whenListed([&](const SiteIndex* site) { listed = site != nullptr; });
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_TRUE(listed);
    h.addon().faults.lostRate = 1;
    for (int i = 0; i < 6; ++i)
        h.write(QStringLiteral("/news/new%1.html").arg(i), "new\n");
    waitUntil([&] { return h.addon().lists() >= 2; }, 10'000);
    h.addon().faults.lostRate = 0;
    ASSERT_TRUE(h.settle());
    EXPECT_EQ(h.addon().lists(), 2) << "the first one, then one for all six";
    EXPECT_TRUE(h.converged());
    EXPECT_EQ(h.engine().pendingCount(), 0);
}

// Nothing at or below a hidden name goes to the site, at any depth (a repository inside a group folder),
// and a folder inside one that has no group on the site stays on this computer, like a top-level file.
TEST_P(SyncEngineTest, NothingBelowAHiddenNameOrAFolderWithoutAGroupReachesTheSite) {
    Harness h(GetParam(), 8, {});
    const auto before = h.siteTree();
    for (const char* folder : {"/news/.git", "/news/.git/hooks", "/news/.git/refs", "/news/.git/refs/heads",
                               "/.hidden", "/.hidden/inner"})
        h.mkdir(QString::fromLatin1(folder));
    h.write("/news/.git/hooks/pre-commit.sample", "#!/bin/sh\n");
    h.write("/news/.git/refs/heads/main", "0123abcd\n");
    h.write("/.hidden/inner/page.html", "hidden\n");
    // A group's folder or a template's file hidden: the site keeps it untouched.
    h.rename("/site", "/.site");
    h.rename("/news/index.html", "/news/.index.html");
    h.append("/news/.index.html", "hidden edit\n");
    h.append("/.site/index.html", "hidden edit\n");
    h.addon().script = {FakeAddon::Fate::refused};
    h.mkdir("/refused");
    h.mkdir("/refused/inner");
    h.write("/refused/inner/page.html", "inner\n");
    ASSERT_TRUE(h.settle());
    EXPECT_EQ(h.siteTree(), before);
    EXPECT_EQ(h.engine().pendingFiles(),
              QList<PendingFile>({{"/refused", PendingFile::State::refused, "Refused by the test."}}));
}

// A save that waits for the site to answer an earlier folder change is listed as waiting, not as sent.
TEST_P(SyncEngineTest, ASaveWaitingForAFolderChangeIsListedAsWaiting) {
    Harness h(GetParam(), 9, {.maxDelayMs = 400, .minDelayMs = 400});
    h.rename("/news", "/tidings");
    h.append("/tidings/index.html", "waits\n");
    for (int i = 0; i < 10; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_EQ(h.addon().answersOutstanding(), 1) << "only the folder's rename is out";
    EXPECT_EQ(h.engine().pendingFiles(),
              QList<PendingFile>({{"/tidings/index.html", PendingFile::State::waiting, {}}}));
    ASSERT_TRUE(h.converged());
}

TEST_P(SyncEngineTest, RefusedSavesAndCreatesStayCountedUntilTheNextSaveIsConfirmed) {
    Harness h(GetParam(), 4, {});
    h.addon().faults.refuseRate = 1;
    h.append("/news/index.html", "refused\n");
    h.write("/site/new.html", "refused too\n");
    ASSERT_TRUE(h.settle());
    EXPECT_NE(h.siteTree().at("/news/index.html"), h.mirrorTree().at("/news/index.html"));
    EXPECT_FALSE(h.siteTree().count("/site/new.html"));
    EXPECT_EQ(h.engine().files().unconfirmedFiles(),
              QStringList({h.mirror() + "/news/index.html", h.mirror() + "/site/new.html"}));
    EXPECT_EQ(h.engine().pendingCount(), 2) << "refused is not confirmed";
    EXPECT_FALSE(h.engine().hasChangesPending()) << "but nothing is on its way";

    h.addon().faults.refuseRate = 0;
    h.append("/news/index.html", "accepted\n");
    h.append("/site/new.html", "accepted\n");
    ASSERT_TRUE(h.converged());
    EXPECT_TRUE(h.engine().files().unconfirmedFiles().isEmpty());
    EXPECT_EQ(h.engine().pendingCount(), 0);
}

TEST_P(SyncEngineTest, AnOpenGoesOnOnceTheFileShowsTheSitesVersion) {
    Harness h(GetParam(), 4, {.maxDelayMs = 30}, true);
    h.changeOnSite("/site/about.html", "theirs\n");
    const QString about = QStringLiteral("/site/about.html");
    const int before = h.addon().requests();
    h.open(about);
    EXPECT_FALSE(h.volume().current.count(about)) << "not before the site answered";
    ASSERT_TRUE(h.settle());
    EXPECT_EQ(h.volume().current[about], 1u);
    EXPECT_EQ(h.mirrorTree().at("/site/about.html"), "theirs\n");
    EXPECT_EQ(h.addon().requests() - before, 1) << "one request per open";

    // A file the site does not know goes on at once, asking nothing.
    h.write("/news/.notes", "mine\n");
    h.open(QStringLiteral("/news/.notes"));
    EXPECT_EQ(h.volume().current[QStringLiteral("/news/.notes")], 2u);
    EXPECT_EQ(h.addon().requests() - before, 1);

    // A save on its way is not replaced by the site's version, and the open still goes on; other files' work
    // is left alone.
    h.append("/site/about.html", "mine\n");
    h.write("/news/new.html", "new\n");
    h.append("/news/index.html", "mine\n");
    h.open(about);
    ASSERT_TRUE(h.settle());
    EXPECT_EQ(h.volume().current[about], 3u);
    EXPECT_EQ(h.mirrorTree().at("/site/about.html"), "theirs\nmine\n");
    EXPECT_TRUE(h.converged());
}

TEST_P(SyncEngineTest, WithCachingOnAnOpenAsksNothing) {
    Harness h(GetParam(), 4, {});
    const int before = h.addon().requests();
    h.open(QStringLiteral("/site/about.html"));
    ASSERT_TRUE(h.settle());
    EXPECT_EQ(h.addon().requests(), before);
}

TEST_P(SyncEngineTest, AFileDeletedOrRenamedWhileItsCreateIsOutEndsRight) {
    Harness h(GetParam(), 5, {.maxDelayMs = 40});
    h.write("/news/gone.html", "gone\n");
    h.write("/news/renamed.html", "renamed\n");
    // Past the stability wait, so both creates are out when the changes come (the first request was the
    // template list the mirror was built from).
    waitUntil([&] { return h.addon().requests() >= 3; }, 10'000);
    h.remove("/news/gone.html");
    h.rename("/news/renamed.html", "/news/final.html");
    ASSERT_TRUE(h.converged());
}

TEST_P(SyncEngineTest, WhilePausedReportsWaitAndThenGoInOrder) {
    Harness h(GetParam(), 6, {});
    h.engine().pause();
    h.write("/news/held.html", "held\n");
    h.rename("/news/held.html", "/news/kept.html");
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(h.addon().requests(), 1) << "only the list was asked for";
    EXPECT_FALSE(h.siteTree().count("/news/kept.html"));
    h.engine().resume();
    ASSERT_TRUE(h.converged());
}

// Hidden files and the top level never go to the site: nothing of theirs is unconfirmed, and a refresh leaves
// them where they are, even in a group deleted on the site.
TEST_P(SyncEngineTest, FilesNeverSentStayQuietlyAcrossARefreshAndAreKeptOnlyAtTheEnd) {
    Harness h(GetParam(), 12, {.maxDelayMs = 5});
    h.write("/news/.x", "notes\n");
    h.write("/site/.hidden", "more\n");
    h.write("/top.txt", "top\n");
    ASSERT_TRUE(QDir().mkpath(h.mirror() + "/news/.drafts"));
    h.write("/news/.drafts/draft.html", "draft\n");
    ASSERT_TRUE(h.settle());
    EXPECT_TRUE(h.engine().files().unconfirmedFiles().isEmpty());
    EXPECT_EQ(h.engine().files().localOnlyFiles().size(), 4);

    h.deleteGroupOnSite("news");
    QString why;
    ASSERT_EQ(h.engine().refresh(&why), SyncEngine::RefreshOutcome::rebuilt) << why.toStdString();
    EXPECT_FALSE(QFileInfo::exists(h.recovered())) << "nothing to keep, nothing to tell";
    EXPECT_EQ(QDir(h.mirror() + "/news").entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              (QStringList{".drafts", ".x"}))
        << "the deleted group's templates go, its hidden files stay";
    EXPECT_EQ(h.mirrorTree().at("/site/about.html"), "site about.html\n");
    EXPECT_EQ(h.engine().files().localOnlyFiles().size(), 4);

    // At the end the mirror goes: then they are kept too.
    h.engine().finish(1000);
    EXPECT_EQ(h.keptFiles(), (Contents{{"news/.drafts/draft.html", "draft\n"},
                                       {"news/.x", "notes\n"},
                                       {"site/.hidden", "more\n"},
                                       {"top.txt", "top\n"}}));
}

// A refresh never removes or overwrites a file whose change the site has not confirmed: the file keeps what
// the user made and stays pending, and the site's text of it is kept when someone else made it. A folder
// change still on its way holds the refresh back.
TEST_P(SyncEngineTest, ARefreshLeavesEveryChangeTheSiteHasNotConfirmed) {
    const struct {
        const char* what;
        std::function<void(Harness&)> change;
        SyncEngine::RefreshOutcome outcome;
        PendingFile::State state;
        Contents kept;
    } cases[] = {
        {"a folder rename without an answer",
         [](Harness& h) { h.rename("/news", "/journal"); },
         SyncEngine::RefreshOutcome::keptVolume,
         {},
         {}},
        {"a save without an answer, changed on the site too",
         [](Harness& h) {
             h.append("/news/index.html", "mine\n");
             h.changeOnSite("/news/index.html", "theirs\n");
         },
         SyncEngine::RefreshOutcome::rebuilt,
         PendingFile::State::retrying,
         {{"news/index.site-version.html", "theirs\n"}}},
        {"a refused save",
         [](Harness& h) {
             h.addon().faults.dropRate = 0;
             h.addon().script = {FakeAddon::Fate::answered, FakeAddon::Fate::refused};
             h.append("/news/index.html", "mine\n");
             ASSERT_TRUE(h.settle());
         },
         SyncEngine::RefreshOutcome::rebuilt,
         PendingFile::State::refused,
         {}},
    };
    for (const auto& c : cases) {
        Harness h(GetParam(), 10, {.dropRate = 1});
        c.change(h);
        const auto before = h.mirrorTree();
        QString why;
        ASSERT_EQ(h.engine().refresh(&why), c.outcome) << c.what << ": " << why.toStdString();
        EXPECT_EQ(h.mirrorTree(), before) << c.what;
        EXPECT_EQ(h.keptFiles(), c.kept) << c.what;
        if (c.outcome == SyncEngine::RefreshOutcome::keptVolume)
            EXPECT_TRUE(why.contains(QStringLiteral("on their way"))) << c.what << ": " << why.toStdString();
        else
            EXPECT_EQ(h.engine().files().pendingFiles().value(0).state, c.state) << c.what;
        h.addon().faults.dropRate = 0;
        h.engine().tryAgain(QStringLiteral("/news/index.html"));
        ASSERT_TRUE(h.converged()) << c.what;
    }
}

// An end asked for while a refresh holds the volume's changes lets go of the hold: the write that waited for
// it lands in the mirror and is kept like any change the site has not confirmed, and the refresh gives up.
TEST_P(SyncEngineTest, AnEndDuringARefreshLetsTheWaitingWriteLandAndKeepsIt) {
    Harness h(GetParam(), 16, {.dropRate = 1});
    h.volume().onHold = [&] { QTimer::singleShot(0, [&] { EXPECT_TRUE(h.engine().finish(100)); }); };
    h.volume().onResume = [&] { h.append("/news/index.html", "written during the hold\n"); };
    QString why;
    EXPECT_EQ(h.engine().refresh(&why), SyncEngine::RefreshOutcome::abandoned);
    EXPECT_EQ(h.volume().resumes, 1);
    EXPECT_EQ(h.keptFiles(), (Contents{{"news/index.html", "news index.html\nwritten during the hold\n"}}));
}

// A list that is no whole template list (cut short, an error page, one without groups) leaves the mirror
// and the records as they were, and nothing of it on disk.
TEST_P(SyncEngineTest, ARefreshFromAnUnusableListKeepsTheVolumeAndNothingOfTheList) {
    Harness h(GetParam(), 14, {.maxDelayMs = 5});
    const std::string list = sim::dumpJson(sim::listAllJson(h.addon().model()));
    const auto before = h.mirrorTree();
    const QString cache = QFileInfo(h.mirror()).path();
    for (const std::string& body :
         {list.substr(0, list.size() - 3), std::string("<html>502 Bad Gateway</html>"), std::string("{}")}) {
        h.addon().listBody = body;
        QString why;
        EXPECT_EQ(h.engine().refresh(&why), SyncEngine::RefreshOutcome::keptVolume) << body;
        EXPECT_EQ(why, QStringLiteral("the template list could not be fetched"));
        EXPECT_EQ(h.mirrorTree(), before);
        EXPECT_EQ(
            QDir(cache).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
            QStringList{QStringLiteral("mirror")});
    }
    // The records still lead every save to its template.
    h.append("/news/index.html", "kept\n");
    ASSERT_TRUE(h.converged());
    h.addon().listBody.reset();
    QString why;
    EXPECT_EQ(h.engine().refresh(&why), SyncEngine::RefreshOutcome::rebuilt) << why.toStdString();
    EXPECT_TRUE(h.converged());
}

TEST_P(SyncEngineTest, ARefreshLeavesTheRecordsAFreshBuildOfTheNewListWouldHave) {
    Harness h(GetParam(), 15, {.maxDelayMs = 5});
    sim::SiteModel& model = h.addon().model();
    // Someone else deletes a template and a whole group, and adds a group and a template.
    const sim::Template contact = *model.findTemplate(h.idAt("/site/contact.html"));
    ASSERT_TRUE(model.deleteTemplate(contact.groupId, contact.id).ok());
    h.deleteGroupOnSite("news");
    const sim::Outcome fresh = model.insertGroup("", "fresh", false, sim::Special::None);
    model.insertTemplate(fresh.id, "page.html", "fresh page\n");
    // A file the site did not change is left alone (converged() checks the changed one was rewritten).
    h.changeOnSite("/site/about.html", "theirs\n");
    QFile same(h.mirror() + "/site/index.html");
    const QDateTime past = QDateTime::fromSecsSinceEpoch(1'000'000'000);
    ASSERT_TRUE(same.open(QIODevice::ReadWrite) && same.setFileTime(past, QFileDevice::FileModificationTime));
    same.close();

    QString why;
    ASSERT_EQ(h.engine().refresh(&why), SyncEngine::RefreshOutcome::rebuilt) << why.toStdString();
    EXPECT_EQ(QFileInfo(same).lastModified(), past);
    QTemporaryDir other;
    WebsiteInUse built;
    built.cms = h.site().cms;
    built.cachedFolderName = QStringLiteral("mirror");
    MirrorBuilder builder(other.path(), built);
    h.addon().streamTemplateList([&](QByteArrayView piece) { builder.feed(piece); });
    ASSERT_TRUE(builder.finish());
    const std::string expected = recordsText(built, builder.mirrorFolder());
    EXPECT_EQ(recordsText(h.site(), h.mirror()), expected);
    EXPECT_EQ(expected.find("folder /news "), std::string::npos);
    EXPECT_NE(expected.find("file /fresh/page.html "), std::string::npos);
    EXPECT_TRUE(h.converged());
}

// The user can put a link anywhere in the mirror through the volume, also in place of a file whose site
// text is being fetched: the helper's write must neither follow it nor leave the mirror through a linked
// folder.
TEST(MirrorRefresh, TheSitesTextNeverGoesThroughALink) {
    QTemporaryDir base, outside;
    WebsiteInUse site;
    site.cachedFolderName = QStringLiteral("-1");
    MirrorBuilder parser(base.path(), site);
    NoCache volume;
    const QString mirror = parser.mirrorFolder();
    MirrorRefresh refresh(site, parser, volume, mirror);
    const QString victim = outside.filePath(QStringLiteral("index.html"));
    QFile mine(victim);
    ASSERT_TRUE(mine.open(QIODevice::WriteOnly) && mine.write("mine") == 4);
    mine.close();
    ASSERT_TRUE(QDir().mkpath(mirror + QStringLiteral("/news")));
    ASSERT_TRUE(QFile::link(victim, mirror + QStringLiteral("/news/index.html")));
    ASSERT_TRUE(QFile::link(outside.path(), mirror + QStringLiteral("/linked")));
    for (const char* path : {"/news/index.html", "/linked/index.html", "/news/plain.html"})
        refresh.write({QFileInfo(path).fileName(), "c2l0ZQ==", "site"}, mirror + QString::fromLatin1(path));

    EXPECT_TRUE(QFileInfo(mirror + QStringLiteral("/news/index.html")).isSymLink());
    ASSERT_TRUE(mine.open(QIODevice::ReadOnly));
    EXPECT_EQ(mine.readAll(), "mine");
    EXPECT_EQ(volumeContents(mirror), (Contents{{"/news/", ""}, {"/news/plain.html", "site"}}));
}

TEST(SiteCheckDecision, OnlyATextNobodyHereKnewIsSomeoneElsesChange) {
    const ContentDigest confirmed = ContentDigest::ofContent("confirmed\n"),
                        unanswered = ContentDigest::ofContent("sent, no answer\n"),
                        saving = ContentDigest::ofContent("saving\n"),
                        theirs = ContentDigest::ofContent("theirs\n");
    const struct {
        const char* what;
        std::vector<ContentDigest> site, known;
        bool changed;
    } cases[] = {
        {"the site holds what was last known", {confirmed}, {confirmed}, false},
        {"the site holds what is being saved", {saving}, {confirmed}, false},
        {"the site holds a save whose answer never came", {unanswered}, {confirmed, unanswered}, false},
        {"someone else's text", {theirs}, {confirmed, unanswered}, true},
        {"someone else's text, nothing known", {theirs}, {}, true},
        {"either form of the site's text matches", {theirs, confirmed}, {confirmed}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(changedElsewhere(c.site, c.known, saving), c.changed) << c.what;
}

// Before a save the site's text is looked at (the end-to-end tests: with no change there, and with the
// preference off). Someone else's change is kept once as the site's version and the user told, while the
// user's save still goes through; a check the site does not answer holds the save back (nothing of the other
// side may be replaced unseen) and is made again like a save that got no answer.
TEST_P(SyncEngineTest, ASaveKeepsWhatSomeoneElseChangedOnTheSiteOnceTheSiteAnswersTheCheck) {
    Harness h(GetParam(), 22, {.maxDelayMs = 5, .dropRate = 1});
    h.changeOnSite("/site/about.html", "theirs\n");
    h.append("/site/about.html", "mine\n");
    waitUntil([&] { return h.addon().templateFetches() >= 3; }, 10'000);
    EXPECT_EQ(h.siteTree().at("/site/about.html"), "theirs\n") << "not replaced while unchecked";
    EXPECT_TRUE(h.keptFiles().empty());
    EXPECT_EQ(h.engine().pendingCount(), 1);
    h.addon().faults.dropRate = 0;
    ASSERT_TRUE(h.converged());
    EXPECT_EQ(h.keptFiles(), (Contents{{"site/about.site-version.html", "theirs\n"}}));
    const QList<PendingFile> notices = h.engine().pendingFiles();
    ASSERT_EQ(notices.size(), 1);
    EXPECT_EQ(notices[0],
              PendingFile("/site/about.html", PendingFile::State::changedOnSite, {}, notices[0].copy));
    QFile copy(notices[0].copy);
    EXPECT_TRUE(copy.open(QIODevice::ReadOnly) && copy.readAll() == "theirs\n")
        << notices[0].copy.toStdString();
    EXPECT_EQ(h.engine().pendingCount(), 0) << "a notice is no pending change";
}

// What a random run left for its end check.
struct RandomRun {
    QStringList files;                   // every file the user made or kept, where it is now
    std::vector<std::string> theirTexts; // what someone else wrote on the site
    std::set<std::string> seen;          // what refreshes brought onto the volume (the user has seen it)
};

// 40 random edits of files and folders with refreshes and answers in between. With `othersEdit`, someone
// else changes templates on the site where the user would delete something (each template at most once, and
// only while none of its own changes is on its way).
RandomRun editRandomly(Harness& h, unsigned seed, bool othersEdit) {
    const bool nesting = h.site().cms == CMS::wordPress;
    std::mt19937 random(seed);
    const auto pick = [&](const QStringList& list) {
        return list.at(static_cast<int>(random() % list.size()));
    };
    const auto under = [](const QString& path, const QString& folder) {
        return path == folder || path.startsWith(folder + u'/');
    };
    RandomRun run;
    QStringList folders{QStringLiteral("/news"), QStringLiteral("/site")}, &files = run.files;
    for (const auto& [path, content] : h.mirrorTree())
        if (path.back() != '/')
            files << QString::fromStdString(path);
    std::set<std::string> changedBySomeoneElse;
    for (int step = 0; step < 40 && !::testing::Test::HasFatalFailure(); ++step) {
        const QString name = QStringLiteral("n%1").arg(step);
        unsigned what = folders.isEmpty() ? 0 : random() % 11;
        if (othersEdit && (what == 6 || what == 8))
            what = 11;
        switch (what) {
        case 0: {
            const QString folder =
                (nesting && !folders.isEmpty() && random() % 2 ? pick(folders) : QString()) + u'/' + name;
            h.mkdir(folder);
            folders << folder;
            break;
        }
        case 1:
        case 2: {
            const QString file = pick(folders) + u'/' + name + QStringLiteral(".html");
            h.write(file, "made " + name.toUtf8() + '\n');
            files << file;
            break;
        }
        case 3:
            if (!files.isEmpty())
                h.append(pick(files), "step " + QByteArray::number(step) + '\n');
            break;
        case 4:
            if (!files.isEmpty())
                h.saveViaTemporary(pick(files), "saved " + QByteArray::number(step) + '\n',
                                   random() % 2 ? QStringLiteral(".swp") : QStringLiteral("sedXYZ"));
            break;
        case 5:
            if (!files.isEmpty()) {
                const QString from = pick(files), to = pick(folders) + u'/' + name + QStringLiteral(".html");
                h.rename(from, to);
                files.replace(files.indexOf(from), to);
            }
            break;
        case 6:
            if (files.size() > 2) {
                const QString gone = pick(files);
                h.remove(gone);
                files.removeOne(gone);
            }
            break;
        case 7: {
            // A folder's new name, or (nesting) a new place for it outside itself.
            const QString from = pick(folders);
            QString parent = from.left(from.lastIndexOf(u'/'));
            if (nesting && random() % 2) {
                const QString target = pick(folders);
                parent = under(target, from) ? QString() : target;
            }
            const QString to = parent + u'/' + name;
            h.rename(from, to);
            for (QStringList* list : {&folders, &files})
                for (QString& path : *list)
                    if (under(path, from))
                        path = to + path.mid(from.size());
            break;
        }
        case 8:
            if (folders.size() > 2) {
                const QString gone = pick(folders);
                h.removeTree(gone);
                folders.removeIf([&](const QString& path) { return under(path, gone); });
                files.removeIf([&](const QString& path) { return under(path, gone); });
            }
            break;
        case 9: {
            QString why;
            h.engine().refresh(&why);
            for (const auto& [path, content] : h.mirrorTree())
                run.seen.insert(content);
            break;
        }
        case 11: {
            if (files.isEmpty())
                break;
            const QString file = pick(files);
            const std::string id = h.idAt(file.toStdString());
            const QList<PendingFile> pending = h.engine().pendingFiles();
            if (id.empty() || changedBySomeoneElse.count(id) ||
                std::any_of(pending.begin(), pending.end(),
                            [&](const PendingFile& f) { return f.path == file; }))
                break;
            run.theirTexts.push_back("theirs " + std::to_string(step) + "\n");
            h.changeOnSite(file.toStdString(), run.theirTexts.back());
            changedBySomeoneElse.insert(id);
            break;
        }
        default:
            // Let some answers in between.
            for (int i = 0; i < 3; ++i)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
    }
    return run;
}

// Several seeds per flavour: each run ends with the site equal to the mirror and every file the user made
// still there.
TEST_P(SyncEngineTest, RandomEditSequencesConverge) {
    for (int run = 0; run < fromEnvironment("FOLVANE_RANDOM_RUNS", 8); ++run) {
        const unsigned seed =
            static_cast<unsigned>(fromEnvironment("FOLVANE_RANDOM_SEED", 7)) + static_cast<unsigned>(run);
        Harness h(GetParam(), seed, slowAndOutOfOrder);
        h.addon().groupMovesWithoutID = seed % 2; // then the site's rule gives the moved group's identifier
        const RandomRun made = editRandomly(h, seed, false);
        ASSERT_TRUE(h.converged()) << "seed " << seed;
        const auto site = h.siteTree();
        for (const QString& file : made.files)
            EXPECT_TRUE(site.count(file.toStdString())) << "seed " << seed << ": lost " << file.toStdString();
    }
}

// With someone else changing templates on the site: every text they made ends on the site, kept as the
// site's version or brought onto the volume, and where the site differs from the volume it holds such a text.
TEST_P(SyncEngineTest, RandomEditsWithChangesOnTheSiteLoseNothing) {
    size_t keptCopies = 0;
    for (int run = 0; run < fromEnvironment("FOLVANE_RANDOM_RUNS", 8); ++run) {
        const unsigned seed = static_cast<unsigned>(fromEnvironment("FOLVANE_RANDOM_SEED", 7)) + 100 +
                              static_cast<unsigned>(run);
        Harness h(GetParam(), seed, slowAndOutOfOrder);
        const RandomRun made = editRandomly(h, seed, true);
        ASSERT_TRUE(h.settle()) << "seed " << seed;
        const auto site = h.siteTree(), kept = h.keptFiles();
        keptCopies += kept.size();
        std::set<std::string> found = made.seen;
        for (const auto& tree : {site, kept})
            for (const auto& [path, content] : tree)
                found.insert(content);
        for (const std::string& text : made.theirTexts)
            EXPECT_TRUE(found.count(text)) << "seed " << seed << ": lost \"" << text << '"';
        for (const auto& [path, content] : h.mirrorTree()) {
            const std::string onSite = site.count(path) ? site.at(path) : "";
            EXPECT_TRUE(onSite == content ||
                        std::count(made.theirTexts.begin(), made.theirTexts.end(), onSite))
                << "seed " << seed << ": " << path;
        }
    }
    EXPECT_GT(keptCopies, 0u) << "the runs met changes made on both sides";
}

INSTANTIATE_TEST_SUITE_P(BothFlavours, SyncEngineTest,
                         ::testing::Values(sim::Cms::ExpressionEngine, sim::Cms::WordPress), flavour);

} // namespace
