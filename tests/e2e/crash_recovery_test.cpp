// What the site never got outlives every end of the helper: a clean eject and a crash keep the same files,
// and an edit no copy could be made of is neither overwritten nor removed.
#include "testkit/AddonSim.h"
#include "testkit/BusRecorder.h"
#include "testkit/HelperRunner.h"
#include "testkit/SiteCompare.h"
#include "testkit/TestSession.h"
#include "testkit/Wait.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

using namespace folvane::testkit;
using nlohmann::json;

namespace {

const QString title = QStringLiteral("Kept Site");
const QString connected = QStringLiteral("finishedconnecting-") + title;

class CrashRecovery : public ::testing::Test {
protected:
    void start() {
        options_.url = sim_.baseUrl();
        options_.title = title;
        helper_ = std::make_unique<HelperRunner>(session_, options_);
        ASSERT_TRUE(bus_.waitFor(connected, defaultTimeoutMs, ++starts_)) << helper_->logText().toStdString();
    }
    QString recovered() const { return session_.baseFolder() + "/Recovered/" + title; }
    QString cache() const { return session_.baseFolder() + "/.cache"; }
    void sh(const QString& command) {
        QProcess shell;
        shell.setWorkingDirectory(helper_->mountPoint());
        shell.start(QStringLiteral("/bin/bash"), {QStringLiteral("-c"), command});
        ASSERT_TRUE(shell.waitForFinished(60000));
        ASSERT_EQ(shell.exitCode(), 0) << command.toStdString() << "\n"
                                       << shell.readAllStandardError().toStdString();
    }
    // A refused save of the site's template, and two files that never go to the site.
    void editWhatTheSiteWillNotHave() {
        sim_.fault(
            {{"action", "update_template_data"}, {"kind", "refuse"}, {"message", "Template is locked."}});
        sh(QStringLiteral("echo mine > news/article.html && echo 'my notes' > notes.txt && "
                          "echo SECRET=1 > news/.env"));
        ASSERT_TRUE(session_.waitForNotification("Update Error"));
    }
    // Every kept file by its volume path (whichever time folder holds it) -> content.
    Contents kept() const {
        Contents files;
        QDirIterator it(recovered(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile file(it.next());
            EXPECT_TRUE(file.open(QIODevice::ReadOnly));
            const QString below = file.fileName().mid(recovered().size() + 1);
            files[below.mid(below.indexOf(u'/')).toStdString()] = file.readAll().toStdString();
        }
        return files;
    }
    // A plain file where the recovery folder goes: no copy can be made there.
    void blockRecovery() {
        QFile inTheWay(session_.baseFolder() + "/Recovered");
        ASSERT_TRUE(inTheWay.open(QIODevice::WriteOnly));
    }
    void unblockRecovery() { ASSERT_TRUE(QFile::remove(session_.baseFolder() + "/Recovered")); }
    QStringList cacheEntries() const {
        return QDir(cache()).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    }
    static QByteArray read(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    TestSession session_;
    AddonSim sim_;
    BusRecorder bus_{session_.bus()};
    HelperRunner::Options options_;
    std::unique_ptr<HelperRunner> helper_;
    int starts_ = 0;
};

const Contents whatOnlyLivedHere{
    {"/news/article.html", "mine\n"}, {"/news/.env", "SECRET=1\n"}, {"/notes.txt", "my notes\n"}};

} // namespace

TEST_F(CrashRecovery, ACleanEjectKeepsWhatTheSiteNeverGot) {
    start();
    editWhatTheSiteWillNotHave();
    helper_->terminate();
    ASSERT_TRUE(helper_->waitForExit());
    EXPECT_EQ(kept(), whatOnlyLivedHere);
    EXPECT_TRUE(cacheEntries().isEmpty());
}

TEST_F(CrashRecovery, ACrashKeepsWhatACleanEjectKeeps) {
    start();
    editWhatTheSiteWillNotHave();
    helper_->kill();
    ASSERT_TRUE(helper_->waitForExit());
    start();
    ASSERT_TRUE(session_.waitForNotification("Unsaved changes kept")) << helper_->logText().toStdString();
    EXPECT_EQ(kept(), whatOnlyLivedHere);
    EXPECT_EQ(cacheEntries().size(), 1) << "the left-over mirror is gone once its files are kept";
}

TEST_F(CrashRecovery, AnEndThatCannotCopyAnEditLeavesTheMirrorForTheNextStart) {
    start();
    editWhatTheSiteWillNotHave();
    blockRecovery();
    helper_->terminate();
    ASSERT_TRUE(helper_->waitForExit());
    EXPECT_EQ(helper_->exitCode(), 0);
    EXPECT_FALSE(helper_->isMounted());
    ASSERT_EQ(cacheEntries().size(), 1) << helper_->logText().toStdString();
    EXPECT_EQ(read(cache() + "/" + cacheEntries().first() + "/news/article.html"), "mine\n");
    EXPECT_TRUE(session_.waitForNotification("Unsaved changes not copied"));

    unblockRecovery();
    sim_.clearFaults();
    start();
    ASSERT_TRUE(session_.waitForNotification("Unsaved changes kept")) << helper_->logText().toStdString();
    EXPECT_EQ(kept(), whatOnlyLivedHere);
    EXPECT_EQ(cacheEntries().size(), 1);
}
