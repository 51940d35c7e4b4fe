// Copies of edits the site never confirmed: every copy is made or reported as not made, two keeps never
// share a folder, and a left-over mirror yields everything the site does not hold.
#include "DesktopNotifier.h"
#include "sync/Recovery.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <map>
#include <sys/stat.h>
#include <unistd.h>

using namespace folvane;

namespace {

using Files = std::map<QString, QByteArray>; // path below a folder -> content

void write(const QString& root, const Files& files) {
    for (const auto& [path, content] : files) {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(root + path).path()));
        QFile file(root + path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
}

Files read(const QString& root) {
    Files files;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        files[file.fileName().mid(root.size())] = file.readAll();
    }
    return files;
}

class RecoveryTest : public ::testing::Test {
protected:
    QString base() const { return tmp_.path(); }
    QString mirror() const { return tmp_.path() + QStringLiteral("/.cache/mirror"); }
    QString recovered() const { return tmp_.path() + QStringLiteral("/Recovered/Site"); }
    QStringList inMirror(const QStringList& paths) const {
        QStringList full;
        for (const QString& path : paths)
            full << mirror() + path;
        return full;
    }

    QTemporaryDir tmp_;
    DesktopNotifier notifier_{QDBusConnection(QStringLiteral("not-connected"))};
    Recovery recovery_{base(), QStringLiteral("Site"), mirror(), notifier_};
    const QDateTime when_ = QDateTime(QDate(2026, 5, 4), QTime(3, 2, 1), Qt::UTC);
};

} // namespace

TEST_F(RecoveryTest, KeepsInTheSameSecondNeverShareAFolder) {
    write(mirror(), {{"/news/index.html", "first"}});
    const Recovery::Kept first = recovery_.keep(inMirror({"/news/index.html"}), when_);
    write(mirror(), {{"/news/index.html", "second"}});
    const Recovery::Kept second = recovery_.keep(inMirror({"/news/index.html"}), when_);
    ASSERT_TRUE(first.safe() && second.safe());
    EXPECT_EQ(first.folder, recovered() + "/2026-05-04T03-02-01Z");
    EXPECT_EQ(second.folder, recovered() + "/2026-05-04T03-02-01Z (2)");
    EXPECT_EQ(read(recovered()), (Files{{"/2026-05-04T03-02-01Z/news/index.html", "first"},
                                        {"/2026-05-04T03-02-01Z (2)/news/index.html", "second"}}));
}

TEST_F(RecoveryTest, ACopyThatCannotBeMadeIsReportedAndLinksNeedNone) {
    write(mirror(), {{"/news/index.html", "edit"}});
    ASSERT_TRUE(QFile::link(mirror() + "/news/index.html", mirror() + "/news/link.html"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(mirror() + "/news/pipe").constData(), 0600), 0);
    EXPECT_EQ(recovery_.keep(inMirror({"/news/link.html", "/news/pipe"}), when_).folder, QString())
        << "nothing to copy, no folder";
    EXPECT_FALSE(QFileInfo::exists(recovered()));

    // Where the recovery folder should be, a file: no copy can be made.
    write(base(), {{"/Recovered", "in the way"}});
    const Recovery::Kept kept = recovery_.keep(inMirror({"/news/index.html", "/news/link.html"}), when_);
    EXPECT_FALSE(kept.safe());
    EXPECT_EQ(kept.failed, inMirror({"/news/index.html"}));
}

TEST_F(RecoveryTest, TheFoldersItMakesArePrivateAndTheBaseFolderKeepsItsMode) {
    ASSERT_EQ(::chmod(QFile::encodeName(base()).constData(), 0755), 0);
    write(mirror(), {{"/news/index.html", "edit"}});
    ASSERT_TRUE(recovery_.keep(inMirror({"/news/index.html"}), when_).safe());
    const auto mode = [](const QString& path) {
        struct stat info {};
        return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 0777 : 0u;
    };
    EXPECT_EQ(mode(base()), 0755u);
    EXPECT_EQ(mode(base() + "/Recovered"), 0700u);
    EXPECT_EQ(mode(recovered()), 0700u);
    EXPECT_EQ(mode(recovered() + "/2026-05-04T03-02-01Z"), 0700u);
}

TEST_F(RecoveryTest, ALeftOverMirrorYieldsWhatTheSiteDoesNotHoldHiddenAndTopLevelFilesIncluded) {
    const QString earlier = base() + "/.cache/earlier", fresh = base() + "/.cache/fresh";
    write(earlier, {{"/news/index.html", "as on the site"},
                    {"/news/article.html", "edited"},
                    {"/news/new.html", "made here"},
                    {"/news/.env", "SECRET=1"},
                    {"/news/.git/HEAD", "ref: refs/heads/main"},
                    {"/notes.txt", "top level"},
                    {"/.hidden-top", "hidden at the top"}});
    write(fresh, {{"/news/index.html", "as on the site"}, {"/news/article.html", "the site's"}});
    ASSERT_TRUE(QFile::link(earlier + "/news/index.html", earlier + "/news/link.html"));
    EXPECT_EQ(
        Recovery::lostEdits(earlier, fresh),
        (QStringList{earlier + "/.hidden-top", earlier + "/news/.env", earlier + "/news/.git/HEAD",
                     earlier + "/news/article.html", earlier + "/news/new.html", earlier + "/notes.txt"}));
}
