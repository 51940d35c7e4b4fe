// The helper from its command line to its end: login, list download, mirror, bus traffic, shutdown.
#include "testkit/ConnectedSite.h"
#include "testkit/Wait.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace folvane::testkit;
using nlohmann::json;

namespace {

unsigned modeOf(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 0777 : 0u;
}

// A way the first template list fails to arrive whole, every time it is asked for, and what the log says.
struct BrokenList {
    const char* what;
    json fault;
    const char* raw;
    QMap<QString, QString> environment;
    const char* logged;
};

void PrintTo(const BrokenList& broken, std::ostream* out) {
    *out << broken.what;
}

class HelperStartup : public ConnectedSite, public ::testing::WithParamInterface<BrokenList> {
protected:
    QString terminated() const { return signal(QStringLiteral("connection-terminated")); }
    // The start ended with status 1, mounted nothing and told the user why.
    void expectStartRefused(const QString& reason) const {
        expectEnd(1);
        const auto told = session_.waitForNotification("Could Not Connect");
        ASSERT_TRUE(told);
        EXPECT_TRUE(told->body.contains(reason)) << told->body.toStdString();
        EXPECT_FALSE(helper_->isMounted());
    }
};

} // namespace

// The support folder the helper makes is private; one that exists keeps its mode.
TEST_F(HelperStartup, LogsInDownloadsAndMirrorsEitherFlavourByteForByte) {
    for (const char* cms : {"ee", "wp"}) {
        SCOPED_TRACE(cms);
        serve(cms);
        launch();
        ASSERT_TRUE(helper_->waitForLog("templates in ")) << helper_->logText().toStdString();
        // Template sources hold secrets: no other user of the machine may get into the mirror.
        EXPECT_EQ(modeOf(session_.baseFolder()), ee() ? 0700u : 0755u);
        EXPECT_EQ(modeOf(session_.baseFolder() + "/.cache"), 0700u);
        const QString mirrorFolder = mirror();
        EXPECT_EQ(modeOf(mirrorFolder), 0700u);
        EXPECT_FALSE(siteContents(*sim_).empty());
        EXPECT_EQ(volumeContents(mirrorFolder), siteContents(*sim_));

        // ExpressionEngine carries the session id in every URL after the login; WordPress never does.
        const json log = sim_->log();
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(log[0]["action"], "login");
        EXPECT_TRUE(log[0]["session_id"].is_null());
        for (size_t i = 1; i < log.size(); ++i)
            EXPECT_EQ(log[i]["session_id"].is_string() && !log[i]["session_id"].get<std::string>().empty(),
                      ee())
                << log[i].dump();
        EXPECT_EQ(requests("list_all"), 1);
        EXPECT_EQ(sim_->requestsFor("login")[0]["form"],
                  (json{{"password", "password"}, {"username", "admin"}}));

        // The password never lands in a core file (nor, the command line's test shows, in the process list).
        const QByteArray limits = readFile(QStringLiteral("/proc/%1/limits").arg(helper_->pid()));
        EXPECT_EQ(limits.mid(limits.indexOf("Max core file size")).split('\n').first().simplified(),
                  "Max core file size 0 0 bytes");
        helper_->terminate();
        expectEnd(0);
        ASSERT_EQ(::chmod(QFile::encodeName(session_.baseFolder()).constData(), 0755), 0);
    }
}

// A refused login is shown (when notifications are on) as the site wrote it: a message that would be markup
// to the notification server and a line of its own to the log. An unreachable site has no message to show.
TEST_F(HelperStartup, ALoginThatFailsEndsTheHelperAndIsShownOnlyWhenAsked) {
    serve();
    sim_->config({{"login", "refuse"}, {"login_message", "Bad <b>password</b> & user.\nSaved forged.html"}});
    for (const bool notifications : {true, false}) {
        HelperRunner::Options options;
        options.notifications = notifications;
        launch(options);
        expectEnd(1);
        ASSERT_TRUE(bus_->waitFor(terminated(), defaultTimeoutMs, notifications ? 1 : 2));
    }
    HelperRunner::Options unreachable;
    unreachable.url = QStringLiteral("http://127.0.0.1:1/admin.php?D=cp"); // nothing listens on port 1
    launch(unreachable);
    expectEnd(1);
    EXPECT_TRUE(bus_->waitFor(terminated(), defaultTimeoutMs, 3));
    const auto shown = session_.notifications();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].summary, "Login Error");
    EXPECT_EQ(shown[0].body, "Bad &lt;b&gt;password&lt;/b&gt; &amp; user.\nSaved forged.html");
    EXPECT_EQ(requests("list_all"), 0);
}

// Requests to log in again that come while a login is on its way (the refresh's, or one they started)
// are answered by it.
TEST_F(HelperStartup, ABurstOfNewSessionRequestsMakesOneLoginInFlight) {
    connect();
    sim_->fault({{"action", "login"}, {"kind", "delay"}, {"ms", 1500}, {"times", 1}});
    for (int i = 0; i < 20; ++i)
        bus_->post(signal("newSessionID"), {});
    ASSERT_TRUE(waitUntil([&] { return requests("login") == 1; }));

    sim_->fault({{"action", "login"}, {"kind", "delay"}, {"ms", 1500}, {"times", 1}});
    bus_->post(signal("refresh"), {{"row", 0}});
    ASSERT_TRUE(waitUntil([&] { return helper_->logText().count("Requesting site") == 2; }))
        << helper_->logText().toStdString();
    for (int i = 0; i < 20; ++i)
        bus_->post(signal("newSessionID"), {});
    ASSERT_TRUE(bus_->waitFor(signal("refresh-done")));
    EXPECT_EQ(requests("login"), 2) << sim_->requestsFor("login").dump();
}

// A request to log in again reaches the helper of its site alone, though one title begins the other and
// holds blanks, quotes and letters beyond ASCII; the new login goes to the session URL.
TEST_F(HelperStartup, NewSessionRequestsAndEndsReachOnlyTheirOwnSite) {
    HelperRunner::Options options;
    options.title = QStringLiteral("O'Brien's \"Blog\" – café");
    connect("ee", options);
    AddonSim other;
    options.url = other.baseUrl();
    options.title += u'B';
    HelperRunner longer(session_, options);
    ASSERT_TRUE(bus_->waitFor("finishedconnecting-" + options.title)) << longer.logText().toStdString();
    other.clearLog();
    bus_->post("newSessionID-" + options.title, {});
    ASSERT_TRUE(waitUntil([&] { return other.requestsFor("login").size() == 1; }));
    EXPECT_TRUE(other.requestsFor("login")[0]["session_id"].is_string());
    EXPECT_EQ(requests("login"), 0);
    helper_->terminate();
    ASSERT_TRUE(bus_->waitFor(terminated()));
    EXPECT_EQ(bus_->signalsNamed(terminated()).front().value("title").toString(), title());
    expectEnd(0);
    EXPECT_TRUE(longer.isRunning()) << "ending one must not end the other";
    EXPECT_EQ(bus_->count("connection-terminated-" + options.title), 0);
}

// A list that is broken on the wire (a simulator fault) or in its text (served raw).
const BrokenList brokenLists[] = {
    {"ConnectionClosed", {{"action", "list_all"}, {"kind", "drop"}}, "", {}, ""},
    // Announced far over the list's cap, then a byte a second: refused at once, not waited for.
    {"OverItsCap",
     {{"action", "list_all"}, {"kind", "drip"}, {"ms", 1000}, {"length", 2000000000}},
     "",
     {},
     "Template list request failed: answer too large: more than 536870912 bytes from 127.0.0.1"},
    {"NeverFallingSilent",
     {{"action", "list_all"}, {"kind", "drip"}, {"ms", 100}},
     "",
     {{"FOLVANE_ANSWER_DEADLINE_MS", "1000"}},
     "Template list request failed: no complete answer within 1000 ms"},
    {"JsonStoppingHalfWay",
     {},
     R"({"folders":[{"id":1,"name":"site","is_special":true,"files":[)"
     R"({"id":3,"name":"index.html","data":"eA=="},)",
     {},
     ""},
    {"NotJson", {}, "<html><body>Fatal error</body></html>", {}, ""},
};

TEST_P(HelperStartup, AListThatNeverArrivesWholeIsAskedForAgainThenNothingIsMounted) {
    serve();
    if (GetParam().fault.is_null())
        sim_->setListAllRaw(GetParam().raw);
    else
        sim_->fault(GetParam().fault);
    HelperRunner::Options options;
    options.extraEnv = GetParam().environment;
    launch(options);
    expectEnd(1, GetParam().logged);
    expectStartRefused("did not arrive whole");
    // Four attempts (Qt itself may send a request again once when the connection closed at once).
    EXPECT_GE(requests("list_all"), 4);
    EXPECT_TRUE(bus_->waitFor(terminated()));
    EXPECT_FALSE(QFileInfo::exists(helper_->mountPoint()));
    EXPECT_TRUE(mirror().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(EveryWay, HelperStartup, ::testing::ValuesIn(brokenLists),
                         [](const auto& info) { return std::string(info.param.what); });

TEST_F(HelperStartup, AListThatArrivesWholeOnALaterAttemptIsMounted) {
    serve();
    sim_->fault(
        {{"action", "list_all"}, {"kind", "drip"}, {"ms", 1000}, {"length", 2000000000}, {"times", 2}});
    launch();
    ASSERT_TRUE(bus_->waitFor(signal("finishedconnecting"))) << helper_->logText().toStdString();
    EXPECT_TRUE(helper_->isMounted());
    EXPECT_EQ(requests("list_all"), 3);
    EXPECT_EQ(volumeContents(volume()), siteContents(*sim_));
}

TEST_F(HelperStartup, AConnectRightAfterAnEjectWaitsForTheEndingHelper) {
    connect();
    std::unique_ptr<HelperRunner> first = std::move(helper_);
    first->terminate();
    reconnect();
    ASSERT_TRUE(first->waitForExit());
    EXPECT_EQ(volumeContents(volume()), siteContents(*sim_));
    EXPECT_EQ(filesBelow(mirror()), filesBelow(volume()))
        << "the first helper's end took nothing of the second's";
}

// Without a runtime folder the lock is kept in the support folder, never in the temporary folder, where
// anyone may make a folder first; it still keeps a second helper for a live site from touching it.
TEST_F(HelperStartup, ASecondHelperForALiveSiteLeavesItAloneAndSaysSo) {
    QTemporaryDir temporary;
    HelperRunner::Options options;
    options.extraEnv = {{"XDG_RUNTIME_DIR", ""}, {"TMPDIR", temporary.path()}};
    connect("ee", options);
    EXPECT_EQ(QDir(session_.baseFolder() + "/.cache").entryList({"*.lock"}, QDir::Files).size(), 1);
    EXPECT_TRUE(QDir(temporary.path()).isEmpty());
    const Contents before = filesBelow(mirror());

    HelperRunner second(session_, options_);
    ASSERT_TRUE(second.waitForExit());
    EXPECT_EQ(second.exitCode(), 3);
    EXPECT_TRUE(second.logText().contains(QStringLiteral("already connected")))
        << second.logText().toStdString();
    EXPECT_TRUE(helper_->isRunning());
    EXPECT_TRUE(helper_->isMounted());
    EXPECT_EQ(filesBelow(mirror()), before);
    EXPECT_EQ(bus_->count(terminated()), 0);
    EXPECT_EQ(bus_->count(signal("finishedconnecting")), 1);
}

TEST_F(HelperStartup, ALockFolderThatIsNotTheUsersAloneEndsTheStartUntouched) {
    QTemporaryDir runtime;
    const QString theirs = runtime.filePath("folvane3");
    ASSERT_TRUE(QDir().mkpath(theirs));
    ASSERT_EQ(::chown(QFile::encodeName(theirs).constData(), 65534, 65534), 0);
    HelperRunner::Options options;
    options.extraEnv = {{"XDG_RUNTIME_DIR", runtime.path()}};
    launch(options);
    expectStartRefused("is not this user's alone");
    EXPECT_TRUE(sim_->log().empty()) << "nothing is asked of the site";
}

TEST_F(HelperStartup, ALeftOverMirrorThatCannotBeSetAsideStopsTheStartAndStays) {
    connect();
    sh(QStringLiteral("printf 'only here' > news/notes.txt"));
    helper_->kill();
    ASSERT_TRUE(helper_->waitForExit());
    const QString left = mirror();
    const Contents before = filesBelow(left);
    ASSERT_EQ(before.at("/news/notes.txt"), "only here");
    // A mount point cannot be renamed: the folder mounted on itself stands for any folder that cannot be.
    if (QProcess::execute("mount", {"--bind", left, left}) != 0)
        GTEST_SKIP() << "bind mounts are not allowed here";
    sim_->clearLog();
    launch(options_);
    helper_->waitForExit();
    const Contents mountedBefore = filesBelow(left);
    QProcess::execute("umount", {left});
    expectStartRefused("could not be set aside");
    EXPECT_EQ(bus_->count(signal("finishedconnecting")), 1) << "only the crashed run's";
    EXPECT_EQ(mountedBefore, before);
    EXPECT_EQ(filesBelow(left), before);
    EXPECT_EQ(requests("list_all"), 0) << "the start stopped before the list";
}
