// Edits on the volume, made by real tools and editors, end with the site holding what the volume shows.
#include "testkit/AddonSim.h"
#include "testkit/AppRunner.h"
#include "testkit/BusRecorder.h"
#include "testkit/FakeOpener.h"
#include "testkit/HelperRunner.h"
#include "testkit/RandomRuns.h"
#include "testkit/SiteCompare.h"
#include "testkit/TestSession.h"
#include "testkit/Wait.h"
#include "tree/PathText.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <gtest/gtest.h>
#include <httplib.h>
#include <random>

using namespace folvane::testkit;
using nlohmann::json;

namespace {

class FileSync : public ::testing::TestWithParam<const char*> {
protected:
    void start(const char* cms, bool notifications = true) {
        sim_ = std::make_unique<AddonSim>(AddonSim::Options{cms, {}, {}, {}});
        bus_ = std::make_unique<BusRecorder>(session_.bus());
        HelperRunner::Options options;
        options.url = sim_->baseUrl();
        options.title = QStringLiteral("Sync Site");
        options.cms =
            std::string(cms) == "wp" ? QStringLiteral("Wordpress") : QStringLiteral("ExpressionEngine");
        options.notifications = notifications;
        options_ = options;
        helper_ = std::make_unique<HelperRunner>(session_, options);
        ASSERT_TRUE(bus_->waitFor("finishedconnecting-Sync Site")) << helper_->logText().toStdString();
        ASSERT_TRUE(waitUntil([&] { return helper_->isMounted(); }));
        sim_->clearLog();
    }
    bool ee() const { return sim_->cms() == "ee"; }
    // A group folder of the demo site in either flavour.
    QString group() const { return ee() ? QStringLiteral("/news") : QStringLiteral("/theme"); }
    QString otherGroup() const {
        return ee() ? QStringLiteral("/site") : QStringLiteral("/theme/template-parts");
    }
    QString volume(const QString& relative = {}) const { return helper_->mountPoint() + relative; }

    // Runs a shell command with the volume as working directory; fails the test when it fails.
    void sh(const QString& command) {
        QProcess shell;
        shell.setWorkingDirectory(volume());
        shell.setProcessEnvironment(session_.environment());
        shell.start(QStringLiteral("/bin/bash"), {QStringLiteral("-c"), command});
        ASSERT_TRUE(shell.waitForFinished(60000));
        ASSERT_EQ(shell.exitCode(), 0) << command.toStdString() << "\n"
                                       << shell.readAllStandardError().toStdString();
    }
    void expectSiteMatchesVolume() {
        EXPECT_TRUE(waitUntilSiteMatchesVolume(*sim_, volume()))
            << describeDifference(siteContents(*sim_), volumeContents(volume()));
    }
    int requests(const std::string& action) const {
        return static_cast<int>(sim_->requestsFor(action).size());
    }
    std::string siteContent(const std::string& path) const {
        const Contents site = siteContents(*sim_);
        const auto it = site.find(path);
        return it == site.end() ? "<none>" : it->second;
    }
    void startWithoutCaching() {
        sim_ = std::make_unique<AddonSim>(AddonSim::Options{"ee", {}, {}, {}});
        bus_ = std::make_unique<BusRecorder>(session_.bus());
        HelperRunner::Options options;
        options.url = sim_->baseUrl();
        options.title = QStringLiteral("Sync Site");
        options.caching = false;
        helper_ = std::make_unique<HelperRunner>(session_, options);
        ASSERT_TRUE(bus_->waitFor("finishedconnecting-Sync Site"));
        ASSERT_TRUE(waitUntil([&] { return helper_->isMounted(); }));
    }
    json siteTemplate(const std::string& path) const {
        const json state = sim_->state();
        for (const json& t : state["templates"])
            if (t["path"] == path)
                return t;
        return {};
    }
    // Someone else changes the site through the add-on itself (not through this volume).
    void changeOnTheSite(const std::string& action, const std::string& form) {
        httplib::Client addon("127.0.0.1", sim_->port());
        const QByteArray query =
            sim_->baseUrl().mid(sim_->baseUrl().indexOf(u'/', 8)).toUtf8() + "&m=" + action.c_str();
        const auto answer = addon.Post(query.toStdString(), form, "application/x-www-form-urlencoded");
        ASSERT_TRUE(answer);
        ASSERT_NE(answer->body.find("\"success\":true"), std::string::npos) << answer->body;
    }
    static QByteArray readVolumeFile(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    static QString vim() {
        const QString full = QStandardPaths::findExecutable(QStringLiteral("vim"));
        return full.isEmpty() ? QStringLiteral("vim.tiny") : full;
    }

    TestSession session_;
    std::unique_ptr<AddonSim> sim_;
    std::unique_ptr<BusRecorder> bus_;
    std::unique_ptr<HelperRunner> helper_;
    HelperRunner::Options options_;
};

} // namespace

TEST_P(FileSync, ShellToolsLeaveTheSiteEqualToTheVolume) {
    start(GetParam());
    const QString g = group().mid(1), o = otherGroup().mid(1);
    const QString file = ee() ? QStringLiteral("index.html") : QStringLiteral("index.php");
    sh(QStringLiteral("echo 'redirected' > %1/%2").arg(g, file));
    expectSiteMatchesVolume();
    EXPECT_EQ(requests("update_template_data"), 1) << "one upload per save";

    sh(QStringLiteral("sed -i 's/redirected/edited by sed/' %1/%2").arg(g, file));
    sh(QStringLiteral("printf 'new\\n' > /tmp/folvane-new-$$ && cp /tmp/folvane-new-$$ %1/copied.html && rm "
                      "/tmp/folvane-new-$$")
           .arg(g));
    sh(QStringLiteral("mv %1/copied.html %1/renamed.html").arg(g));
    expectSiteMatchesVolume();
    EXPECT_EQ(requests("create_template"), 1) << "sed's temporary file must create nothing";

    sh(QStringLiteral("mv %1/renamed.html %2/moved.html && echo more >> %2/moved.html").arg(g, o));
    sh(QStringLiteral("rm %1/%2").arg(o, QStringLiteral("moved.html")));
    sh(QStringLiteral(
           "mkdir -p /tmp/folvane-src-$$ && echo a > /tmp/folvane-src-$$/r1.html && echo b > "
           "/tmp/folvane-src-$$/r2.html && rsync -a /tmp/folvane-src-$$/ %1/ && rm -r /tmp/folvane-src-$$")
           .arg(g));
    expectSiteMatchesVolume();
}

TEST_P(FileSync, EditorSavesKeepTheSiteEqualToTheVolume) {
    start(GetParam());
    const QString g = group().mid(1);
    const QString file = g + (ee() ? QStringLiteral("/index.html") : QStringLiteral("/index.php"));
    for (const char* mode : {"auto", "yes"})
        sh(QStringLiteral("%1 -es -u NONE -i NONE -c 'set backupcopy=%2' -c 'normal Gostill %2' -c 'wq' %3")
               .arg(vim(), QLatin1String(mode), file));
    // GIO's replace: write a hidden temporary file, then rename it over the original.
    sh(QStringLiteral("echo 'saved by gio' | gio save %1").arg(file));
    // JetBrains' safe write: temp file, original renamed away, temp renamed into place, old one deleted.
    sh(QStringLiteral("f=%1; printf 'jetbrains' > \"$f.___jb_tmp___\" && mv \"$f\" \"$f.___jb_old___\" && "
                      "mv \"$f.___jb_tmp___\" \"$f\" && rm \"$f.___jb_old___\"")
           .arg(file));
    // VS Code: truncate and write in place; emacs: a lock link next to the file while editing.
    sh(QStringLiteral("f=%1; ln -s 'user@host.1:1' \"$(dirname $f)/.#$(basename $f)\" && : > \"$f\" && "
                      "printf 'vscode' >> \"$f\" && rm \"$(dirname $f)/.#$(basename $f)\"")
           .arg(file));
    expectSiteMatchesVolume();
    EXPECT_EQ(siteContent(("/" + file).toStdString()), "vscode");
}

// vim's default save (the original renamed to "file~", a new file written, the backup removed), JetBrains'
// safe write and git checkout all replace the file; on the site each must stay a save of the same template
// (on ExpressionEngine its settings and history live with its id), with no stray backup left there.
TEST_P(FileSync, EditorsThatReplaceTheFileKeepItsTemplate) {
    start(GetParam());
    const QString g = group().mid(1);
    const QString file = g + (ee() ? QStringLiteral("/index.html") : QStringLiteral("/index.php"));
    const std::string path = ("/" + file).toStdString();
    const json before = siteTemplate(path);
    ASSERT_FALSE(before.is_null());
    const auto expectSameTemplate = [&](const char* editor, const std::string& content) {
        expectSiteMatchesVolume();
        EXPECT_EQ(siteContent(path), content) << editor;
        EXPECT_EQ(siteTemplate(path)["id"], before["id"]) << editor;
        for (const auto& [other, text] : siteContents(*sim_))
            EXPECT_TRUE(other.find("~") == std::string::npos && other.find("___jb_") == std::string::npos)
                << editor << " left " << other;
    };
    sh(QStringLiteral("%1 -es -u NONE -i NONE -c 'set nocompatible backupcopy=auto' -c '%%d' -c 'normal "
                      "ivim' -c 'wq' %2")
           .arg(vim(), file));
    expectSameTemplate("vim", "vim\n");
    sh(QStringLiteral("f=%1; printf 'jetbrains' > \"$f.___jb_tmp___\" && mv \"$f\" \"$f.___jb_old___\" && "
                      "mv \"$f.___jb_tmp___\" \"$f\" && rm \"$f.___jb_old___\"")
           .arg(file));
    expectSameTemplate("JetBrains", "jetbrains");
    sh(QStringLiteral(
           "cd %1 && git init -q && git add %2 && git -c user.name=t -c user.email=t@t commit -qm t && "
           "echo changed > %2 && git checkout -q -- %2")
           .arg(g, QFileInfo(file).fileName()));
    expectSameTemplate("git checkout", "jetbrains");
}

// Emptying or shortening a template is a save like any other.
TEST_P(FileSync, TruncationsAreSaves) {
    start(GetParam());
    const QString g = group().mid(1), o = otherGroup().mid(1);
    sh(QStringLiteral("echo 'a longer text' > %1/short.html && echo 'to be emptied' > %2/empty.html")
           .arg(g, o));
    expectSiteMatchesVolume();
    sh(QStringLiteral(": > %1/empty.html && truncate -s 6 %2/short.html").arg(o, g));
    expectSiteMatchesVolume();
    EXPECT_EQ(siteContent(("/" + o + "/empty.html").toStdString()), "");
    EXPECT_EQ(siteContent(("/" + g + "/short.html").toStdString()), "a long");
}

TEST_F(FileSync, HiddenAndTopLevelFilesAreNeverSentAndWritesDuringACreateWait) {
    start("ee");
    sh(QStringLiteral("echo x > news/.hidden && echo y > top.html && printf one > news/slow.html && "
                      "printf ' two' >> news/slow.html"));
    // An editor's save (a temporary file renamed over it) while the new file's create still waits.
    sh(QStringLiteral("echo first > news/fresh.html && sed -i 's/first/second/' news/fresh.html"));
    expectSiteMatchesVolume();
    EXPECT_EQ(siteContent("/news/slow.html"), "one two");
    EXPECT_EQ(siteContent("/news/fresh.html"), "second\n");
    EXPECT_EQ(requests("create_template"), 2);
}

TEST_F(FileSync, QuickSavesWithSlowAnswersEndWithTheLastContent) {
    start("ee");
    sim_->fault({{"action", "update_template_data"},
                 {"kind", "random_delay"},
                 {"min_ms", 0},
                 {"max_ms", 300},
                 {"seed", 11}});
    for (int i = 1; i <= 20; ++i)
        sh(QStringLiteral("echo 'save %1' > news/index.html").arg(i));
    expectSiteMatchesVolume();
    EXPECT_EQ(siteContent("/news/index.html"), "save 20\n");
    // The application hears how many uploads are still on their way, down to none.
    ASSERT_TRUE(waitUntil([&] {
        const auto counts = bus_->signalsNamed("pending-uploads-Sync Site");
        return !counts.empty() && counts.back().value("count").toInt() == 0;
    }));
    EXPECT_GT(bus_->count("pending-uploads-Sync Site"), 1);
}

TEST_F(FileSync, BlockWritesUploadOnce) {
    start("ee");
    sh(QStringLiteral(
        "head -c 1048576 /dev/urandom | base64 -w 100 | head -c 1048576 > /tmp/folvane-big-$$ && "
        "dd if=/tmp/folvane-big-$$ of=news/index.html bs=4k status=none && rm /tmp/folvane-big-$$"));
    expectSiteMatchesVolume();
    EXPECT_EQ(requests("update_template_data"), 1);
}

TEST_F(FileSync, FailedUploadsAreRetriedOrKeptAndNothingElseIsKept) {
    start("ee");
    sim_->fault({{"action", "update_template_data"}, {"kind", "drop"}, {"times", 2}});
    sh(QStringLiteral("echo 'after a dropped connection' > news/index.html"));
    expectSiteMatchesVolume();

    sim_->fault({{"action", "update_template_data"}, {"kind", "refuse"}, {"message", "Template is locked."}});
    sh(QStringLiteral("echo 'refused' > news/article.html"));
    ASSERT_TRUE(session_.waitForNotification("Update Error"));
    helper_->terminate();
    ASSERT_TRUE(helper_->waitForExit());
    const auto kept = session_.waitForNotification("Unsaved changes kept");
    ASSERT_TRUE(kept);
    EXPECT_TRUE(kept->actions.isEmpty()) << "the desktop shows no buttons";
    QDirIterator it(session_.baseFolder() + "/Recovered/Sync Site", QDir::Files,
                    QDirIterator::Subdirectories);
    QStringList recovered;
    while (it.hasNext())
        recovered << it.next();
    ASSERT_EQ(recovered.size(), 1) << kept->body.toStdString();
    EXPECT_TRUE(recovered[0].endsWith("/news/article.html"));
    QFile copy(recovered[0]);
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), "refused\n");
}

// A new file, a template move and a folder rename each lose their answer three times in a row (twice
// before the site made the change, then once after it) and still reach the site exactly once: what the
// site made is learnt from its list, never made again.
TEST_F(FileSync, ChangesSurviveThreeLostAnswersInARowAndReachTheSiteOnce) {
    start("ee");
    struct Change {
        const char* action;
        const char* command;
    };
    for (const Change& change : {Change{"create_template", "echo fresh > news/fresh.html"},
                                 Change{"move_template", "mv news/article.html site/article.html"},
                                 Change{"rename_template_group", "mv site journal"}}) {
        SCOPED_TRACE(change.action);
        sim_->clearLog();
        sim_->fault({{"action", change.action}, {"kind", "drop"}, {"times", 2}});
        sim_->fault({{"action", change.action}, {"kind", "lose_answer"}, {"times", 1}});
        sh(QString::fromLatin1(change.command));
        expectSiteMatchesVolume();
        EXPECT_TRUE(waitUntil([&] { return requests(change.action) == 3; })) << requests(change.action);
        sim_->clearFaults();
    }
    EXPECT_EQ(sim_->state()["templates"].size(), siteContents(*sim_).size()) << "no template twice";
    EXPECT_EQ(QDir(volume()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(),
              static_cast<int>(sim_->state()["groups"].size()))
        << "no group twice";
}

// A repository made with the real git inside a group folder stays on this computer: no group, no template
// of its folders and files reaches the site.
TEST_F(FileSync, AGitRepositoryInsideAGroupFolderPublishesNothing) {
    start("ee");
    const json groupsBefore = sim_->state()["groups"];
    sh(QStringLiteral("cd news && git init -q && git add -A && "
                      "git -c user.name=Tester -c user.email=tester@example.invalid commit -qm first && "
                      "echo after >> index.html"));
    expectSiteMatchesVolume();
    // Whatever the helper would send is out within the quiet period and the identity grace.
    QThread::msleep(3000);
    QCoreApplication::processEvents();
    EXPECT_EQ(requests("create_template_group"), 0);
    EXPECT_EQ(requests("create_template"), 0);
    EXPECT_EQ(sim_->state()["groups"], groupsBefore);
}

TEST_F(FileSync, AnEditKeptAfterACrashOffersItsFolder) {
    start("ee");
    sim_->fault({{"action", "update_template_data"}, {"kind", "refuse"}, {"message", "Template is locked."}});
    sh(QStringLiteral("echo 'mine' > news/article.html"));
    ASSERT_TRUE(session_.waitForNotification("Update Error"));
    helper_->kill();
    ASSERT_TRUE(helper_->waitForExit());

    // On a desktop that shows buttons on notifications.
    session_.notificationService().showActions(true);
    const FakeOpener opener(session_.home());
    options_.extraEnv = {{"PATH", opener.searchPath()}};
    helper_ = std::make_unique<HelperRunner>(session_, options_);
    ASSERT_TRUE(bus_->waitFor("finishedconnecting-Sync Site", defaultTimeoutMs, 2))
        << helper_->logText().toStdString();
    const auto kept = session_.waitForNotification("Unsaved changes kept");
    ASSERT_TRUE(kept) << helper_->logText().toStdString();
    EXPECT_EQ(kept->body.left(kept->body.indexOf(" kept in ")),
              "1 file of \"Sync Site\" that the site did not confirm was");
    // The helper runs on, so it offers the folder and opens it when asked.
    ASSERT_EQ(kept->actions, (QStringList{"show-files", "Show files"}));
    session_.notificationService().invokeAction(kept->id, "show-files");
    ASSERT_TRUE(waitUntil([&] { return !opener.opened().isEmpty(); })) << helper_->logText().toStdString();
    EXPECT_EQ(opener.opened(), QStringList{kept->body.mid(kept->body.indexOf(" kept in ") + 9)});
    QDirIterator it(session_.baseFolder() + "/Recovered/Sync Site", QDir::Files | QDir::Hidden,
                    QDirIterator::Subdirectories);
    QStringList recovered;
    while (it.hasNext())
        recovered << it.next();
    ASSERT_EQ(recovered.size(), 1) << recovered.join(u' ').toStdString();
    EXPECT_TRUE(recovered[0].endsWith("/news/article.html"));
    QFile copy(recovered[0]);
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), "mine\n");
    EXPECT_EQ(QDir(session_.baseFolder() + "/.cache").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 1)
        << "the left-over mirror is gone once its edits are kept";
}

TEST_F(FileSync, NothingIsKeptWhenEverythingWasConfirmed) {
    start("ee");
    sh(QStringLiteral("echo 'fine' > news/index.html"));
    expectSiteMatchesVolume();
    helper_->terminate();
    ASSERT_TRUE(helper_->waitForExit());
    EXPECT_FALSE(QDir(session_.baseFolder() + "/Recovered").exists());
    EXPECT_FALSE(session_.waitForNotification("Unsaved changes kept", 500));
}

// Seeded random edits across two groups, several in one shell command so they follow each other
// closely; after each run the site must equal the volume. FOLVANE_RANDOM_RUNS and FOLVANE_RANDOM_SEED change
// the runs.
TEST_P(FileSync, RandomSequencesAcrossTwoGroupsConverge) {
    start(GetParam());
    const QStringList groups{group().mid(1), otherGroup().mid(1)};
    QStringList files;
    for (const json& t : sim_->state()["templates"].get<std::vector<json>>()) {
        const QString path = QString::fromStdString(t["path"].get<std::string>()).mid(1);
        if (groups.contains(folvane::parentOf(path)))
            files << path;
    }
    const RandomRuns random = RandomRuns::fromEnvironment(2, 20261206);
    int made = 0, answered = 0;
    for (int run = 0; run < random.runs; ++run) {
        std::mt19937 generator(random.seed + run);
        const auto pick = [&](const QStringList& list) {
            return list.at(static_cast<int>(generator() % list.size()));
        };
        QStringList batch;
        int refreshes = 0;
        for (int step = 0; step < 30; ++step) {
            switch (generator() % 7) {
            case 0: {
                const QString file = QStringLiteral("%1/made%2.html").arg(pick(groups)).arg(++made);
                batch << QStringLiteral("echo 'made %1' > %2").arg(made).arg(file);
                files << file;
                break;
            }
            case 1:
                batch << QStringLiteral("echo 'step %1' >> %2").arg(step).arg(pick(files));
                break;
            case 2: {
                const QString from = pick(files);
                const QString to = QStringLiteral("%1/moved%2-%3.html").arg(pick(groups)).arg(run).arg(step);
                batch << QStringLiteral("mv %1 %2").arg(from, to);
                files.removeOne(from);
                files << to;
                break;
            }
            case 3:
                if (files.size() > 2) {
                    const QString gone = pick(files);
                    batch << QStringLiteral("rm %1").arg(gone);
                    files.removeOne(gone);
                }
                break;
            case 4:
                batch << QStringLiteral("sed -i 's/$/ sed%1/' %2").arg(step).arg(pick(files));
                break;
            case 5:
                batch << (generator() % 2
                              ? QStringLiteral(": > %1").arg(pick(files))
                              : QStringLiteral("truncate -s %1 %2").arg(generator() % 8).arg(pick(files)));
                break;
            default:
                // The application asks for a refresh while the edits go on.
                bus_->post("refresh-Sync Site", {{"row", ++refreshes}});
            }
            if (generator() % 3 == 0) {
                sh(batch.join(QStringLiteral(" && ")));
                batch.clear();
            }
        }
        if (!batch.isEmpty())
            sh(batch.join(QStringLiteral(" && ")));
        EXPECT_TRUE(bus_->waitFor("refresh-done-Sync Site", defaultTimeoutMs, answered + refreshes));
        answered += refreshes;
        expectSiteMatchesVolume();
        EXPECT_TRUE(waitUntil([&] {
            const auto counts = bus_->signalsNamed("pending-uploads-Sync Site");
            return counts.empty() || counts.back().value("count").toInt() == 0;
        })) << "nothing unconfirmed is left";
        if (HasFailure())
            FAIL() << "run " << run << " (seed " << random.seed + run << ") left the site unlike the volume";
    }
}

// Before a save the helper looks at the site: a template nobody else changed is saved with no notice and no
// copy; one changed on the site meanwhile (by the CMS's own editor) keeps both texts, the site holding the
// user's and the recovery folder the site's, and the user is told; with the preference off nothing is
// fetched before a save.
TEST_P(FileSync, ASaveKeepsWhatSomeoneElseChangedOnTheSite) {
    start(GetParam());
    const QString extension = ee() ? QStringLiteral(".html") : QStringLiteral(".php");
    const QString file = group() + "/index" + extension;
    const std::string path = file.toStdString();
    const QString recovered = session_.baseFolder() + "/Recovered/Sync Site";
    const auto keptFiles = [&] {
        QDirIterator it(recovered, QDir::Files, QDirIterator::Subdirectories);
        QStringList kept;
        while (it.hasNext())
            kept << it.next();
        return kept;
    };

    sh(QStringLiteral("echo 'nobody else' > .") + file);
    expectSiteMatchesVolume();
    EXPECT_EQ(requests("get_template"), 1);
    EXPECT_FALSE(QDir(recovered).exists());

    sim_->edit(path, "theirs\n");
    sh(QStringLiteral("echo 'mine' > .") + file);
    expectSiteMatchesVolume();
    EXPECT_EQ(siteContent(path), "mine\n");
    const auto told = session_.waitForNotification("Changed on the site too");
    ASSERT_TRUE(told) << helper_->logText().toStdString();
    const QStringList kept = keptFiles();
    ASSERT_EQ(kept.size(), 1) << kept.join(u' ').toStdString();
    EXPECT_TRUE(kept[0].endsWith(group() + "/index.site-version" + extension)) << kept[0].toStdString();
    EXPECT_EQ(readVolumeFile(kept[0]), "theirs\n");
    EXPECT_TRUE(told->body.contains(file.mid(1)) && told->body.contains(kept[0])) << told->body.toStdString();
    const json notice = {
        {{"path", path}, {"state", "changed-on-site"}, {"message", ""}, {"copy", kept[0].toStdString()}}};
    EXPECT_TRUE(waitUntil([&] {
        const auto posted = bus_->signalsNamed(QStringLiteral("pending-files-Sync Site"));
        return !posted.empty() &&
               json::parse(posted.back().value(QStringLiteral("files")).toString().toStdString()) == notice;
    })) << "the pending list names the file and its copy";

    ASSERT_EQ(AppRunner::run(session_, {"prefs", "set", "check-site", "off"}).exitCode, 0);
    sim_->clearLog();
    sim_->edit(path, "theirs again\n");
    sh(QStringLiteral("echo 'mine again' > .") + file);
    expectSiteMatchesVolume();
    EXPECT_EQ(requests("get_template"), 0) << "nothing is fetched before a save";
    EXPECT_EQ(keptFiles(), kept) << "and nothing more is kept";
}

INSTANTIATE_TEST_SUITE_P(BothFlavours, FileSync, ::testing::Values("ee", "wp"));

TEST_F(FileSync, WithCachingOffTheFirstOpenShowsTheSitesNewContent) {
    startWithoutCaching();
    sim_->clearLog();
    // Someone changes the template on the site, through the add-on itself.
    const json about = siteTemplate("/site/about.html");
    ASSERT_FALSE(about.is_null());
    changeOnTheSite("update_template_data",
                    "template_group_id=" + about["group_id"].get<std::string>() +
                        "&template_id=" + about["id"].get<std::string>() + "&template_data=" +
                        QByteArray("changed on the site").toBase64().toPercentEncoding().toStdString());
    ASSERT_EQ(siteContent("/site/about.html"), "changed on the site");

    const QString file = volume("/site/about.html");
    // Read in small pieces: one open, many reads, one question to the site.
    QByteArray content;
    {
        QFile reader(file);
        ASSERT_TRUE(reader.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
        for (QByteArray piece; !(piece = reader.read(4)).isEmpty();)
            content += piece;
    }
    EXPECT_EQ(content, "changed on the site") << "the open waits for the site's version";
    EXPECT_EQ(requests("get_template"), 1);
    sim_->clearLog();
    // A template nobody changed reads as it is, and nothing goes back to the site.
    readVolumeFile(file);
    waitUntil([] { return false; }, 500);
    EXPECT_EQ(requests("update_template_data"), 0);
    EXPECT_EQ(requests("create_template"), 0);
}

TEST_F(FileSync, WithCachingOffARenameOnTheSiteRenamesTheFileAndItsNextSaveReachesIt) {
    startWithoutCaching();
    const json about = siteTemplate("/site/about.html");
    ASSERT_FALSE(about.is_null());
    changeOnTheSite("rename_template", "template_group_id=" + about["group_id"].get<std::string>() +
                                           "&template_id=" + about["id"].get<std::string>() +
                                           "&template_name=about-us.html");
    readVolumeFile(volume("/site/about.html"));
    EXPECT_TRUE(QFile::exists(volume("/site/about-us.html")));
    EXPECT_FALSE(QFile::exists(volume("/site/about.html")));
    sim_->clearLog();

    sh(QStringLiteral("echo 'saved under the new name' > site/about-us.html"));
    expectSiteMatchesVolume();
    EXPECT_EQ(siteContent("/site/about-us.html"), "saved under the new name\n");
    EXPECT_EQ(requests("create_template"), 0) << "the renamed file is still the same template";
}

TEST_F(FileSync, WithCachingOffAnOpenTheSiteDoesNotAnswerReadsTheLocalCopy) {
    startWithoutCaching();
    // Longer than an open waits for the site.
    sim_->fault({{"action", "get_template"}, {"kind", "delay"}, {"ms", 8000}, {"times", 1}});
    const QByteArray onTheSite = QByteArray::fromStdString(siteContent("/site/about.html"));
    EXPECT_EQ(readVolumeFile(volume("/site/about.html")), onTheSite);
    EXPECT_TRUE(waitUntil([&] { return helper_->logText().contains("opening the local copy"); }))
        << helper_->logText().right(2000).toStdString();
}

TEST_F(FileSync, WithCachingOffAnUnconfirmedEditIsKeptBeforeTheSitesVersionReplacesIt) {
    startWithoutCaching();
    sim_->fault({{"action", "update_template_data"}, {"kind", "refuse"}, {"message", "Template is locked."}});
    sh(QStringLiteral("echo 'my local edit' > site/about.html"));
    ASSERT_TRUE(session_.waitForNotification("Update Error"));
    sim_->clearFaults();
    const json about = siteTemplate("/site/about.html");
    changeOnTheSite("update_template_data",
                    "template_group_id=" + about["group_id"].get<std::string>() +
                        "&template_id=" + about["id"].get<std::string>() + "&template_data=" +
                        QByteArray("the site's version").toBase64().toPercentEncoding().toStdString());

    // While no copy can be made (a plain file where the recovery folder goes), neither the fetch on open
    // nor a refresh replaces the edit.
    const QString recovered = session_.baseFolder() + "/Recovered";
    QFile inTheWay(recovered);
    ASSERT_TRUE(inTheWay.open(QIODevice::WriteOnly));
    inTheWay.close();
    EXPECT_EQ(readVolumeFile(volume("/site/about.html")), "my local edit\n");
    bus_->post("refresh-Sync Site", {{"row", 0}});
    ASSERT_TRUE(bus_->waitFor("refresh-done-Sync Site", 60'000));
    EXPECT_TRUE(bus_->signalsNamed("refresh-done-Sync Site")
                    .front()
                    .value("notRefreshed")
                    .toString()
                    .contains("could not be copied"))
        << helper_->logText().toStdString();
    EXPECT_EQ(readVolumeFile(volume("/site/about.html")), "my local edit\n");

    ASSERT_TRUE(QFile::remove(recovered));
    EXPECT_EQ(readVolumeFile(volume("/site/about.html")), "the site's version");
    QDirIterator it(recovered + "/Sync Site", QDir::Files, QDirIterator::Subdirectories);
    ASSERT_TRUE(it.hasNext()) << helper_->logText().toStdString();
    const QString kept = it.next();
    EXPECT_TRUE(kept.endsWith("/site/about.html")) << kept.toStdString();
    EXPECT_EQ(readVolumeFile(kept), "my local edit\n");
    EXPECT_TRUE(session_.waitForNotification("Unsaved changes kept"));
}
