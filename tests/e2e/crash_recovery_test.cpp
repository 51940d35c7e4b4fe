// What the site never got outlives every end of the helper: a clean eject and a crash keep the same files,
// and an edit no copy could be made of is neither overwritten nor removed.
#include "testkit/ConnectedSite.h"
#include "testkit/FakeOpener.h"
#include "testkit/Wait.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace folvane::testkit;

namespace {

class CrashRecovery : public ConnectedSite {
protected:
    void SetUp() override { connect(); }
    QString cache() const { return session_.baseFolder() + "/.cache"; }
    // A save the site confirms, one it refuses, and two files that never go to the site.
    void editWhatTheSiteWillNotHave() {
        sim_->fault({{"action", "update_template_data"}, {"kind", "drop"}, {"times", 2}});
        sh(QStringLiteral("echo 'after a dropped connection' > news/index.html"));
        expectSiteMatchesVolume();
        sim_->fault(
            {{"action", "update_template_data"}, {"kind", "refuse"}, {"message", "Template is locked."}});
        sh(QStringLiteral("echo mine > news/article.html && echo 'my notes' > notes.txt && "
                          "echo SECRET=1 > news/.env"));
        ASSERT_TRUE(session_.waitForNotification("Update Error"));
    }
    QStringList cacheEntries() const {
        return QDir(cache()).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    }
};

const Contents whatOnlyLivedHere{
    {"/news/article.html", "mine\n"}, {"/news/.env", "SECRET=1\n"}, {"/notes.txt", "my notes\n"}};

} // namespace

TEST_F(CrashRecovery, ACleanEjectKeepsWhatTheSiteNeverGot) {
    editWhatTheSiteWillNotHave();
    helper_->terminate();
    ASSERT_TRUE(helper_->waitForExit());
    const auto told = session_.waitForNotification("Unsaved changes kept");
    ASSERT_TRUE(told);
    EXPECT_TRUE(told->actions.isEmpty()) << "the desktop shows no buttons";
    EXPECT_EQ(kept(), whatOnlyLivedHere);
    EXPECT_TRUE(cacheEntries().isEmpty());
}

TEST_F(CrashRecovery, ACrashKeepsWhatACleanEjectKeepsAndOffersItsFolder) {
    editWhatTheSiteWillNotHave();
    helper_->kill();
    ASSERT_TRUE(helper_->waitForExit());

    // On a desktop that shows buttons on notifications.
    session_.notificationService().showActions(true);
    const FakeOpener opener(session_.home());
    options_.extraEnv = {{"PATH", opener.searchPath()}};
    reconnect();
    const auto told = session_.waitForNotification("Unsaved changes kept");
    ASSERT_TRUE(told) << helper_->logText().toStdString();
    EXPECT_EQ(told->body.left(told->body.indexOf(" kept in ")),
              "3 files of \"Test Site\" that the site did not confirm were");
    // The helper runs on, so it offers the folder and opens it when asked.
    ASSERT_EQ(told->actions, (QStringList{"show-files", "Show files"}));
    session_.notificationService().invokeAction(told->id, "show-files");
    ASSERT_TRUE(waitUntil([&] { return !opener.opened().isEmpty(); })) << helper_->logText().toStdString();
    EXPECT_EQ(opener.opened(), QStringList{told->body.mid(told->body.indexOf(" kept in ") + 9)});
    EXPECT_EQ(kept(), whatOnlyLivedHere);
    EXPECT_EQ(cacheEntries().size(), 1) << "the left-over mirror is gone once its files are kept";
}

TEST_F(CrashRecovery, AnEndThatCannotCopyAnEditLeavesTheMirrorForTheNextStart) {
    editWhatTheSiteWillNotHave();
    // A plain file where the recovery folder goes: no copy can be made there.
    const QString inTheWay = session_.baseFolder() + "/Recovered";
    ASSERT_TRUE(QFile(inTheWay).open(QIODevice::WriteOnly));
    helper_->terminate();
    ASSERT_TRUE(helper_->waitForExit());
    EXPECT_EQ(helper_->exitCode(), 0);
    EXPECT_FALSE(helper_->isMounted());
    ASSERT_EQ(cacheEntries().size(), 1) << helper_->logText().toStdString();
    EXPECT_EQ(readFile(cache() + "/" + cacheEntries().first() + "/news/article.html"), "mine\n");
    EXPECT_TRUE(session_.waitForNotification("Unsaved changes not copied"));

    ASSERT_TRUE(QFile::remove(inTheWay));
    sim_->clearFaults();
    reconnect();
    ASSERT_TRUE(session_.waitForNotification("Unsaved changes kept")) << helper_->logText().toStdString();
    EXPECT_EQ(kept(), whatOnlyLivedHere);
    EXPECT_EQ(cacheEntries().size(), 1);
}
