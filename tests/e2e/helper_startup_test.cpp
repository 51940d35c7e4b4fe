// The helper from its command line to its end: login, list download, mirror, bus traffic, shutdown.
#include "testkit/ConnectedSite.h"
#include "testkit/Wait.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace folvane::testkit;
using nlohmann::json;

namespace {

HelperRunner::Options optionsFor(const AddonSim& sim, const QString& title = QStringLiteral("Test Site")) {
    HelperRunner::Options options;
    options.url = sim.baseUrl();
    options.title = title;
    options.cms = sim.cms() == "wp" ? QStringLiteral("Wordpress") : QStringLiteral("ExpressionEngine");
    return options;
}

QString connectionTerminated(const QString& title) {
    return QStringLiteral("connection-terminated-") + title;
}

QString mirrorOf(TestSession& session) {
    const QDir cache(session.baseFolder() + "/.cache");
    const QStringList entries = cache.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    return entries.size() == 1 ? cache.filePath(entries.first()) : QString();
}

class HelperStartup : public ::testing::TestWithParam<const char*> {};

} // namespace

TEST_P(HelperStartup, LogsInDownloadsAndMirrorsTheSiteByteForByte) {
    TestSession session;
    AddonSim sim(GetParam());
    BusRecorder bus(session.bus());
    HelperRunner helper(session, optionsFor(sim));
    ASSERT_TRUE(helper.waitForLog("templates in ")) << helper.logText().toStdString();

    const QString mirror = mirrorOf(session);
    ASSERT_FALSE(mirror.isEmpty());
    // Template sources hold secrets: no other user of the machine may get into the mirror.
    for (const QString& folder : {session.baseFolder(), session.baseFolder() + "/.cache"}) {
        struct stat info {};
        ASSERT_EQ(::stat(QFile::encodeName(folder).constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0700u) << folder.toStdString();
    }
    const auto expected = siteContents(sim);
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(filesBelow(mirror), expected);

    // ExpressionEngine carries the session id in every URL after the login; WordPress never does.
    const json log = sim.log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[0]["action"], "login");
    EXPECT_TRUE(log[0]["session_id"].is_null());
    for (size_t i = 1; i < log.size(); ++i) {
        if (std::string(GetParam()) == "ee")
            EXPECT_TRUE(log[i]["session_id"].is_string() && !log[i]["session_id"].get<std::string>().empty())
                << log[i].dump();
        else
            EXPECT_TRUE(log[i]["session_id"].is_null()) << log[i].dump();
    }
    EXPECT_EQ(sim.requestsFor("list_all").size(), 1u);
    EXPECT_EQ(sim.requestsFor("login")[0]["form"], (json{{"password", "password"}, {"username", "admin"}}));

    // The password never lands in a core file (nor, the command line's test shows, in the process list).
    QFile limits(QStringLiteral("/proc/%1/limits").arg(helper.pid()));
    ASSERT_TRUE(limits.open(QIODevice::ReadOnly));
    const QByteArray text = limits.readAll();
    EXPECT_EQ(text.mid(text.indexOf("Max core file size")).split('\n').first().simplified(),
              "Max core file size 0 0 bytes");

    helper.terminate();
    ASSERT_TRUE(helper.waitForExit());
    EXPECT_EQ(helper.exitCode(), 0);
    ASSERT_TRUE(bus.waitFor(connectionTerminated("Test Site")));
    EXPECT_EQ(
        bus.signalsNamed(connectionTerminated("Test Site")).front(),
        (QVariantMap{{"title", QStringLiteral("Test Site")}, {"askedBy", QStringLiteral("signal 15")}}));
    EXPECT_FALSE(QDir(mirror).exists()) << "the mirror folder is removed at shutdown";
    EXPECT_FALSE(helper.logText().contains("password\n"));
}

INSTANTIATE_TEST_SUITE_P(BothFlavours, HelperStartup, ::testing::Values("ee", "wp"));

TEST(HelperLogin, RefusedLoginNotifiesOnlyWhenAskedAndEndsTheHelper) {
    for (const bool notifications : {true, false}) {
        TestSession session;
        AddonSim sim;
        // A message that would be markup to the notification server and a line of its own to the log.
        sim.config(
            {{"login", "refuse"}, {"login_message", "Bad <b>password</b> & user.\nSaved forged.html"}});
        BusRecorder bus(session.bus());
        HelperRunner::Options options = optionsFor(sim);
        options.notifications = notifications;
        HelperRunner helper(session, options);
        ASSERT_TRUE(helper.waitForExit());
        EXPECT_EQ(helper.exitCode(), 1);
        ASSERT_TRUE(bus.waitFor(connectionTerminated("Test Site")));
        const auto shown = session.notifications();
        if (notifications) {
            ASSERT_EQ(shown.size(), 1u);
            EXPECT_EQ(shown[0].summary, "Login Error");
            EXPECT_EQ(shown[0].body, "Bad &lt;b&gt;password&lt;/b&gt; &amp; user.\nSaved forged.html");
            EXPECT_EQ(shown[0].appName, "Folvane 3");
            EXPECT_EQ(shown[0].expireTimeout, -1);
        } else {
            EXPECT_TRUE(shown.empty());
        }
        EXPECT_TRUE(sim.requestsFor("list_all").empty());
    }
}

TEST(HelperLogin, UnreachableSiteEndsTheHelperThroughItsShutdown) {
    TestSession session;
    BusRecorder bus(session.bus());
    HelperRunner::Options options;
    options.url = QStringLiteral("http://127.0.0.1:1/admin.php?D=cp"); // nothing listens on port 1
    HelperRunner helper(session, options);
    ASSERT_TRUE(helper.waitForExit());
    EXPECT_EQ(helper.exitCode(), 1);
    EXPECT_TRUE(bus.waitFor(connectionTerminated("Test Site")));
    EXPECT_TRUE(session.notifications().empty()) << "a transport failure carries no message to show";
}

// Requests to log in again that come while a login is on its way (the refresh's, or one they started)
// are answered by it.
TEST(HelperLogin, ABurstOfNewSessionRequestsMakesOneLoginInFlight) {
    TestSession session;
    AddonSim sim;
    BusRecorder bus(session.bus());
    HelperRunner helper(session, optionsFor(sim));
    ASSERT_TRUE(bus.waitFor(QStringLiteral("finishedconnecting-Test Site")));
    sim.clearLog();
    sim.fault({{"action", "login"}, {"kind", "delay"}, {"ms", 1500}, {"times", 1}});
    for (int i = 0; i < 20; ++i)
        bus.post("newSessionID-Test Site", {});
    ASSERT_TRUE(waitUntil([&] { return sim.requestsFor("login").size() == 1; }));

    sim.fault({{"action", "login"}, {"kind", "delay"}, {"ms", 1500}, {"times", 1}});
    bus.post("refresh-Test Site", {{"row", 0}});
    ASSERT_TRUE(waitUntil([&] { return helper.logText().count("Requesting site") == 2; }))
        << helper.logText().toStdString();
    for (int i = 0; i < 20; ++i)
        bus.post("newSessionID-Test Site", {});
    ASSERT_TRUE(bus.waitFor(QStringLiteral("refresh-done-Test Site")));
    EXPECT_EQ(sim.requestsFor("login").size(), 2u) << sim.requestsFor("login").dump();
}

// A request to log in again reaches the helper of its site alone, though one title begins the other and
// holds blanks, quotes and letters beyond ASCII; the new login goes to the session URL.
TEST(HelperLogin, NewSessionRequestsAndEndsReachOnlyTheirOwnSite) {
    TestSession session;
    AddonSim simA, simAB;
    BusRecorder bus(session.bus());
    const QString a = QStringLiteral("O'Brien's \"Blog\" – café"), ab = a + "B";
    HelperRunner helperA(session, optionsFor(simA, a));
    HelperRunner helperAB(session, optionsFor(simAB, ab));
    ASSERT_TRUE(helperA.waitForLog("templates in ")) << helperA.logText().toStdString();
    ASSERT_TRUE(helperAB.waitForLog("templates in "));
    simA.clearLog();
    simAB.clearLog();
    bus.post("newSessionID-" + ab, {});
    ASSERT_TRUE(waitUntil([&] { return simAB.requestsFor("login").size() == 1; }));
    EXPECT_TRUE(simAB.requestsFor("login")[0]["session_id"].is_string());
    EXPECT_TRUE(simA.requestsFor("login").empty());
    helperA.terminate();
    ASSERT_TRUE(bus.waitFor(connectionTerminated(a)));
    EXPECT_EQ(bus.signalsNamed(connectionTerminated(a)).front().value("title").toString(), a);
    ASSERT_TRUE(helperA.waitForExit());
    EXPECT_TRUE(helperAB.isRunning()) << "ending one must not end the other";
    EXPECT_EQ(bus.count(connectionTerminated(ab)), 0);
}

TEST(HelperCommandLine, TooFewArgumentsPrintUsageAndTouchNothing) {
    TestSession session;
    QStringList args = HelperRunner::commandLine(HelperRunner::Options{}, session.baseFolder());
    args.removeLast();
    const auto finished = HelperRunner::run(session, args);
    EXPECT_EQ(finished.exitCode, 2);
    EXPECT_TRUE(finished.standardError.contains("usage:")) << finished.standardError.toStdString();
    EXPECT_FALSE(QDir(session.baseFolder()).exists());
}

TEST(HelperCommandLine, AnExistingBaseFolderKeepsItsModeAndWhatTheHelperMakesIsPrivate) {
    TestSession session;
    AddonSim sim;
    ASSERT_TRUE(QDir().mkpath(session.baseFolder()));
    ASSERT_EQ(::chmod(QFile::encodeName(session.baseFolder()).constData(), 0755), 0);
    HelperRunner helper(session, optionsFor(sim));
    ASSERT_TRUE(helper.waitForLog("templates in ")) << helper.logText().toStdString();
    const auto mode = [](const QString& path) {
        struct stat info {};
        return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 0777 : 0u;
    };
    EXPECT_EQ(mode(session.baseFolder()), 0755u);
    EXPECT_EQ(mode(session.baseFolder() + "/.cache"), 0700u);
    EXPECT_EQ(mode(mirrorOf(session)), 0700u);
}

namespace {
// A way the first template list fails to arrive whole, every time it is asked for, and what the log says.
struct BrokenList {
    const char* what;
    std::function<void(const AddonSim&)> breakIt;
    QMap<QString, QString> environment;
    const char* logged;
};
} // namespace

TEST(HelperStartup, AListThatNeverArrivesWholeIsAskedForAgainThenNothingIsMounted) {
    const std::vector<BrokenList> cases{
        {"connection closed",
         [](const AddonSim& sim) {
             sim.fault({{"action", "list_all"}, {"kind", "drop"}});
         },
         {},
         ""},
        // Announced far over the list's cap, then a byte a second: refused at once, not waited for.
        {"over its cap",
         [](const AddonSim& sim) {
             sim.fault({{"action", "list_all"}, {"kind", "drip"}, {"ms", 1000}, {"length", 2000000000}});
         },
         {},
         "Template list request failed: answer too large: more than 536870912 bytes from 127.0.0.1"},
        {"never falling silent",
         [](const AddonSim& sim) {
             sim.fault({{"action", "list_all"}, {"kind", "drip"}, {"ms", 100}});
         },
         {{"FOLVANE_ANSWER_DEADLINE_MS", "1000"}},
         "Template list request failed: no complete answer within 1000 ms"},
        {"JSON stopping half-way",
         [](const AddonSim& sim) {
             sim.setListAllRaw(R"({"folders":[{"id":1,"name":"site","is_special":true,"files":[)"
                               R"({"id":3,"name":"index.html","data":"eA=="},)");
         },
         {},
         ""},
        {"not JSON",
         [](const AddonSim& sim) { sim.setListAllRaw("<html><body>Fatal error</body></html>"); },
         {},
         ""},
    };
    for (const BrokenList& broken : cases) {
        SCOPED_TRACE(broken.what);
        TestSession session;
        AddonSim sim;
        BusRecorder bus(session.bus());
        broken.breakIt(sim);
        HelperRunner::Options options = optionsFor(sim);
        options.extraEnv = broken.environment;
        HelperRunner helper(session, options);
        ASSERT_TRUE(helper.waitForExit(60'000)) << helper.logText().toStdString();
        EXPECT_EQ(helper.exitCode(), 1);
        EXPECT_TRUE(helper.logText().contains(broken.logged)) << helper.logText().toStdString();
        // Four attempts (Qt itself may send a request again once when the connection closed at once).
        EXPECT_GE(sim.requestsFor("list_all").size(), 4u);
        EXPECT_TRUE(bus.waitFor(connectionTerminated("Test Site")));
        EXPECT_EQ(bus.count("finishedconnecting-Test Site"), 0);
        const auto told = session.waitForNotification("Could Not Connect");
        ASSERT_TRUE(told);
        EXPECT_TRUE(told->body.contains("did not arrive whole")) << told->body.toStdString();
        EXPECT_FALSE(QFileInfo::exists(helper.mountPoint()));
        EXPECT_TRUE(mirrorOf(session).isEmpty());
    }
}

TEST(HelperStartup, AListThatArrivesWholeOnALaterAttemptIsMounted) {
    TestSession session;
    AddonSim sim;
    BusRecorder bus(session.bus());
    sim.fault({{"action", "list_all"}, {"kind", "drip"}, {"ms", 1000}, {"length", 2000000000}, {"times", 2}});
    HelperRunner helper(session, optionsFor(sim));
    ASSERT_TRUE(bus.waitFor("finishedconnecting-Test Site")) << helper.logText().toStdString();
    EXPECT_TRUE(helper.isMounted());
    EXPECT_EQ(sim.requestsFor("list_all").size(), 3u);
    EXPECT_EQ(filesBelow(helper.mountPoint()), siteContents(sim));
}

TEST(HelperStartup, AConnectRightAfterAnEjectWaitsForTheEndingHelper) {
    TestSession session;
    AddonSim sim;
    BusRecorder bus(session.bus());
    HelperRunner first(session, optionsFor(sim, QStringLiteral("Again")));
    ASSERT_TRUE(bus.waitFor(QStringLiteral("finishedconnecting-Again")));
    first.terminate();
    HelperRunner second(session, optionsFor(sim, QStringLiteral("Again")));
    ASSERT_TRUE(first.waitForExit());
    ASSERT_TRUE(bus.waitFor(QStringLiteral("finishedconnecting-Again"), defaultTimeoutMs, 2))
        << second.logText().toStdString();
    EXPECT_TRUE(second.isMounted());
    EXPECT_FALSE(filesBelow(second.mountPoint()).empty());
    EXPECT_EQ(filesBelow(mirrorOf(session)), filesBelow(second.mountPoint()))
        << "the first helper's end took nothing of the second's mirror";
}

// Without a runtime folder the lock is kept in the support folder, never in the temporary folder, where
// anyone may make a folder first; it still keeps a second helper for a live site from touching it.
TEST(HelperStartup, ASecondHelperForALiveSiteLeavesItAloneAndSaysSo) {
    TestSession session;
    AddonSim sim;
    BusRecorder bus(session.bus());
    QTemporaryDir temporary;
    HelperRunner::Options options = optionsFor(sim, QStringLiteral("Twice"));
    options.extraEnv = {{"XDG_RUNTIME_DIR", ""}, {"TMPDIR", temporary.path()}};
    HelperRunner first(session, options);
    ASSERT_TRUE(bus.waitFor(QStringLiteral("finishedconnecting-Twice"))) << first.logText().toStdString();
    EXPECT_EQ(QDir(session.baseFolder() + "/.cache").entryList({"*.lock"}, QDir::Files).size(), 1);
    EXPECT_TRUE(QDir(temporary.path()).isEmpty());
    const QString mirror = mirrorOf(session);
    const auto before = filesBelow(mirror);

    HelperRunner second(session, options);
    ASSERT_TRUE(second.waitForExit(30'000));
    EXPECT_EQ(second.exitCode(), 3);
    EXPECT_TRUE(second.logText().contains(QStringLiteral("already connected")))
        << second.logText().toStdString();
    EXPECT_TRUE(first.isRunning());
    EXPECT_TRUE(first.isMounted());
    EXPECT_EQ(filesBelow(mirror), before);
    EXPECT_EQ(bus.count(connectionTerminated(QStringLiteral("Twice"))), 0);
    EXPECT_EQ(bus.count(QStringLiteral("finishedconnecting-Twice")), 1);
}

TEST(HelperStartup, ALockFolderThatIsNotTheUsersAloneEndsTheStartUntouched) {
    TestSession session;
    AddonSim sim;
    BusRecorder bus(session.bus());
    QTemporaryDir runtime;
    const QString theirs = runtime.filePath("folvane3");
    ASSERT_TRUE(QDir().mkpath(theirs));
    ASSERT_EQ(::chown(QFile::encodeName(theirs).constData(), 65534, 65534), 0);
    HelperRunner::Options options = optionsFor(sim);
    options.extraEnv = {{"XDG_RUNTIME_DIR", runtime.path()}};
    HelperRunner helper(session, options);
    ASSERT_TRUE(helper.waitForExit()) << helper.logText().toStdString();
    EXPECT_EQ(helper.exitCode(), 1);
    const auto told = session.waitForNotification("Could Not Connect");
    ASSERT_TRUE(told);
    EXPECT_TRUE(told->body.contains("is not this user's alone")) << told->body.toStdString();
    EXPECT_EQ(bus.count("finishedconnecting-Test Site"), 0);
    EXPECT_FALSE(QFileInfo::exists(helper.mountPoint()));
    EXPECT_TRUE(sim.log().empty()) << "nothing is asked of the site";
}

TEST(HelperStartup, ALeftOverMirrorThatCannotBeSetAsideStopsTheStartAndStays) {
    TestSession session;
    AddonSim sim;
    BusRecorder bus(session.bus());
    {
        HelperRunner crashed(session, optionsFor(sim));
        ASSERT_TRUE(bus.waitFor("finishedconnecting-Test Site"));
        QFile edit(crashed.mountPoint() + "/news/notes.txt");
        ASSERT_TRUE(edit.open(QIODevice::WriteOnly));
        edit.write("only here");
        edit.close();
        crashed.kill();
        ASSERT_TRUE(crashed.waitForExit());
    }
    const QString mirror = mirrorOf(session);
    const auto before = filesBelow(mirror);
    ASSERT_EQ(before.at("/news/notes.txt"), "only here");
    // A mount point cannot be renamed: the folder mounted on itself stands for any folder that cannot be.
    if (QProcess::execute("mount", {"--bind", mirror, mirror}) != 0)
        GTEST_SKIP() << "bind mounts are not allowed here";
    HelperRunner helper(session, optionsFor(sim));
    ASSERT_TRUE(helper.waitForExit()) << helper.logText().toStdString();
    const auto mountedBefore = filesBelow(mirror);
    QProcess::execute("umount", {mirror});
    EXPECT_EQ(helper.exitCode(), 1);
    const auto told = session.waitForNotification("Could Not Connect");
    ASSERT_TRUE(told);
    EXPECT_TRUE(told->body.contains("could not be set aside")) << told->body.toStdString();
    EXPECT_EQ(bus.count("finishedconnecting-Test Site"), 1) << "only the crashed run's";
    EXPECT_EQ(mountedBefore, before);
    EXPECT_EQ(filesBelow(mirror), before);
    EXPECT_TRUE(sim.requestsFor("list_all").size() == 1u) << "the start stopped before the list";
}
