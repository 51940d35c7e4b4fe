// The volume's life with the helper: mounted after start-up, taken down by every way the helper ends
// (also while a shell works inside it), detached when a crashed run left it behind, a mount that fails ends
// the helper with a critical notification, and a log nobody reads holds up neither the volume nor the end.
#include "testkit/ConnectedSite.h"
#include "testkit/FakeOpener.h"
#include "testkit/FuseMounts.h"
#include "testkit/Programs.h"
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
#include <unistd.h>

using namespace folvane::testkit;

namespace {

const QString title = QStringLiteral("Life Site");
const QString terminated = QStringLiteral("connection-terminated-") + title;

HelperRunner::Options optionsFor(const AddonSim& sim) {
    HelperRunner::Options options;
    options.url = sim.baseUrl();
    options.title = title;
    return options;
}

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

// What every end of the helper leaves: the announcement (naming the request when it was asked to end), no
// mount, no mirror, no mount-point folder.
void expectCleanEnd(HelperRunner& helper, const BusRecorder& bus, const QString& mirror, int exitCode,
                    const QString& askedBy) {
    ASSERT_TRUE(helper.waitForExit()) << helper.logText().toStdString();
    EXPECT_EQ(helper.exitCode(), exitCode);
    ASSERT_TRUE(bus.waitFor(terminated));
    QVariantMap announcement{{"title", title}};
    if (!askedBy.isEmpty())
        announcement.insert("askedBy", askedBy);
    EXPECT_EQ(bus.signalsNamed(terminated).back(), announcement);
    EXPECT_FALSE(helper.isMounted());
    EXPECT_FALSE(QFileInfo::exists(mirror));
    EXPECT_FALSE(QFileInfo::exists(helper.mountPoint()));
}

class VolumeLifecycle : public ConnectedSite, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        HelperRunner::Options options;
        options.title = ::title;
        connect("ee", options);
        EXPECT_TRUE(helper_->waitForLog("Got didMount notification."));
        EXPECT_EQ(bus_->signalsNamed(signal("finishedconnecting")).front(),
                  (QVariantMap{{"title", title()}}));
        mirror_ = mirrorOf(*helper_);
        ASSERT_TRUE(QFileInfo(mirror_).isDir());
        if (GetParam())
            shell_ = std::make_unique<ShellInside>(volume("/news"));
    }

    std::unique_ptr<ShellInside> shell_;
    QString mirror_;
};

TEST_P(VolumeLifecycle, TerminationTakesTheVolumeDown) {
    helper_->terminate();
    expectCleanEnd(*helper_, *bus_, mirror_, 0, QStringLiteral("signal 15"));
}

TEST_P(VolumeLifecycle, AnEjectOnTheBusTakesTheVolumeDown) {
    bus_->post(signal("eject"), {});
    expectCleanEnd(*helper_, *bus_, mirror_, 0, QStringLiteral("eject-"));
}

TEST_P(VolumeLifecycle, AnUnmountFromOutsideEndsTheHelper) {
    // A busy volume can only be detached lazily; it must end the helper all the same.
    const QStringList arguments = GetParam() ? QStringList{"-u", "-z", helper_->mountPoint()}
                                             : QStringList{"-u", helper_->mountPoint()};
    ASSERT_EQ(QProcess::execute(QStringLiteral("fusermount3"), arguments), 0);
    EXPECT_TRUE(helper_->waitForLog("Got didUnmount notification."));
    expectCleanEnd(*helper_, *bus_, mirror_, 0, QString());
}

TEST_P(VolumeLifecycle, AfterACrashTheNextHelperDetachesTheStaleMount) {
    helper_->kill();
    ASSERT_TRUE(helper_->waitForExit());
    EXPECT_TRUE(FuseMounts::isMounted(helper_->mountPoint())) << "a killed helper leaves its mount";

    HelperRunner next(session_, options_);
    ASSERT_TRUE(next.waitForLog("Got didMount notification.")) << next.logText().toStdString();
    EXPECT_TRUE(next.logText().contains("Detaching a mount left at"));
    EXPECT_TRUE(QFile::exists(next.mountPoint() + "/news/index.html"));
    EXPECT_EQ(FuseMounts::below(session_.mountRoot()), QStringList{next.mountPoint()});
    next.terminate();
    expectCleanEnd(next, *bus_, mirrorOf(next), 0, QStringLiteral("signal 15"));
}

INSTANTIATE_TEST_SUITE_P(IdleOrBusy, VolumeLifecycle, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "WithAShellInside" : "Idle"; });

TEST(VolumeMount, AFailedMountTellsTheUserAndEndsTheHelper) {
    TestSession session;
    AddonSim sim;
    BusRecorder bus(session.bus());
    const QString inTheWay = session.mountRoot() + "/" + title;
    QFile file(inTheWay);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not a folder");
    file.close();

    HelperRunner helper(session, optionsFor(sim));
    ASSERT_TRUE(helper.waitForExit()) << helper.logText().toStdString();
    EXPECT_EQ(helper.exitCode(), 1);
    ASSERT_TRUE(bus.waitFor(terminated));
    EXPECT_EQ(bus.count(QStringLiteral("finishedconnecting-") + title), 0) << "nothing was mounted";
    EXPECT_EQ(bus.signalsNamed(terminated).back(), (QVariantMap{{"title", title}}))
        << "an end nobody asked for";
    EXPECT_TRUE(
        helper.logText().contains("Got mountFailed notification.\nkGMUserFileSystem Error: The mount point"))
        << helper.logText().toStdString();
    const auto shown = session.waitForNotification(QStringLiteral("Mount Failed"));
    ASSERT_TRUE(shown);
    EXPECT_TRUE(shown->body.contains("not a folder")) << shown->body.toStdString();
    EXPECT_EQ(shown->hints.value("urgency", 0), 2) << "critical";
    EXPECT_FALSE(QFileInfo::exists(mirrorOf(helper)));
    EXPECT_EQ(readFile(inTheWay), "not a folder") << "what stood in the way is left alone";
}

TEST(VolumeMount, TheFileBrowserOpensTheVolumeOnlyWhenAskedAndAllowed) {
    struct Case {
        bool openFinder;
        const char* noOpen;
        bool opens;
    };
    for (const Case c : {Case{true, "0", true}, Case{false, "0", false}, Case{true, "1", false}}) {
        TestSession session;
        AddonSim sim;
        const FakeOpener opener(session.home());
        HelperRunner::Options options = optionsFor(sim);
        options.openFinder = c.openFinder;
        options.extraEnv = {{"PATH", opener.searchPath()}, {"FOLVANE_NO_OPEN", c.noOpen}};
        HelperRunner helper(session, options);
        ASSERT_TRUE(helper.waitForLog("Mounted at "));
        if (c.opens) {
            ASSERT_TRUE(waitUntil([&] { return !opener.opened().isEmpty(); }));
            EXPECT_EQ(opener.opened(), QStringList{helper.mountPoint()});
        } else {
            EXPECT_TRUE(opener.opened().isEmpty()) << c.openFinder << c.noOpen;
        }
    }
}

} // namespace

TEST(VolumeMount, AMountRootSpelledWithSlashesOrThroughALinkIsStillRecognised) {
    TestSession session;
    AddonSim sim;
    const QString link = session.home() + QStringLiteral("/root-link");
    ASSERT_TRUE(QDir().mkpath(session.mountRoot()));
    ASSERT_TRUE(QFile::link(session.mountRoot(), link));
    for (const QString& root : {session.mountRoot() + QStringLiteral("//"), link + QStringLiteral("/")}) {
        HelperRunner::Options options = optionsFor(sim);
        options.extraEnv = {{"FOLVANE_MOUNT_ROOT", root}};
        HelperRunner helper(session, options);
        ASSERT_TRUE(helper.waitForLog("Mounted at ")) << helper.logText().toStdString();
        // Any change of the system's mount table makes the helper look for its own mount again.
        QTemporaryDir elsewhere;
        ASSERT_EQ(QProcess::execute("mount", {"-t", "tmpfs", "none", elsewhere.path()}), 0);
        EXPECT_EQ(QProcess::execute("umount", {elsewhere.path()}), 0);
        waitUntil([] { return false; }, 1000);
        EXPECT_TRUE(helper.isRunning()) << root.toStdString() << "\n" << helper.logText().toStdString();
        EXPECT_TRUE(helper.isMounted());
        helper.terminate();
        ASSERT_TRUE(helper.waitForExit());
    }
}

// The helper with its standard error on a pipe of one page that nobody reads, stopped by its pid and its
// volume detached when the test ends.
class HelperWithStalledLog {
public:
    HelperWithStalledLog(TestSession& session, const AddonSim& sim)
        : mountPoint_(session.mountRoot() + "/" + title) {
        int ends[2];
        EXPECT_EQ(::pipe2(ends, O_CLOEXEC), 0);
        readEnd_ = ends[0];
        ::fcntl(ends[1], F_SETPIPE_SZ, 4096);
        process_.setProgram(programPath(QStringLiteral("folvane3-fuse-helper")));
        process_.setArguments(HelperRunner::commandLine(optionsFor(sim), session.baseFolder()));
        process_.setProcessEnvironment(session.environment());
        process_.setStandardOutputFile(QProcess::nullDevice());
        process_.setStandardErrorFile(QProcess::nullDevice());
        process_.setChildProcessModifier([writeEnd = ends[1]] { ::dup2(writeEnd, STDERR_FILENO); });
        process_.start();
        EXPECT_TRUE(process_.waitForStarted());
        ::close(ends[1]);
        process_.write("password\n");
        process_.waitForBytesWritten();
        process_.closeWriteChannel();
    }
    ~HelperWithStalledLog() {
        if (process_.state() != QProcess::NotRunning) {
            ::kill(static_cast<pid_t>(process_.processId()), SIGKILL);
            process_.waitForFinished();
        }
        if (FuseMounts::isMounted(mountPoint_))
            FuseMounts::detach(mountPoint_);
        ::close(readEnd_);
    }

    QString mountPoint() const { return mountPoint_; }
    QProcess& process() { return process_; }
    // Bytes waiting in the pipe, and how many it holds.
    int unread() const {
        int bytes = 0;
        ::ioctl(readEnd_, FIONREAD, &bytes);
        return bytes;
    }
    int capacity() const { return ::fcntl(readEnd_, F_GETPIPE_SZ); }

private:
    QString mountPoint_;
    int readEnd_ = -1;
    QProcess process_;
};

TEST(VolumeMount, ALogNobodyReadsHoldsUpNeitherTheVolumeNorTheEnd) {
    TestSession session;
    AddonSim sim;
    BusRecorder bus(session.bus());
    HelperWithStalledLog helper(session, sim);
    ASSERT_TRUE(bus.waitFor(QStringLiteral("finishedconnecting-") + title));
    ASSERT_TRUE(waitUntil([&] { return FuseMounts::isMounted(helper.mountPoint()); }));

    // Every new file and every write is an event the helper logs (hidden files stay on this computer).
    const QString news = helper.mountPoint() + "/news/";
    for (int i = 0; i < 2000; ++i) {
        QFile file(news + QStringLiteral(".note-%1").arg(i));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << i;
        ASSERT_EQ(file.write(QByteArray::number(i)), QByteArray::number(i).size());
    }
    for (int i = 0; i < 2000; ++i) {
        QFile file(news + QStringLiteral(".note-%1").arg(i));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << i;
        ASSERT_EQ(file.readAll(), QByteArray::number(i));
    }
    QFile page(news + "index.html");
    ASSERT_TRUE(page.open(QIODevice::WriteOnly | QIODevice::Truncate));
    page.write("written while nobody read the log\n");
    page.close();
    EXPECT_TRUE(waitUntilSiteMatchesVolume(sim, helper.mountPoint())) << "uploads go on";
    EXPECT_GE(helper.unread(), helper.capacity() / 2) << "the log's pipe filled up";

    ::kill(static_cast<pid_t>(helper.process().processId()), SIGTERM);
    ASSERT_TRUE(helper.process().waitForFinished(60'000));
    EXPECT_EQ(helper.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(helper.process().exitCode(), 0);
    EXPECT_TRUE(bus.waitFor(terminated));
    EXPECT_FALSE(FuseMounts::isMounted(helper.mountPoint()));
    EXPECT_FALSE(QFileInfo::exists(helper.mountPoint()));
}
