// The helper from its command line to its end: login, list download, mirror, bus traffic, shutdown.
#include "testkit/AddonSim.h"
#include "testkit/BusRecorder.h"
#include "testkit/HelperRunner.h"
#include "testkit/TestSession.h"
#include "testkit/Wait.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <gtest/gtest.h>
#include <sys/stat.h>

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

// Every file below `folder`, volume-relative path -> content.
std::map<std::string, std::string> filesBelow(const QString& folder) {
    std::map<std::string, std::string> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        files[file.fileName().mid(folder.size()).toStdString()] = file.readAll().toStdString();
    }
    return files;
}

std::map<std::string, std::string> templatesOf(const AddonSim& sim) {
    std::map<std::string, std::string> templates;
    const json state = sim.state();
    for (const json& t : state["templates"])
        templates[t["path"].get<std::string>()] =
            QByteArray::fromBase64(QByteArray::fromStdString(t["data"].get<std::string>())).toStdString();
    return templates;
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
    AddonSim sim({.cms = GetParam(), .seedFile = {}, .seed = {}, .extraArguments = {}});
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
    const auto expected = templatesOf(sim);
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

    // The password never shows in the process list.
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(helper.pid()));
    ASSERT_TRUE(cmdline.open(QIODevice::ReadOnly));
    EXPECT_FALSE(cmdline.readAll().contains("password"));

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
        sim.config({{"login", "refuse"}, {"login_message", "Bad password for admin."}});
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
            EXPECT_EQ(shown[0].body, "Bad password for admin.");
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

TEST(HelperLogin, NewSessionRequestLogsInAgainAndRewritesTheUrls) {
    TestSession session;
    AddonSim sim;
    BusRecorder bus(session.bus());
    HelperRunner helper(session, optionsFor(sim));
    ASSERT_TRUE(helper.waitForLog("templates in "));
    sim.clearLog();
    bus.post("newSessionID-Test Site", {});
    ASSERT_TRUE(waitUntil([&] { return sim.requestsFor("login").size() == 1; }));
    const json login = sim.requestsFor("login")[0];
    EXPECT_TRUE(login["session_id"].is_string()) << "the re-login goes to the session URL";
}

TEST(HelperLogin, SitesTitledAAndABAreKeptApart) {
    TestSession session;
    AddonSim simA, simAB;
    BusRecorder bus(session.bus());
    HelperRunner a(session, optionsFor(simA, "A"));
    HelperRunner ab(session, optionsFor(simAB, "AB"));
    ASSERT_TRUE(a.waitForLog("templates in "));
    ASSERT_TRUE(ab.waitForLog("templates in "));
    simA.clearLog();
    simAB.clearLog();
    bus.post("newSessionID-AB", {});
    ASSERT_TRUE(waitUntil([&] { return simAB.requestsFor("login").size() == 1; }));
    EXPECT_TRUE(simA.requestsFor("login").empty());
    a.terminate();
    ASSERT_TRUE(bus.waitFor(connectionTerminated("A")));
    ASSERT_TRUE(a.waitForExit());
    EXPECT_TRUE(ab.isRunning()) << "ending A must not end AB";
    EXPECT_EQ(bus.count(connectionTerminated("AB")), 0);
}

TEST(HelperLogin, TitlesWithBlanksQuotesAndNonAsciiWorkOnTheBus) {
    TestSession session;
    AddonSim sim({.cms = "wp", .seedFile = {}, .seed = {}, .extraArguments = {}});
    BusRecorder bus(session.bus());
    const QString title = QStringLiteral("O'Brien's \"Blog\" – café");
    HelperRunner helper(session, optionsFor(sim, title));
    ASSERT_TRUE(helper.waitForLog("templates in ")) << helper.logText().toStdString();
    sim.clearLog();
    bus.post("newSessionID-" + title, {});
    ASSERT_TRUE(waitUntil([&] { return sim.requestsFor("login").size() == 1; }));
    helper.terminate();
    ASSERT_TRUE(bus.waitFor(connectionTerminated(title)));
    EXPECT_EQ(bus.signalsNamed(connectionTerminated(title)).front().value("title").toString(), title);
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

TEST(HelperCommandLine, MissingBaseFolderIsCreatedAndOddAnswersDoNotCrash) {
    TestSession session;
    AddonSim sim;
    sim.setListAllRaw("<html><body>Fatal error</body></html>");
    HelperRunner::Options options = optionsFor(sim);
    options.defaultGroupAlert = true;
    HelperRunner helper(session, options);
    ASSERT_TRUE(helper.waitForLog("Found 0 template groups and 0 templates"));
    EXPECT_TRUE(QDir(session.baseFolder()).exists());
    // An answer without "folders" means no default group either.
    EXPECT_TRUE(session.waitForNotification("Warning").has_value());
    EXPECT_TRUE(helper.isRunning());
}

TEST(HelperStartup, ASecondHelperForALiveSiteLeavesItAloneAndSaysSo) {
    TestSession session;
    AddonSim sim;
    BusRecorder bus(session.bus());
    HelperRunner first(session, optionsFor(sim, QStringLiteral("Twice")));
    ASSERT_TRUE(bus.waitFor(QStringLiteral("finishedconnecting-Twice")));
    const QString mirror = mirrorOf(session);
    const auto before = filesBelow(mirror);

    HelperRunner second(session, optionsFor(sim, QStringLiteral("Twice")));
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

TEST(HelperStartup, TheHelperHoldingThePasswordLeavesNoCoreFile) {
    TestSession session;
    AddonSim sim;
    BusRecorder bus(session.bus());
    HelperRunner helper(session, optionsFor(sim, QStringLiteral("Private")));
    ASSERT_TRUE(bus.waitFor(QStringLiteral("finishedconnecting-Private")));
    QFile limits(QStringLiteral("/proc/%1/limits").arg(helper.pid()));
    ASSERT_TRUE(limits.open(QIODevice::ReadOnly));
    const QByteArray text = limits.readAll();
    const qsizetype line = text.indexOf("Max core file size");
    ASSERT_GE(line, 0);
    EXPECT_EQ(text.mid(line).split('\n').first().simplified(), "Max core file size 0 0 bytes");
}
