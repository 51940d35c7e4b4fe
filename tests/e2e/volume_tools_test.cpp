// The mounted volume driven by real tools: what they do reaches the mirror folder, and every change
// reaches the helper's handlers as its event, in order. The handlers write one log line per event
// ("<name> <payload as JSON>"), which is what these tests read.
#include "testkit/ConnectedSite.h"
#include "testkit/Wait.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <filesystem>
#include <gtest/gtest.h>

using namespace folvane::testkit;

namespace {

const QString title = QStringLiteral("My Site");

// Every entry below `root`: volume-relative path -> content, "folder" or the link's target.
std::map<std::string, std::string> treeBelow(const QString& root) {
    std::map<std::string, std::string> tree;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        QFile file(info.filePath());
        tree[info.filePath().mid(root.size()).toStdString()] =
            info.isSymLink() ? "-> " + std::filesystem::read_symlink(info.filePath().toStdString()).string()
            : info.isDir()   ? std::string("folder")
                           : (file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : "<unreadable>");
    }
    return tree;
}

// Runs a tool to its end; its exit status (-1 when it could not run or crashed).
int run(const QString& program, const QStringList& arguments, const QString& workingFolder = {}) {
    QProcess process;
    process.setWorkingDirectory(workingFolder);
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(defaultTimeoutMs) || process.exitStatus() != QProcess::NormalExit)
        return -1;
    return process.exitCode();
}

class VolumeTools : public ConnectedSite {
protected:
    void SetUp() override {
        HelperRunner::Options options;
        options.title = ::title;
        connect("ee", options);
        const QRegularExpressionMatch mirror =
            QRegularExpression(QStringLiteral("templates in (.*)\n")).match(helper_->logText());
        ASSERT_TRUE(mirror.hasMatch());
        mirror_ = mirror.captured(1);
        volume_ = helper_->mountPoint();
    }

    // The log lines of the events handled so far.
    QStringList eventLines() const {
        QStringList lines;
        QStringList pieces = helper_->logText().split(u'\n');
        // The last piece is an unfinished line (or empty): the helper writes its log in batches.
        pieces.removeLast();
        for (const QString& line : pieces)
            if (line.contains(QStringLiteral("-My Site {")))
                lines << line;
        return lines;
    }
    // The events handled since the last call, one a line. A folder made and removed marks the end: events
    // are handled in order, so all that came before it have been handled once its removal has.
    std::string eventsUntilSettled() {
        const QString marker = QStringLiteral("/settled-%1").arg(++markers_);
        EXPECT_TRUE(QDir().mkdir(volume_ + marker));
        EXPECT_TRUE(QDir().rmdir(volume_ + marker));
        const QString made = pathEvent("createddirectory-", marker);
        const QString removed = pathEvent("deletefolder-", marker);
        EXPECT_TRUE(waitUntil([&] { return eventLines().contains(removed); })) << removed.toStdString();
        const QStringList all = eventLines();
        QStringList lines = all.mid(seen_);
        seen_ = static_cast<int>(all.size());
        lines.removeAll(made);
        lines.removeAll(removed);
        return lines.join(u'\n').toStdString();
    }
    static QString pathEvent(const QString& prefix, const QString& path) {
        return QStringLiteral(R"(%1My Site {"path":"%2"})").arg(prefix, path);
    }

    QString mirror_, volume_;
    int markers_ = 0;
    int seen_ = 0;
};

TEST_F(VolumeTools, ShowsExactlyTheMirrorUnderATitleWithBlanks) {
    EXPECT_EQ(volume_, session_.mountRoot() + "/My Site");
    const auto shown = treeBelow(volume_);
    EXPECT_GT(shown.size(), 4u);
    EXPECT_EQ(shown, treeBelow(mirror_));
    // Names and types as they are: links keep their target text, hidden files show.
    ASSERT_EQ(run("ln", {"-s", "../news/index.html", volume_ + "/site/link"}), 0);
    ASSERT_EQ(run("touch", {volume_ + "/site/.hidden"}), 0);
    EXPECT_EQ(treeBelow(volume_), treeBelow(mirror_));
    EXPECT_EQ(treeBelow(mirror_)["/site/link"], "-> ../news/index.html");
}

TEST_F(VolumeTools, CopyMoveRemoveAndFoldersBecomeTheirEventsInOrder) {
    eventsUntilSettled();
    QFile source(session_.home() + "/source.html");
    ASSERT_TRUE(source.open(QIODevice::WriteOnly));
    source.write("<p>copied</p>\n");
    source.close();
    ASSERT_EQ(run("cp", {source.fileName(), volume_ + "/news/copied.html"}), 0);
    // Hidden folders: the synchronisation leaves them alone (it gives a new group files of its own).
    ASSERT_EQ(run("mkdir", {volume_ + "/.blog"}), 0);
    ASSERT_EQ(run("mv", {volume_ + "/news/copied.html", volume_ + "/.blog/moved one.html"}), 0);
    ASSERT_EQ(run("mv", {volume_ + "/.blog", volume_ + "/.journal"}), 0);
    ASSERT_EQ(run("rm", {volume_ + "/.journal/moved one.html"}), 0);
    ASSERT_EQ(run("rmdir", {volume_ + "/.journal"}), 0);
    EXPECT_EQ(
        eventsUntilSettled(),
        QStringList(
            {pathEvent("createfile-", "/news/copied.html"), pathEvent("writingfile-", "/news/copied.html"),
             pathEvent("createddirectory-", "/.blog"),
             R"(movefile-My Site {"destination":"/.blog/moved one.html","source":"/news/copied.html"})",
             R"(movefile-My Site {"destination":"/.journal","source":"/.blog"})",
             pathEvent("deletefile-", "/.journal/moved one.html"), pathEvent("deletefolder-", "/.journal")})
            .join(u'\n')
            .toStdString())
        << "one move for the folder, none for the file inside it";
    EXPECT_FALSE(QFileInfo::exists(mirror_ + "/.journal"));
    EXPECT_EQ(treeBelow(volume_), treeBelow(mirror_));
}

TEST_F(VolumeTools, ThreeWriteCallsAreThreeWriteEvents) {
    eventsUntilSettled();
    ASSERT_EQ(
        run("bash", {"-c", "printf 'abcdefghijkl' | dd of=\"$0\" bs=4 count=3 iflag=fullblock status=none",
                     volume_ + "/news/chunks.html"}),
        0);
    const QString write = pathEvent("writingfile-", "/news/chunks.html");
    EXPECT_EQ(eventsUntilSettled(),
              QStringList({pathEvent("createfile-", "/news/chunks.html"), write, write, write})
                  .join(u'\n')
                  .toStdString());
    EXPECT_EQ(readFile(mirror_ + "/news/chunks.html"), "abcdefghijkl");
}

} // namespace
