// Edits on the volume, made by real tools and editors, end with the site holding what the volume shows.
#include "testkit/AppRunner.h"
#include "testkit/ConnectedSite.h"
#include "testkit/Wait.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <gtest/gtest.h>
#include <httplib.h>

using namespace folvane::testkit;
using nlohmann::json;

namespace {

class FileSync : public ConnectedSite, public ::testing::WithParamInterface<const char*> {
protected:
    // Two group folders of the demo site in either flavour, and a template in the first.
    QString group() const { return ee() ? QStringLiteral("/news") : QStringLiteral("/theme"); }
    QString otherGroup() const {
        return ee() ? QStringLiteral("/site") : QStringLiteral("/theme/template-parts");
    }
    QString index() const { return group().mid(1) + (ee() ? "/index.html" : "/index.php"); }
    // Someone else renames a template through the add-on itself (not through this volume).
    void renameOnTheSite(const json& item, const std::string& name) {
        httplib::Client addon("127.0.0.1", sim_->port());
        const QByteArray query =
            sim_->baseUrl().mid(sim_->baseUrl().indexOf(u'/', 8)).toUtf8() + "&m=rename_template";
        const auto answer =
            addon.Post(query.toStdString(),
                       "template_group_id=" + item["group_id"].get<std::string>() +
                           "&template_id=" + item["id"].get<std::string>() + "&template_name=" + name,
                       "application/x-www-form-urlencoded");
        ASSERT_TRUE(answer);
        ASSERT_NE(answer->body.find("\"success\":true"), std::string::npos) << answer->body;
    }
    bool noUploadsPending() const {
        const auto counts = bus_->signalsNamed(signal("pending-uploads"));
        return counts.empty() || counts.back().value("count").toInt() == 0;
    }
    static QString vim() {
        const QString full = QStandardPaths::findExecutable(QStringLiteral("vim"));
        return full.isEmpty() ? QStringLiteral("vim.tiny") : full;
    }
};

} // namespace

TEST_P(FileSync, ShellToolsLeaveTheSiteEqualToTheVolume) {
    connect(GetParam());
    const QString g = group().mid(1), o = otherGroup().mid(1);
    sh(QStringLiteral("echo 'redirected' > %1").arg(index()));
    expectSiteMatchesVolume();
    EXPECT_EQ(requests("update_template_data"), 1) << "one upload per save";

    sh(QStringLiteral("sed -i 's/redirected/edited by sed/' %1").arg(index()));
    sh(QStringLiteral("printf 'new\\n' > /tmp/folvane-new-$$ && cp /tmp/folvane-new-$$ %1/copied.html && rm "
                      "/tmp/folvane-new-$$")
           .arg(g));
    sh(QStringLiteral("mv %1/copied.html %1/renamed.html").arg(g));
    expectSiteMatchesVolume();
    EXPECT_EQ(requests("create_template"), 1) << "sed's temporary file must create nothing";

    sh(QStringLiteral("mv %1/renamed.html %2/moved.html && echo more >> %2/moved.html").arg(g, o));
    sh(QStringLiteral("rm %1/moved.html").arg(o));
    sh(QStringLiteral(
           "mkdir -p /tmp/folvane-src-$$ && echo a > /tmp/folvane-src-$$/r1.html && echo b > "
           "/tmp/folvane-src-$$/r2.html && rsync -a /tmp/folvane-src-$$/ %1/ && rm -r /tmp/folvane-src-$$")
           .arg(g));
    // Emptying or shortening a template is a save like any other.
    sh(QStringLiteral(": > %1/r1.html && truncate -s 1 %2/r2.html").arg(g, g));
    expectSiteMatchesVolume();
    EXPECT_EQ(siteContent(("/" + g + "/r1.html").toStdString()), "");
    EXPECT_EQ(siteContent(("/" + g + "/r2.html").toStdString()), "b");
}

// Each editor's way of saving, in turn on one template: whether it writes in place or replaces the file, on
// the site it stays a save of the same template (on ExpressionEngine its settings and history live with its
// id), with no stray temporary or backup file left there.
TEST_P(FileSync, EditorSavesKeepTheTemplate) {
    connect(GetParam());
    const std::string path = ("/" + index()).toStdString();
    const json before = siteTemplate(path);
    ASSERT_FALSE(before.is_null());
    // Each command finds the template's path in $f and the vim to run in $vim.
    const struct {
        const char* editor;
        const char* command;
        const char* content;
    } saves[] = {
        {"vim, backups by copy",
         "$vim -es -u NONE -i NONE -c 'set backupcopy=yes' -c '%d' -c 'normal ivim' -c wq $f", "vim\n"},
        // The original renamed to "file~", a new file written, the backup removed.
        {"vim, backups by rename",
         "$vim -es -u NONE -i NONE -c 'set nocompatible backupcopy=auto' -c '%d' -c 'normal ivim2' -c wq $f",
         "vim2\n"},
        // GIO's replace: a hidden temporary file renamed over the original, here held open meanwhile.
        {"gio save", "exec 3< $f && echo 'saved by gio' | gio save $f", "saved by gio\n"},
        // Temp file, original renamed away, temp renamed into place, old one deleted.
        {"JetBrains",
         "printf 'jetbrains' > \"$f.___jb_tmp___\" && mv \"$f\" \"$f.___jb_old___\" && "
         "mv \"$f.___jb_tmp___\" \"$f\" && rm \"$f.___jb_old___\"",
         "jetbrains"},
        // VS Code truncates and writes in place; emacs keeps a lock link next to the file while editing.
        {"VS Code with an emacs lock",
         "ln -s 'user@host.1:1' \"$(dirname $f)/.#$(basename $f)\" && : > \"$f\" && "
         "printf 'vscode' >> \"$f\" && rm \"$(dirname $f)/.#$(basename $f)\"",
         "vscode"},
        {"git checkout",
         "cd $(dirname $f) && f=$(basename $f) && git init -q && git add $f && git -c user.name=t -c "
         "user.email=t@t commit -qm t && echo changed > $f && git checkout -q -- $f",
         "vscode"},
    };
    for (const auto& save : saves) {
        sh(QStringLiteral("f=%1; vim=%2; ").arg(index(), vim()) + QLatin1String(save.command));
        expectSiteMatchesVolume();
        EXPECT_EQ(siteContent(path), save.content) << save.editor;
        EXPECT_EQ(siteTemplate(path)["id"], before["id"]) << save.editor;
        for (const auto& [other, text] : siteContents(*sim_))
            EXPECT_TRUE(other.find('~') == std::string::npos && other.find("___jb_") == std::string::npos)
                << save.editor << " left " << other;
    }
}

// A repository made with the real git inside a group folder stays on this computer, as do hidden and
// top-level files: no group, no template of theirs reaches the site.
TEST_F(FileSync, HiddenTopLevelAndGitFilesAreNeverSentAndWritesDuringACreateWait) {
    connect("ee");
    sh(QStringLiteral("cd news && git init -q && git add -A && "
                      "git -c user.name=Tester -c user.email=tester@example.invalid commit -qm first && "
                      "echo after >> index.html"));
    sh(QStringLiteral("echo x > news/.hidden && echo y > top.html && printf one > news/slow.html && "
                      "printf ' two' >> news/slow.html"));
    // An editor's save (a temporary file renamed over it) while the new file's create still waits.
    sh(QStringLiteral("echo first > news/fresh.html && sed -i 's/first/second/' news/fresh.html"));
    expectSiteMatchesVolume();
    // Anything of git's would have gone before the last save.
    ASSERT_TRUE(waitUntil([&] { return noUploadsPending(); }));
    EXPECT_EQ(siteContent("/news/slow.html"), "one two");
    EXPECT_EQ(siteContent("/news/fresh.html"), "second\n");
    EXPECT_EQ(requests("create_template"), 2);
    EXPECT_EQ(requests("create_template_group"), 0);
}

TEST_F(FileSync, QuickSavesWithSlowAnswersEndWithTheLastContentAndBlockWritesUploadOnce) {
    connect("ee");
    sh(QStringLiteral(
        "head -c 1048576 /dev/urandom | base64 -w 100 | head -c 1048576 > /tmp/folvane-big-$$ && "
        "dd if=/tmp/folvane-big-$$ of=news/article.html bs=4k status=none && rm /tmp/folvane-big-$$"));
    expectSiteMatchesVolume();
    EXPECT_EQ(requests("update_template_data"), 1);

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
    ASSERT_TRUE(waitUntil([&] { return bus_->count(signal("pending-uploads")) > 1 && noUploadsPending(); }));
}

// A new file, a template move and a folder rename each lose their answer three times in a row (twice
// before the site made the change, then once after it) and still reach the site exactly once: what the
// site made is learnt from its list, never made again.
TEST_F(FileSync, ChangesSurviveThreeLostAnswersInARowAndReachTheSiteOnce) {
    connect("ee");
    const struct {
        const char* action;
        const char* command;
    } changes[] = {{"create_template", "echo fresh > news/fresh.html"},
                   {"move_template", "mv news/article.html site/article.html"},
                   {"rename_template_group", "mv site journal"}};
    for (const auto& change : changes) {
        SCOPED_TRACE(change.action);
        sim_->clearLog();
        sim_->fault({{"action", change.action}, {"kind", "drop"}, {"times", 2}});
        sim_->fault({{"action", change.action}, {"kind", "lose_answer"}, {"times", 1}});
        sh(QString::fromLatin1(change.command));
        expectSiteMatchesVolume();
        EXPECT_TRUE(waitUntil([&] { return requests(change.action) == 3; })) << requests(change.action);
        sim_->clearFaults();
    }
    const json state = sim_->state();
    EXPECT_EQ(state["templates"].size() + state["groups"].size(), siteContents(*sim_).size())
        << "no template or group twice";
}

// Before a save the helper looks at the site: a template nobody else changed is saved with no notice and no
// copy; one changed on the site meanwhile (by the CMS's own editor) keeps both texts, the site holding the
// user's and the recovery folder the site's, and the user is told; with the preference off nothing is
// fetched before a save.
TEST_P(FileSync, ASaveKeepsWhatSomeoneElseChangedOnTheSite) {
    connect(GetParam());
    const QString extension = ee() ? QStringLiteral(".html") : QStringLiteral(".php");
    const QString file = group() + "/index" + extension;
    const std::string path = file.toStdString();

    // Fetches are counted once the save arrived: with caching off each read of the volume fetches too.
    const auto fetchesBeforeSave = [&] {
        EXPECT_TRUE(waitUntil([&] { return requests("update_template_data") > 0; }));
        return requests("get_template");
    };
    sh(QStringLiteral("echo 'nobody else' > .") + file);
    EXPECT_EQ(fetchesBeforeSave(), 1);
    expectSiteMatchesVolume();
    EXPECT_FALSE(QDir(recovered()).exists());

    sim_->edit(path, "theirs\n");
    sh(QStringLiteral("echo 'mine' > .") + file);
    expectSiteMatchesVolume();
    EXPECT_EQ(siteContent(path), "mine\n");
    const auto told = session_.waitForNotification("Changed on the site too");
    ASSERT_TRUE(told) << helper_->logText().toStdString();
    const Contents copies = filesBelow(recovered());
    ASSERT_EQ(copies.size(), 1u);
    const QString copy = recovered() + QString::fromStdString(copies.begin()->first);
    EXPECT_TRUE(copy.endsWith(group() + "/index.site-version" + extension)) << copy.toStdString();
    EXPECT_EQ(copies.begin()->second, "theirs\n");
    EXPECT_TRUE(told->body.contains(file.mid(1)) && told->body.contains(copy)) << told->body.toStdString();

    ASSERT_EQ(AppRunner::run(session_, {"prefs", "set", "check-site", "off"}).exitCode, 0);
    sim_->clearLog();
    sim_->edit(path, "theirs again\n");
    sh(QStringLiteral("echo 'mine again' > .") + file);
    EXPECT_EQ(fetchesBeforeSave(), 0) << "nothing is fetched before a save";
    expectSiteMatchesVolume();
    EXPECT_EQ(filesBelow(recovered()), copies) << "and nothing more is kept";
}

INSTANTIATE_TEST_SUITE_P(BothFlavours, FileSync, ::testing::Values("ee", "wp"));

TEST_F(FileSync, WithCachingOffAnOpenShowsTheSitesVersionOnceAnUnconfirmedEditIsKept) {
    options_.caching = false;
    connect("ee", options_);
    sim_->edit("/site/about.html", "changed on the site");
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

    // A rename on the site renames the file at the next open, and its next save reaches the same template.
    renameOnTheSite(siteTemplate("/site/about.html"), "about-us.html");
    readFile(file);
    EXPECT_TRUE(QFile::exists(volume("/site/about-us.html")));
    EXPECT_FALSE(QFile::exists(file));
    sh(QStringLiteral("echo 'saved under the new name' > site/about-us.html"));
    expectSiteMatchesVolume();
    EXPECT_EQ(requests("create_template"), 0) << "the renamed file is still the same template";
    EXPECT_EQ(requests("update_template_data"), 1) << "reading a template sends nothing back";

    // An edit the site refused is kept before the site's version replaces it; while no copy can be made (a
    // plain file where the recovery folder goes), the fetch on open does not replace it. (A refresh leaves
    // an edit the site refused as it is: the engine's tests.)
    sim_->fault({{"action", "update_template_data"}, {"kind", "refuse"}, {"message", "Template is locked."}});
    sh(QStringLiteral("echo 'my local edit' > news/index.html"));
    ASSERT_TRUE(session_.waitForNotification("Update Error"));
    sim_->clearFaults();
    sim_->edit("/news/index.html", "the site's version");
    const QString inTheWay = session_.baseFolder() + "/Recovered";
    ASSERT_TRUE(QFile(inTheWay).open(QIODevice::WriteOnly));
    EXPECT_EQ(readFile(volume("/news/index.html")), "my local edit\n");

    ASSERT_TRUE(QFile::remove(inTheWay));
    EXPECT_EQ(readFile(volume("/news/index.html")), "the site's version");
    EXPECT_EQ(kept(), (Contents{{"/news/index.html", "my local edit\n"}}))
        << helper_->logText().toStdString();
    EXPECT_TRUE(session_.waitForNotification("Unsaved changes kept"));
}
