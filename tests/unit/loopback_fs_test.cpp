// The loopback filesystem on a real FUSE mount inside the test process: each system call made on the
// volume, what it did to the mirror folder, and what it reported, in order. The volume is served by its
// own thread, so this thread may use it; reports are queued before the call returns, so turning the event
// loop after a call delivers all of them.
#include "FileText.h"
#include "MountTable.h"
#include "QtPrinters.h"
#include "fs/LoopbackFS.h"
#include "fs/MountSession.h"
#include "fs/VolumeEventQueue.h"
#include "testkit/Wait.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace folvane;

namespace {

const QString title = QStringLiteral("My Site");

// Reports as "<kind> <path>[ <destination>]", in the order they arrive.
using Events = std::vector<std::string>;

class Recorder : public VolumeEvents {
public:
    explicit Recorder(Events& into) : into_(into) {}
    void fileCreated(const QString& path) override { add("created", path); }
    void fileWritten(const QString& path) override { add("written", path); }
    void fileReleased(const QString& path) override { add("released", path); }
    void fileOpened(const QString& path) override { add("opened", path); }
    void moved(const QString& from, const QString& to) override { add("moved", from, to); }
    void fileRemoved(const QString& path) override { add("removed", path); }
    void folderMade(const QString& path) override { add("folderMade", path); }
    void folderRemoved(const QString& path) override { add("folderRemoved", path); }

private:
    void add(const char* kind, const QString& path, const QString& to = {}) {
        into_.push_back(kind + (' ' + path.toStdString()) + (to.isEmpty() ? "" : ' ' + to.toStdString()));
    }
    Events& into_;
};

using testkit::waitUntil;
using testsupport::readAll;
using testsupport::writeAll;

// The errno of a call that failed, 0 for one that worked.
int errnoOf(long result) {
    return result == -1 ? errno : 0;
}

// Everything below `root`: each path with its text, "folder", its link's target or "special" (a FIFO, a
// socket, a device node).
using Tree = std::map<std::string, std::string>;
Tree listing(const QString& root) {
    Tree entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        entries[info.filePath().mid(root.size()).toStdString()] =
            info.isSymLink() ? "-> " + info.symLinkTarget().mid(root.size()).toStdString()
            : info.isDir()   ? "folder"
            : info.isFile()  ? readAll(info.filePath()).toStdString()
                             : "special";
    }
    return entries;
}

class Volume : public ::testing::Test {
protected:
    void mountWith(LoopbackFS::CachePolicy cache) {
        ASSERT_TRUE(tmp_.isValid());
        mirror_ = tmp_.filePath(QStringLiteral("mirror"));
        mountPoint_ = tmp_.filePath(QStringLiteral("mount root/") + title);
        ASSERT_TRUE(QDir().mkpath(mirror_ + "/news") && QDir().mkpath(mirror_ + "/site"));
        ASSERT_TRUE(writeAll(mirror_ + "/news/index.html", "<h1>News</h1>\n") &&
                    writeAll(mirror_ + "/site/about.html", "About us\n"));

        events_.setReceiver(&recorder_);
        fs_ = std::make_unique<LoopbackFS>(mirror_, events_, cache);
        session_ = std::make_unique<MountSession>(*fs_, title, mountPoint_);
        QObject::connect(session_.get(), &MountSession::mounted, [this] { mounted_ = true; });
        QObject::connect(session_.get(), &MountSession::mountFailed,
                         [this](const QString& reason) { failure_ = reason; });
        session_->mount();
        ASSERT_TRUE(waitUntil([this] { return mounted_ || failure_; }));
        ASSERT_TRUE(mounted_) << failure_->toStdString();
    }
    void SetUp() override { mountWith({}); }
    void TearDown() override {
        if (session_)
            session_->unmount();
        if (MountTable::hasFuseMountAt(mountPoint_))
            MountTable::detachFuseMountsAt(mountPoint_);
    }

    QByteArray onVolume(const QString& path) const { return QFile::encodeName(mountPoint_ + path); }
    QByteArray inMirror(const QString& path) const { return QFile::encodeName(mirror_ + path); }
    // The events posted since the last call: each takes one turn of the event loop.
    Events events() {
        for (size_t before = SIZE_MAX; before != received_.size();) {
            before = received_.size();
            QCoreApplication::processEvents();
        }
        return std::exchange(received_, {});
    }
    void waitFor(const std::string& event) {
        ASSERT_TRUE(waitUntil([&] {
            return std::find(received_.begin(), received_.end(), event) != received_.end();
        })) << event;
    }
    // The kernel closes a file on the volume after close() has returned; waits for that.
    void waitForRelease(const QString& path) { waitFor("released " + path.toStdString()); }

    QTemporaryDir tmp_{QStringLiteral("/tmp/folvane-loopback-XXXXXX")};
    QString mirror_, mountPoint_;
    Events received_;
    Recorder recorder_{received_};
    VolumeEventQueue events_;
    std::unique_ptr<LoopbackFS> fs_;
    std::unique_ptr<MountSession> session_;
    bool mounted_ = false;
    std::optional<QString> failure_;
};

TEST_F(Volume, UnlinkMkdirAndRmdirReportOnlyWhatWorked) {
    // The kernel answers names it knows are missing itself; these two it still believes in, but the
    // mirror no longer has them, so the filesystem is asked and fails.
    struct stat st;
    ASSERT_EQ(::stat(onVolume("/site/about.html"), &st), 0);
    ASSERT_TRUE(QDir(mirror_ + "/site").removeRecursively());
    EXPECT_EQ(errnoOf(::unlink(onVolume("/site/about.html"))), ENOENT);
    EXPECT_EQ(errnoOf(::mkdir(onVolume("/site/group"), 0755)), ENOENT);
    EXPECT_NE(errnoOf(::rmdir(onVolume("/site"))), 0);
    EXPECT_FALSE(QFileInfo::exists(mirror_ + "/site")) << "no intermediate folders";
    EXPECT_EQ(events(), Events{}) << "a refused remove or mkdir must not change the site";
    session_->invalidate(QStringLiteral("/site"));
    ASSERT_TRUE(QDir(mirror_).mkpath(QStringLiteral("site/kept")));

    EXPECT_EQ(::unlink(onVolume("/news/index.html")), 0);
    EXPECT_EQ(::mkdir(onVolume("/blog"), 0755), 0);
    EXPECT_EQ(errnoOf(::rmdir(onVolume("/site"))), ENOTEMPTY);
    EXPECT_EQ(::rmdir(onVolume("/news")), 0);
    EXPECT_EQ(listing(mirror_), (Tree{{"/blog", "folder"}, {"/site", "folder"}, {"/site/kept", "folder"}}));
    EXPECT_EQ(events(), (Events{"removed /news/index.html", "folderMade /blog", "folderRemoved /news"}));
}

TEST_F(Volume, RenamePostsOneMoveAndHonoursNoReplaceAndExchange) {
    ASSERT_EQ(::rename(onVolume("/news"), onVolume("/articles")), 0);
    EXPECT_EQ(events(), Events{"moved /news /articles"})
        << "one event for the folder, none for what is inside";
    ASSERT_EQ(::rename(onVolume("/site/about.html"), onVolume("/articles/about us.html")), 0);
    EXPECT_EQ(events(), Events{"moved /site/about.html /articles/about us.html"});
    EXPECT_EQ(errnoOf(::renameat2(AT_FDCWD, onVolume("/articles/about us.html"), AT_FDCWD,
                                  onVolume("/articles/index.html"), RENAME_NOREPLACE)),
              EEXIST);
    EXPECT_EQ(errnoOf(::rename(onVolume("/articles/missing.html"), onVolume("/articles/x.html"))), ENOENT);
    EXPECT_EQ(events(), Events{}) << "a refused rename is no move";
    EXPECT_EQ(listing(mirror_), (Tree{{"/articles", "folder"},
                                      {"/articles/about us.html", "About us\n"},
                                      {"/articles/index.html", "<h1>News</h1>\n"},
                                      {"/site", "folder"}}));
}

// Changes that would reach the mirror but that no report describes are either reported as what they do to
// the templates or refused as a filesystem refuses what it does not support, leaving everything as it was.
TEST_F(Volume, LinksExchangesAndPreallocationReachTheSiteOrAreRefused) {
    ASSERT_EQ(::mkfifo(onVolume("/site/pipe"), 0600), 0);
    ASSERT_EQ(::mkfifo(onVolume("/site/other pipe"), 0600), 0);
    ASSERT_EQ(::symlink("about.html", onVolume("/site/link")), 0);
    const auto exchange = [&](const char* from, const char* to) {
        return errnoOf(::renameat2(AT_FDCWD, onVolume(QString::fromLatin1(from)), AT_FDCWD,
                                   onVolume(QString::fromLatin1(to)), RENAME_EXCHANGE));
    };
    // Each name keeps its template and gets the other's text: a save of both.
    EXPECT_EQ(exchange("/site/about.html", "/news/index.html"), 0);
    EXPECT_EQ(readAll(mountPoint_ + "/site/about.html"), "<h1>News</h1>\n");
    EXPECT_EQ(events(), (Events{"written /site/about.html", "written /news/index.html"}));
    EXPECT_EQ(exchange("/site/pipe", "/site/other pipe"), 0) << "neither ever reaches the site";
    EXPECT_EQ(exchange("/site/pipe", "/site/link"), 0);
    for (const auto& [from, to] :
         std::vector<std::pair<const char*, const char*>>{{"/site", "/news"},
                                                          {"/site/about.html", "/news"},
                                                          {"/news/index.html", "/site/pipe"},
                                                          {"/site/link", "/news/index.html"}})
        EXPECT_EQ(exchange(from, to), EINVAL) << from << " with " << to;
    EXPECT_EQ(exchange("/site/about.html", "/site/missing.html"), ENOENT);
    EXPECT_EQ(errnoOf(::link(onVolume("/site/about.html"), onVolume("/site/hard.html"))), EPERM);
    EXPECT_EQ(errnoOf(::link(onVolume("/site/pipe"), onVolume("/site/hard pipe"))), EPERM);
    // The pipe and the link changed places; nothing else changed.
    EXPECT_EQ(listing(mirror_), (Tree{{"/news", "folder"},
                                      {"/news/index.html", "About us\n"},
                                      {"/site", "folder"},
                                      {"/site/about.html", "<h1>News</h1>\n"},
                                      {"/site/link", "special"},
                                      {"/site/other pipe", "special"},
                                      {"/site/pipe", "-> /site/about.html"}}));
    EXPECT_EQ(events(), Events{}) << "none of these changed a template";

    // Growing a file is a save; keeping space for later without a size change is not.
    const int fd = ::open(onVolume("/site/about.html"), O_RDWR);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, 1 << 20), 0);
    EXPECT_EQ(::fallocate(fd, 0, 0, 8), 0) << "within the file";
    EXPECT_EQ(events(), Events{});
    EXPECT_EQ(::posix_fallocate(fd, 0, 1 << 20), 0);
    struct stat st;
    ASSERT_EQ(::fstat(fd, &st), 0);
    EXPECT_EQ(st.st_size, 1 << 20);
    EXPECT_EQ(events(), Events{"written /site/about.html"});
    EXPECT_EQ(::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, 0, 4096), 0);
    EXPECT_EQ(events(), Events{"written /site/about.html"}) << "zeros in the text";
    ::close(fd);
    waitForRelease("/site/about.html");
    ASSERT_EQ(::stat(inMirror("/site/about.html"), &st), 0);
    EXPECT_EQ(st.st_size, 1 << 20);

    // Templates carry no extended attributes; the volume says it has none, as such a filesystem does.
    const QByteArray file = onVolume("/site/about.html");
    EXPECT_EQ(errnoOf(::setxattr(file, "user.folvane", "yes", 3, XATTR_CREATE)), EOPNOTSUPP);
    EXPECT_EQ(errnoOf(::getxattr(file, "security.capability", nullptr, 0)), EOPNOTSUPP);
    EXPECT_EQ(errnoOf(::listxattr(file, nullptr, 0)), EOPNOTSUPP);
}

TEST_F(Volume, EverySaveIsReportedBeforeACleanCloseEndsIt) {
    const int fd = ::open(onVolume("/site/about.html"), O_WRONLY | O_TRUNC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(events(), Events{"written /site/about.html"}) << "the truncate";
    for (const char* chunk : {"one ", "two ", "three\n"})
        ASSERT_EQ(::write(fd, chunk, std::strlen(chunk)), static_cast<ssize_t>(std::strlen(chunk)));
    EXPECT_EQ(::fsync(fd), 0);
    EXPECT_EQ(readAll(mirror_ + "/site/about.html"), "one two three\n") << "fsync hands the data over";
    EXPECT_EQ(::fdatasync(fd), 0);
    ASSERT_EQ(::close(fd), 0);
    waitForRelease("/site/about.html");
    // The kernel gathers the writes into as few requests as it likes; each is reported, the release last.
    Events save = events();
    ASSERT_GE(save.size(), 2u);
    EXPECT_EQ(save.back(), "released /site/about.html");
    save.pop_back();
    EXPECT_EQ(save, Events(save.size(), "written /site/about.html"));

    // Reading and closing a file opened only for reading ends no save (with caching on, nothing is reported).
    EXPECT_EQ(readAll(mountPoint_ + "/site/about.html"), "one two three\n");
    EXPECT_EQ(events(), Events{});
}

TEST_F(Volume, ASizeChangeAloneIsASave) {
    ASSERT_EQ(::truncate(onVolume("/site/about.html"), 3), 0);
    EXPECT_EQ(events(), Events{"written /site/about.html"});
    const int fd = ::open(onVolume("/news/index.html"), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 0), 0);
    EXPECT_EQ(events(), Events{"written /news/index.html"});
    ::close(fd);
    waitForRelease("/news/index.html");
    events();
    EXPECT_EQ(errnoOf(::truncate(onVolume("/news"), 0)), EISDIR);
    EXPECT_EQ(events(), Events{});
    EXPECT_EQ(listing(mirror_), (Tree{{"/news", "folder"},
                                      {"/news/index.html", ""},
                                      {"/site", "folder"},
                                      {"/site/about.html", "Abo"}}));
}

TEST_F(Volume, CallsRunAtOnceAndEachFilesReportsKeepTheirOrder) {
    constexpr int writers = 8, filesEach = 25;
    std::vector<std::thread> threads;
    std::atomic<int> failures = 0;
    for (int w = 0; w < writers; ++w)
        threads.emplace_back([&, w] {
            for (int i = 0; i < filesEach; ++i) {
                const QByteArray name = onVolume(QStringLiteral("/news/w%1-%2.html").arg(w).arg(i));
                const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
                const QByteArray text = name + '\n';
                if (fd == -1 ||
                    ::write(fd, text.constData(), static_cast<size_t>(text.size())) != text.size() ||
                    ::close(fd) != 0 || readAll(QFile::decodeName(name)) != text)
                    ++failures;
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures, 0);
    ASSERT_TRUE(waitUntil([&] {
        return std::count_if(received_.begin(), received_.end(), [](const std::string& e) {
                   return e.starts_with("released ");
               }) == writers * filesEach;
    }));
    std::map<std::string, Events> byFile;
    for (const std::string& e : events()) {
        const size_t space = e.find(' ');
        byFile[e.substr(space + 1)].push_back(e.substr(0, space));
    }
    ASSERT_EQ(byFile.size(), static_cast<size_t>(writers * filesEach));
    for (auto& [path, kinds] : byFile) {
        kinds.erase(std::unique(kinds.begin(), kinds.end()), kinds.end());
        EXPECT_EQ(kinds, (Events{"created", "written", "released"})) << path;
        EXPECT_EQ(readAll(mirror_ + QString::fromStdString(path)).toStdString(),
                  QFile::encodeName(mountPoint_).toStdString() + path + "\n");
    }
}

// What each call made, and its answers, are compared with a plain folder's end to end (the POSIX comparison);
// the kernel carries a FIFO's data, and refuses a device node to a caller without the right before the
// volume is asked.
TEST_F(Volume, FifosSocketsAndDeviceNodesLiveInTheMirrorButAreNeverCreatedOnTheSite) {
    ASSERT_EQ(::mkfifo(onVolume("/site/pipe"), 0600), 0);
    // What bind() asks of a filesystem for a socket's name.
    ASSERT_EQ(::mknod(onVolume("/site/socket"), S_IFSOCK | 0600, 0), 0) << std::strerror(errno);
    ASSERT_EQ(::mknod(onVolume("/site/null"), S_IFCHR | 0600, makedev(1, 3)), 0) << std::strerror(errno);
    EXPECT_EQ(events(), Events{}) << "none of these is a template";
}

// (access answers from the modes, as the volume leaves permissions to the kernel, and a folder's fsync
// succeeds even where the volume does not serve it: neither can fail through the volume's code.)
TEST_F(Volume, CopiesAndHolesAnswerAsTheMirrorDoes) {
    const int from = ::open(onVolume("/site/about.html"), O_RDONLY);
    const int to = ::open(onVolume("/news/copy.html"), O_WRONLY | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(from, 0);
    ASSERT_GE(to, 0);
    EXPECT_EQ(::copy_file_range(from, nullptr, to, nullptr, 64, 0), 9);
    ::close(from);
    ::close(to);
    waitForRelease("/news/copy.html");
    EXPECT_EQ(readAll(mirror_ + "/news/copy.html"), "About us\n");
    const Events copy = events();
    EXPECT_EQ(copy.front(), "created /news/copy.html");
    EXPECT_NE(std::find(copy.begin(), copy.end(), "written /news/copy.html"), copy.end());

    const int sparse = ::open(onVolume("/news/sparse.bin"), O_RDWR | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(sparse, 0);
    ASSERT_EQ(::pwrite(sparse, "x", 1, 1 << 20), 1);
    ASSERT_EQ(::fsync(sparse), 0);
    EXPECT_EQ(::lseek(sparse, 0, SEEK_DATA), 1 << 20 & ~4095);
    EXPECT_EQ(::lseek(sparse, 0, SEEK_HOLE), 0);
    EXPECT_EQ(errnoOf(::lseek(sparse, 2 << 20, SEEK_DATA)), ENXIO);
    ::close(sparse);
}

TEST_F(Volume, KeepsContentsAcrossOpensUntilTheHelperInvalidates) {
    EXPECT_EQ(readAll(mountPoint_ + "/news/index.html"), "<h1>News</h1>\n");
    events();
    ASSERT_TRUE(
        writeAll(mirror_ + "/news/index.html", "<h1>Olds</h1>\n")); // same size, behind the volume's back
    EXPECT_EQ(readAll(mountPoint_ + "/news/index.html"), "<h1>News</h1>\n") << "served from the page cache";
    EXPECT_EQ(events(), Events{});

    session_->invalidate(QStringLiteral("/news/index.html"));
    EXPECT_EQ(readAll(mountPoint_ + "/news/index.html"), "<h1>Olds</h1>\n");
}

TEST_F(Volume, ShowsExactlyTheMirrorAndItsDiskSpace) {
    ASSERT_EQ(::symlink("index.html", inMirror("/news/latest")), 0);
    ASSERT_TRUE(writeAll(mirror_ + "/.hidden", ""));
    EXPECT_EQ(listing(mountPoint_), listing(mirror_));

    struct statvfs volume, disk;
    ASSERT_EQ(::statvfs(onVolume("/"), &volume), 0);
    ASSERT_EQ(::statvfs(inMirror(""), &disk), 0);
    EXPECT_EQ(volume.f_blocks * volume.f_frsize, disk.f_blocks * disk.f_frsize);
    EXPECT_GT(volume.f_bavail, 0u);
}

// Without the page cache. Opens for reading wait for the helper to say the file is current (checked with a
// helper); here they are made on the thread that would deliver their reports, so they go on at once.
class UncachedVolume : public Volume {
    void SetUp() override { mountWith({.keepPageCache = false, .attributeSeconds = 86400, .openWaitMs = 0}); }
};

// (An open for reading is reported once and every read sees the file as it is now: the helper's
// caching-off case.)
TEST_F(UncachedVolume, OpensThatReplaceOrOnlyWriteFetchNothingAndEachWriteIsReportedAsItIsMade) {
    const int truncating = ::open(onVolume("/news/index.html"), O_RDWR | O_TRUNC);
    ASSERT_GE(truncating, 0);
    ::close(truncating);
    waitForRelease("/news/index.html");
    EXPECT_EQ(events(), (Events{"written /news/index.html", "released /news/index.html"}));
    const int writer = ::open(onVolume("/site/about.html"), O_WRONLY);
    ASSERT_GE(writer, 0);
    for (const char* chunk : {"one ", "two ", "three\n"})
        ASSERT_EQ(::write(writer, chunk, std::strlen(chunk)), static_cast<ssize_t>(std::strlen(chunk)));
    EXPECT_EQ(readAll(mirror_ + "/site/about.html"), "one two three\n");
    ASSERT_EQ(::close(writer), 0);
    waitForRelease("/site/about.html");
    const std::string write = "written /site/about.html";
    EXPECT_EQ(events(), (Events{write, write, write, "released /site/about.html"}));
}

// (A file where the mount point goes: the helper's end-to-end case.)
TEST(VolumeMount, FailsWithAReasonWhenTheTitleCannotNameAMountPoint) {
    QTemporaryDir tmp(QStringLiteral("/tmp/folvane-loopback-XXXXXX"));
    VolumeEventQueue events;
    LoopbackFS fs(tmp.path(), events, {});
    const auto outcome = [&](const QString& sessionTitle, const QString& mountPoint) {
        MountSession session(fs, sessionTitle, mountPoint);
        std::optional<QString> result;
        QObject::connect(&session, &MountSession::mounted, [&] { result = QString(); });
        QObject::connect(&session, &MountSession::mountFailed,
                         [&](const QString& reason) { result = reason; });
        session.mount();
        waitUntil([&] { return result.has_value(); });
        return result.value_or(QStringLiteral("no outcome"));
    };
    for (const QString& unsafe : {QString(), QStringLiteral("."), QStringLiteral(".."), QStringLiteral("a/b"),
                                  QStringLiteral("x") + QChar(0)})
        EXPECT_TRUE(outcome(unsafe, tmp.filePath("unused")).contains("cannot name a mount point"));
    EXPECT_FALSE(QFileInfo::exists(tmp.filePath("unused")));
}

TEST_F(Volume, WhileChangesAreHeldReadsGoOnAndChangesWaitTheirTurn) {
    session_->holdChanges();
    std::atomic<bool> written = false;
    std::thread writer([&] {
        const int fd = ::open(onVolume("/news/held.html"), O_WRONLY | O_CREAT | O_EXCL, 0644);
        if (fd != -1) {
            [[maybe_unused]] const ssize_t n = ::write(fd, "held\n", 5);
            ::close(fd);
        }
        written = true;
    });
    EXPECT_EQ(readAll(mountPoint_ + "/site/about.html"), "About us\n") << "reads go on";
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(written);
    EXPECT_FALSE(QFileInfo::exists(mirror_ + "/news/held.html"));
    session_->invalidate(QStringLiteral("/news/index.html")); // kept for later: nothing waits on it here
    session_->resumeChanges();
    writer.join();
    EXPECT_TRUE(written);
    EXPECT_EQ(readAll(mirror_ + "/news/held.html"), "held\n");
}
} // namespace
