// The volume's life with the helper: mounted after start-up, taken down by every way the helper ends
// (also while a shell works inside it), detached when a crashed run left it behind, a mount that fails ends
// the helper with a critical notification, and a log nobody reads holds up neither the volume nor the end.
#include "testkit/ConnectedSite.h"
#include "testkit/FakeOpener.h"
#include "testkit/FuseMounts.h"
#include "testkit/Wait.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace folvane::testkit;

namespace {

const QString title = HelperRunner::Options().title;
const QString terminated = QStringLiteral("connection-terminated-") + title;

QString mirrorOf(const HelperRunner& helper) {
    return QRegularExpression(QStringLiteral("templates in (.*)\n")).match(helper.logText()).captured(1);
}

// A shell waiting with its working folder inside the volume, as a user's terminal would; stopped by its
// own pid when the test ends.
class ShellInside {
public:
    explicit ShellInside(const QString& folder) {
        process_.setWorkingDirectory(folder);
        process_.start(QStringLiteral("bash"), {QStringLiteral("-c"), QStringLiteral("sleep 600")});
        EXPECT_TRUE(process_.waitForStarted());
    }
    ~ShellInside() {
        ::kill(static_cast<pid_t>(process_.processId()), SIGKILL);
        process_.waitForFinished();
    }

private:
    QProcess process_;
};

// What every end of the helper leaves: the announcement (the n-th, naming the request when it was asked to
// end), no mount, no mirror, no mount-point folder.
void expectCleanEnd(HelperRunner& helper, const BusRecorder& bus, int n, const QString& mirror,
                    const QString& askedBy) {
    ASSERT_TRUE(helper.waitForExit()) << helper.logText().toStdString();
    EXPECT_EQ(helper.exitCode(), 0);
    ASSERT_TRUE(bus.waitFor(terminated, defaultTimeoutMs, n));
    QVariantMap announcement{{"title", title}};
    if (!askedBy.isEmpty())
        announcement.insert("askedBy", askedBy);
    EXPECT_EQ(bus.signalsNamed(terminated).at(n - 1), announcement);
    EXPECT_FALSE(helper.isMounted());
    EXPECT_FALSE(QFileInfo::exists(mirror));
    EXPECT_FALSE(QFileInfo::exists(helper.mountPoint()));
}

class VolumeLifecycle : public ConnectedSite, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override { connect(); }
    // The mirror of the helper that just connected, with a shell waiting inside its volume when it is to be
    // busy.
    QString mounted() {
        EXPECT_TRUE(helper_->waitForLog("Got didMount notification."));
        EXPECT_EQ(bus_->signalsNamed(signal("finishedconnecting")).back(), (QVariantMap{{"title", title()}}));
        shell_.reset();
        if (GetParam())
            shell_ = std::make_unique<ShellInside>(volume("/news"));
        const QString mirror = mirrorOf(*helper_);
        EXPECT_TRUE(QFileInfo(mirror).isDir());
        return mirror;
    }

    std::unique_ptr<ShellInside> shell_;
};

// Termination, an eject on the bus and an unmount from outside (a busy volume can only be detached lazily,
// and that must end the helper all the same) each take the volume down; after a crash the next helper
// detaches the mount the crashed one left.
TEST_P(VolumeLifecycle, EveryEndTakesTheVolumeDown) {
    QString mirror = mounted();
    helper_->terminate();
    expectCleanEnd(*helper_, *bus_, 1, mirror, QStringLiteral("signal 15"));
    reconnect();
    mirror = mounted();
    bus_->post(signal("eject"), {});
    expectCleanEnd(*helper_, *bus_, 2, mirror, QStringLiteral("eject-"));
    reconnect();
    mirror = mounted();
    const QStringList lazily = GetParam() ? QStringList{"-z"} : QStringList{};
    ASSERT_EQ(QProcess::execute(QStringLiteral("fusermount3"), lazily + QStringList{"-u", volume()}), 0);
    EXPECT_TRUE(helper_->waitForLog("Got didUnmount notification."));
    expectCleanEnd(*helper_, *bus_, 3, mirror, QString());
    reconnect();

    mounted();
    helper_->kill();
    ASSERT_TRUE(helper_->waitForExit());
    EXPECT_TRUE(FuseMounts::isMounted(helper_->mountPoint())) << "a killed helper leaves its mount";
    HelperRunner next(session_, options_);
    ASSERT_TRUE(next.waitForLog("Got didMount notification.")) << next.logText().toStdString();
    EXPECT_TRUE(next.logText().contains("Detaching a mount left at"));
    EXPECT_TRUE(QFile::exists(next.mountPoint() + "/news/index.html"));
    EXPECT_EQ(FuseMounts::below(session_.mountRoot()), QStringList{next.mountPoint()});
    next.terminate();
    expectCleanEnd(next, *bus_, 4, mirrorOf(next), QStringLiteral("signal 15"));
}

INSTANTIATE_TEST_SUITE_P(IdleOrBusy, VolumeLifecycle, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "WithAShellInside" : "Idle"; });

} // namespace

using VolumeMount = ConnectedSite;

TEST_F(VolumeMount, AFailedMountTellsTheUserAndEndsTheHelper) {
    const QString inTheWay = session_.mountRoot() + "/" + ::title;
    ASSERT_TRUE(writeFile(inTheWay, "not a folder"));

    launch();
    expectEnd(1, "Got mountFailed notification.\nkGMUserFileSystem Error: The mount point");
    ASSERT_TRUE(bus_->waitFor(terminated));
    const auto shown = session_.waitForNotification(QStringLiteral("Mount Failed"));
    ASSERT_TRUE(shown);
    EXPECT_TRUE(shown->body.contains("not a folder")) << shown->body.toStdString();
    EXPECT_EQ(shown->hints.value("urgency", 0), 2) << "critical";
    EXPECT_FALSE(QFileInfo::exists(mirrorOf(*helper_)));
    EXPECT_EQ(readFile(inTheWay), "not a folder") << "what stood in the way is left alone";
}

// Opened only when the site asks for it and the session allows it (the last case).
TEST_F(VolumeMount, TheFileBrowserOpensTheVolumeOnlyWhenAskedAndAllowed) {
    const FakeOpener opener(session_.home());
    for (const auto& [openFinder, noOpen] : {std::pair{false, "0"}, {true, "1"}, {true, "0"}}) {
        HelperRunner::Options options;
        options.openFinder = openFinder;
        options.extraEnv = {{"PATH", opener.searchPath()}, {"FOLVANE_NO_OPEN", noOpen}};
        launch(options);
        ASSERT_TRUE(helper_->waitForLog("Mounted at "));
    }
    ASSERT_TRUE(waitUntil([&] { return !opener.opened().isEmpty(); }));
    EXPECT_EQ(opener.opened(), QStringList{helper_->mountPoint()});
}

TEST_F(VolumeMount, AMountRootSpelledWithSlashesOrThroughALinkIsStillRecognised) {
    const QString link = session_.home() + QStringLiteral("/root-link");
    ASSERT_TRUE(QDir().mkpath(session_.mountRoot()));
    ASSERT_TRUE(QFile::link(session_.mountRoot(), link));
    for (const QString& root : {session_.mountRoot() + QStringLiteral("//"), link + QStringLiteral("/")}) {
        HelperRunner::Options options;
        options.extraEnv = {{"FOLVANE_MOUNT_ROOT", root}};
        launch(options);
        ASSERT_TRUE(helper_->waitForLog("Mounted at ")) << helper_->logText().toStdString();
        // Any change of the system's mount table makes the helper look for its own mount again.
        QTemporaryDir elsewhere;
        ASSERT_EQ(QProcess::execute("mount", {"-t", "tmpfs", "none", elsewhere.path()}), 0);
        EXPECT_EQ(QProcess::execute("umount", {elsewhere.path()}), 0);
        waitUntil([] { return false; }, 1000);
        EXPECT_TRUE(helper_->isRunning()) << root.toStdString() << "\n" << helper_->logText().toStdString();
        EXPECT_TRUE(helper_->isMounted());
    }
}

// The helper's log goes to a pipe of one page that nobody reads.
TEST_F(VolumeMount, ALogNobodyReadsHoldsUpNeitherTheVolumeNorTheEnd) {
    const QByteArray pipe = QFile::encodeName(session_.home() + "/log");
    ASSERT_EQ(::mkfifo(pipe.constData(), 0600), 0);
    const int unread = ::open(pipe.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(unread, 0);
    ::fcntl(unread, F_SETPIPE_SZ, 4096);
    HelperRunner::Options options;
    options.log = QFile::decodeName(pipe);
    launch(options);
    ASSERT_TRUE(bus_->waitFor(QStringLiteral("finishedconnecting-") + ::title));
    ASSERT_TRUE(waitUntil([&] { return helper_->isMounted(); }));

    // Every new file and every write is an event the helper logs (hidden files stay on this computer).
    const QString news = volume("/news/");
    for (int i = 0; i < 2000; ++i)
        ASSERT_TRUE(writeFile(news + QStringLiteral(".note-%1").arg(i), QByteArray::number(i))) << i;
    for (int i = 0; i < 2000; ++i)
        ASSERT_EQ(readFile(news + QStringLiteral(".note-%1").arg(i)), QByteArray::number(i));
    ASSERT_TRUE(writeFile(news + "index.html", "written while nobody read the log\n"));
    EXPECT_TRUE(waitUntilSiteMatchesVolume(*sim_, volume())) << "uploads go on";
    int bytes = 0;
    ::ioctl(unread, FIONREAD, &bytes);
    EXPECT_GE(bytes, ::fcntl(unread, F_GETPIPE_SZ) / 2) << "the log's pipe filled up";

    helper_->terminate();
    ASSERT_TRUE(helper_->waitForExit(60'000));
    EXPECT_EQ(helper_->exitCode(), 0);
    EXPECT_TRUE(bus_->waitFor(terminated));
    EXPECT_FALSE(helper_->isMounted());
    EXPECT_FALSE(QFileInfo::exists(helper_->mountPoint()));
    ::close(unread);
}
