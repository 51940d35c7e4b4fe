// folvane3's command line against the simulator, with a real Secret Service and the real helper.
#include "testkit/AddonSim.h"
#include "testkit/AppRunner.h"
#include "testkit/BusRecorder.h"
#include "testkit/FuseMounts.h"
#include "testkit/TestSession.h"
#include "testkit/UntrustedTlsSite.h"
#include "testkit/Wait.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>

using namespace folvane::testkit;
using nlohmann::json;

namespace {

const QString invalidAuthentication =
    QStringLiteral("Invalid authentication info, please check the fields entered are correct.");

AppRunner::Finished folvane3(TestSession& session, const QStringList& arguments,
                             std::optional<QByteArray> input = std::nullopt) {
    return AppRunner::run(session, arguments, std::move(input));
}

AppRunner::Finished addSite(TestSession& session, const QString& title, const QString& url,
                            const QByteArray& password = "password") {
    return folvane3(session,
                    {QStringLiteral("sites"), QStringLiteral("add"), QStringLiteral("--title"), title,
                     QStringLiteral("--url"), url, QStringLiteral("--user"), QStringLiteral("admin")},
                    password + '\n');
}

QString readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()) : QString();
}

// The pid of the first child of `parent`.
std::optional<qint64> childOf(qint64 parent) {
    const QStringList children =
        readFile(QStringLiteral("/proc/%1/task/%1/children").arg(parent)).split(u' ', Qt::SkipEmptyParts);
    if (children.isEmpty())
        return std::nullopt;
    return children.first().toLongLong();
}

class AppCli : public ::testing::Test {
protected:
    TestSession session{SessionOptions{.secretService = true}};
    AddonSim sim;
};

} // namespace

TEST_F(AppCli, KeepsTheSiteListInOrderWithPasswordsOnlyInTheSecretService) {
    ASSERT_EQ(addSite(session, "Alpha", sim.baseUrl(), "Qz-first-secret").exitCode, 0);
    ASSERT_EQ(addSite(session, "Beta", "https://beta.example:8443/admin.php", "").exitCode, 0);
    ASSERT_EQ(addSite(session, "Gamma", "www.gamma.example/admin.php").exitCode, 0);

    AppRunner::Finished list = folvane3(session, {QStringLiteral("sites"), QStringLiteral("list")});
    ASSERT_EQ(list.exitCode, 0) << list.standardError.toStdString();
    QStringList lines = list.standardOutput.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4) << list.standardOutput.toStdString();
    EXPECT_TRUE(lines[1].startsWith("Alpha") && lines[1].contains(sim.baseUrl()) &&
                lines[1].endsWith("stored"));
    EXPECT_TRUE(lines[2].startsWith("Beta") && lines[2].endsWith("none"));
    EXPECT_TRUE(lines[3].startsWith("Gamma") && lines[3].endsWith("stored"));

    const QString listFile = session.baseFolder() + "/sites.plist";
    EXPECT_TRUE(readFile(listFile).startsWith("bplist00"));
    EXPECT_FALSE(readFile(listFile).contains("Qz-first-secret"));

    // Refusals leave the list as it was.
    EXPECT_EQ(addSite(session, "Alpha", "http://other.example/").exitCode, 3);
    const AppRunner::Finished sameUrl = addSite(session, "Delta", sim.baseUrl());
    EXPECT_EQ(sameUrl.exitCode, 3);
    EXPECT_TRUE(sameUrl.standardError.contains("already is a site with the URL"))
        << sameUrl.standardError.toStdString();
    EXPECT_EQ(addSite(session, "a/b", "http://other.example/").exitCode, 3);
    EXPECT_EQ(addSite(session, "..", "http://other.example/").exitCode, 3);
    EXPECT_EQ(folvane3(session, {"sites", "add", "--title", "Delta", "--url", "http://d.example/"}).exitCode,
              2);

    // An edit keeps the site's place; its own title and URL do not count as duplicates.
    EXPECT_EQ(folvane3(session, {"sites", "edit", "Beta", "--title", "Beta Renamed", "--url",
                                 "https://beta.example:8443/admin.php"})
                  .exitCode,
              0);
    EXPECT_EQ(folvane3(session, {"sites", "edit", "Beta Renamed", "--title", "Gamma"}).exitCode, 3);
    const AppRunner::Finished takenUrl =
        folvane3(session, {"sites", "edit", "Beta Renamed", "--url", "www.gamma.example/admin.php"});
    EXPECT_TRUE(takenUrl.exitCode == 3 && takenUrl.standardError.contains("already is a site with the URL"))
        << takenUrl.standardError.toStdString();
    EXPECT_EQ(folvane3(session, {"sites", "edit", "Nobody", "--title", "X"}).exitCode, 3);

    // Without a terminal a removal cannot be confirmed; --yes removes.
    const AppRunner::Finished unconfirmed = folvane3(session, {"sites", "remove", "Alpha"});
    EXPECT_EQ(unconfirmed.exitCode, 3);
    EXPECT_TRUE(unconfirmed.standardError.contains("not confirmed"));
    EXPECT_EQ(folvane3(session, {"sites", "remove", "Alpha", "--yes"}).exitCode, 0);

    list = folvane3(session, {QStringLiteral("sites"), QStringLiteral("list")});
    lines = list.standardOutput.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << list.standardOutput.toStdString();
    EXPECT_TRUE(lines[1].startsWith("Beta Renamed"));
    EXPECT_TRUE(lines[2].startsWith("Gamma"));

    // The removed site's password item went with it: a site added again under the same address has none.
    ASSERT_EQ(addSite(session, "Alpha Again", sim.baseUrl(), "").exitCode, 0);
    list = folvane3(session, {QStringLiteral("sites"), QStringLiteral("list")});
    EXPECT_TRUE(list.standardOutput.split(u'\n', Qt::SkipEmptyParts).last().endsWith("none"));
}

// Both addresses clean to the same http://www. address; the password goes only where it was stored for.
TEST_F(AppCli, ASiteIsNeverSentAPasswordItDidNotStore) {
    const QString secure = "https://127.0.0.1:" + QString::number(sim.port()) + "/admin.php?D=cp";
    const QString plain = sim.baseUrl() + "&x=1";
    ASSERT_EQ(addSite(session, "Secure", secure, "password").exitCode, 0);
    ASSERT_EQ(addSite(session, "Plain", plain, "").exitCode, 0);
    const AppRunner::Finished list = folvane3(session, {"sites", "list"});
    const QStringList lines = list.standardOutput.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << list.standardOutput.toStdString();
    EXPECT_TRUE(lines[1].startsWith("Secure") && lines[1].endsWith("stored")) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].startsWith("Plain") && lines[2].endsWith("none")) << lines[2].toStdString();

    // Without a password of its own the site asks for one; none given, nothing is sent.
    sim.clearLog();
    AppRunner::Finished check = folvane3(session, {"check", "Plain"});
    EXPECT_EQ(check.exitCode, 1);
    EXPECT_TRUE(check.standardError.contains("No password is stored for \"Plain\""))
        << check.standardError.toStdString();
    EXPECT_TRUE(sim.requestsFor("login").empty()) << sim.requestsFor("login").dump();
    check = folvane3(session, {"check", "Plain"}, QByteArray("password\n"));
    EXPECT_EQ(check.exitCode, 0) << check.standardError.toStdString();
    ASSERT_EQ(sim.requestsFor("login").size(), 1u);

    // An edited address takes the password along; the old item is not left for another site.
    ASSERT_EQ(folvane3(session, {"sites", "edit", "Secure", "--url", sim.baseUrl()}).exitCode, 0);
    check = folvane3(session, {"check", "Secure"});
    EXPECT_EQ(check.exitCode, 0) << check.standardError.toStdString();
    ASSERT_EQ(folvane3(session, {"sites", "edit", "Plain", "--url", secure}).exitCode, 0);
    EXPECT_TRUE(folvane3(session, {"sites", "list"})
                    .standardOutput.split(u'\n', Qt::SkipEmptyParts)[2]
                    .endsWith("none"));
}

TEST_F(AppCli, ATitleWhoseNotificationsWouldBeAnotherSitesIsRefused) {
    const AppRunner::Finished added = addSite(session, "done-Blog", sim.baseUrl());
    EXPECT_EQ(added.exitCode, 3);
    EXPECT_TRUE(added.standardError.contains("cannot start with \"done-\""))
        << added.standardError.toStdString();
    ASSERT_EQ(addSite(session, "Blog", sim.baseUrl()).exitCode, 0);
    EXPECT_EQ(folvane3(session, {"sites", "edit", "Blog", "--title", "done-Blog"}).exitCode, 3);
    EXPECT_EQ(folvane3(session, {"sites", "list", "--titles"}).standardOutput, "Blog\n");
}

TEST_F(AppCli, CheckNamesEveryRefusalInItsOrderOfPrecedence) {
    ASSERT_EQ(addSite(session, "Site", sim.baseUrl()).exitCode, 0);
    const auto checkSays = [&](const QString& text) {
        const AppRunner::Finished check = folvane3(session, {"check", "Site"});
        EXPECT_EQ(check.exitCode, text.contains("ready to connect") ? 0 : 1) << text.toStdString();
        EXPECT_TRUE(check.standardError.contains(text)) << check.standardError.toStdString();
        sim.reset();
    };
    checkSays(QStringLiteral("is ready to connect (ExpressionEngine add-on)"));

    sim.config({{"login", "refuse"}});
    checkSays(invalidAuthentication);

    // "disabled" outranks everything, even a refused login and a time-out.
    sim.config({{"status", "disabled"}, {"login", "refuse"}});
    sim.fault({{"action", "logout"}, {"kind", "delay"}, {"ms", 6000}});
    checkSays(QStringLiteral("Folvane can not be used while 'saving templates as files' is turned on."));

    // A real time-out (5 s) outranks an out-of-date add-on and missing permissions.
    sim.config({{"addon_version", "2.9.0"}, {"permissions", false}});
    sim.fault({{"action", "login"}, {"kind", "delay"}, {"ms", 6000}});
    checkSays(QStringLiteral("Folvane timed out while trying to connect."));

    sim.config({{"addon_version", "2.10.0"}, {"permissions", false}});
    checkSays(QStringLiteral("The add-on installed on this site is out of date"));

    sim.config({{"addon_version", "3.0.0"}, {"permissions", false}});
    checkSays(QStringLiteral("You have insufficient permissions to access the files for this site."));

    sim.config({{"omit_permissions", true}});
    checkSays(QStringLiteral("is ready to connect"));

    sim.config({{"omit_logged_in_on_logout", true}});
    checkSays(invalidAuthentication);

    sim.fault({{"action", "status"}, {"kind", "non_json"}});
    checkSays(invalidAuthentication);

    sim.fault({{"action", "*"}, {"kind", "drop"}});
    checkSays(invalidAuthentication);

    EXPECT_EQ(folvane3(session, {"check", "Nobody"}).exitCode, 3);
}

TEST_F(AppCli, ChecksAWordPressSiteAndTestsAnAddressBeforeItIsAdded) {
    AddonSim wordPress("wp");
    ASSERT_EQ(addSite(session, "Blog", wordPress.baseUrl()).exitCode, 0);
    const AppRunner::Finished check = folvane3(session, {"check", "Blog"});
    EXPECT_EQ(check.exitCode, 0);
    EXPECT_TRUE(check.standardError.contains("(Wordpress add-on)")) << check.standardError.toStdString();
    // The ExpressionEngine probe reaches no action on a WordPress site; login and logout use "/".
    QStringList paths;
    for (const json& request : wordPress.log())
        paths << QString::fromStdString(request["path"].get<std::string>());
    EXPECT_EQ(paths.filter(QRegularExpression("/(login|logout)$")).size(), 2)
        << paths.join(' ').toStdString();

    EXPECT_EQ(
        folvane3(session, {"check", "--url", wordPress.baseUrl(), "--user", "admin"}, "password\n").exitCode,
        0);
    EXPECT_EQ(
        folvane3(session, {"check", "--url", wordPress.baseUrl(), "--user", "admin"}, "wrong\n").exitCode, 1);
    EXPECT_EQ(folvane3(session, {"check", "--url", wordPress.baseUrl()}).exitCode, 2);
}

TEST_F(AppCli, AnHttpAddressIsNotedAndAnUntrustedCertificateNamedForWhatItIs) {
    const QString notice = QStringLiteral("the password will travel unencrypted");
    // http:// is allowed, and said so wherever the password is given; https:// is not remarked upon.
    const AppRunner::Finished plain = addSite(session, "Plain", sim.baseUrl());
    EXPECT_EQ(plain.exitCode, 0);
    EXPECT_TRUE(plain.standardError.contains(notice)) << plain.standardError.toStdString();
    const AppRunner::Finished checked = folvane3(session, {"check", "Plain"});
    EXPECT_EQ(checked.exitCode, 0);
    EXPECT_TRUE(checked.standardError.contains("\"Plain\": Note: this address starts with http://"))
        << checked.standardError.toStdString();

    UntrustedTlsSite tls;
    const AppRunner::Finished secure = addSite(session, "Secure", tls.baseUrl());
    EXPECT_EQ(secure.exitCode, 0);
    EXPECT_FALSE(secure.standardError.contains(notice)) << secure.standardError.toStdString();
    // The certificate, not the login, is named, with the host; nothing reached the site.
    const AppRunner::Finished check = folvane3(session, {"check", "Secure"});
    EXPECT_EQ(check.exitCode, 1);
    EXPECT_TRUE(check.standardError.contains("\"Secure\": The certificate of 127.0.0.1 is not valid or not "
                                             "trusted"))
        << check.standardError.toStdString();
    const AppRunner::Finished test =
        folvane3(session, {"check", "--url", tls.baseUrl(), "--user", "admin"}, "password\n");
    EXPECT_EQ(test.exitCode, 1);
    EXPECT_TRUE(test.standardError.contains("the certificate of 127.0.0.1 was not accepted: "))
        << test.standardError.toStdString();
    EXPECT_FALSE(test.standardError.contains("refused the login"));
    EXPECT_TRUE(tls.requests().isEmpty()) << tls.requests().join(", ").toStdString();
}

TEST_F(AppCli, PreferencesHaveDefaultsAndKeepChanges) {
    AppRunner::Finished get = folvane3(session, {"prefs", "get"});
    ASSERT_EQ(get.exitCode, 0);
    EXPECT_EQ(get.standardOutput.split(u'\n', Qt::SkipEmptyParts).size(), 7);
    EXPECT_EQ(folvane3(session, {"prefs", "get", "check-site"}).standardOutput, "on\n");
    EXPECT_EQ(folvane3(session, {"prefs", "get", "usage-data"}).standardOutput, "off\n");
    EXPECT_EQ(folvane3(session, {"prefs", "get", "caching"}).standardOutput, "on\n");

    EXPECT_EQ(folvane3(session, {"prefs", "set", "caching", "off"}).exitCode, 0);
    EXPECT_EQ(folvane3(session, {"prefs", "set", "usage-data", "on"}).exitCode, 0);
    EXPECT_EQ(folvane3(session, {"prefs", "get", "caching"}).standardOutput, "off\n");
    EXPECT_EQ(folvane3(session, {"prefs", "get", "usage-data"}).standardOutput, "on\n");

    EXPECT_EQ(folvane3(session, {"prefs", "set", "caching", "maybe"}).exitCode, 2);
    EXPECT_EQ(folvane3(session, {"prefs", "set", "colour", "on"}).exitCode, 2);
    EXPECT_EQ(folvane3(session, {"prefs", "get", "caching"}).standardOutput, "off\n");
}

// A preferences file from an older version, or edited by hand, with only some of the seven.
TEST_F(AppCli, PreferencesTheFileLacksTakeTheirDefaultsForTheHelperToo) {
    ASSERT_TRUE(QDir().mkpath(session.baseFolder()));
    QFile file(session.baseFolder() + "/preferences.plist");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict><key>Enable caching</key><integer>0</integer></dict></plist>
)");
    file.close();
    const AppRunner::Finished get = folvane3(session, {"prefs", "get"});
    ASSERT_EQ(get.exitCode, 0) << get.standardError.toStdString();
    EXPECT_FALSE(get.standardOutput.contains("unset")) << get.standardOutput.toStdString();
    EXPECT_EQ(folvane3(session, {"prefs", "get", "caching"}).standardOutput, "off\n");
    EXPECT_EQ(folvane3(session, {"prefs", "get", "notifications"}).standardOutput, "on\n");
    EXPECT_EQ(folvane3(session, {"prefs", "get", "check-updates"}).standardOutput, "on\n");
    EXPECT_EQ(folvane3(session, {"prefs", "get", "usage-data"}).standardOutput, "off\n");
    EXPECT_TRUE(readFile(session.baseFolder() + "/preferences.plist").contains("Check automatically"))
        << "written back";

    // The helper gets the same values: a stand-in records its arguments (and finds the site served).
    ASSERT_EQ(addSite(session, "Site", sim.baseUrl()).exitCode, 0);
    QTemporaryDir scripts;
    const QString helper = scripts.filePath("helper.sh");
    QFile script(helper);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.args\"\nexit 3\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcessEnvironment environment = session.environment();
    environment.insert("FOLVANE_HELPER", helper);
    const AppRunner::Finished run = AppRunner::run(session, {"connect", "Site"}, std::nullopt, environment);
    const QStringList arguments = readFile(helper + ".args").split('\n');
    ASSERT_GE(arguments.size(), 14) << arguments.join(' ').toStdString();
    // Positions 10 to 14: notifications, open folder, default-group alert, caching, usage data.
    EXPECT_EQ(arguments.mid(9, 5), (QStringList{"1", "1", "1", "0", "0"}));

    // A helper that finds the site served by another one: the site is already connected.
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_TRUE(run.standardError.contains("\"Site\" is already connected: it is mounted at " +
                                           session.mountRoot() + "/Site"))
        << run.standardError.toStdString();
    EXPECT_EQ(run.standardError.count('\n'), 1) << run.standardError.toStdString();
}

TEST_F(AppCli, HelpAndBadCommandLines) {
    const AppRunner::Finished help = folvane3(session, {});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.standardOutput.contains("Exit status"));
    EXPECT_EQ(folvane3(session, {"--help"}).standardOutput, help.standardOutput);
    for (const char* command : {"sites list", "sites add", "sites edit", "sites remove", "check", "connect",
                                "refresh", "status", "eject", "prefs get", "prefs set"}) {
        const QStringList words = QString::fromLatin1(command).split(u' ');
        const AppRunner::Finished own = folvane3(session, words + QStringList{"--help"});
        EXPECT_EQ(own.exitCode, 0) << command;
        EXPECT_TRUE(own.standardOutput.startsWith("usage: folvane3 [-v|--verbose] " + words.join(u' ')))
            << own.standardOutput.toStdString();
        EXPECT_TRUE(help.standardOutput.contains(words.join(u' '))) << command;
    }
    for (const QStringList& bad :
         {QStringList{"frobnicate"}, QStringList{"sites", "list", "--url", "x"}, QStringList{"connect"},
          QStringList{"sites", "add", "--title"}, QStringList{"refresh", "Site", "--timeout", "soon"}}) {
        const AppRunner::Finished run = folvane3(session, bad);
        EXPECT_EQ(run.exitCode, 2) << bad.join(' ').toStdString();
        EXPECT_EQ(run.standardError.count(u'\n'), 1) << run.standardError.toStdString();
    }
}

TEST_F(AppCli, ConnectMountsRefreshReachesItAndCtrlCEjectsLeavingNoMount) {
    const QByteArray password = "Kx7-unique-secret";
    AddonSim site("ee", {"--password", password});
    ASSERT_EQ(addSite(session, "My Site", site.baseUrl(), password).exitCode, 0);
    BusRecorder bus(session.bus());

    QProcessEnvironment environment = session.environment();
    environment.insert("FOLVANE_CONSOLE_LOG", "1");
    AppRunner connect(session, {"--verbose", "connect", "My Site"}, std::nullopt, environment);
    const QString mountPoint = session.mountRoot() + "/My Site";
    const std::optional<QString> printed = connect.process().waitForOutputLine(session.mountRoot());
    ASSERT_TRUE(printed) << connect.process().errors().toStdString();
    EXPECT_EQ(*printed, mountPoint);
    EXPECT_TRUE(FuseMounts::isMounted(mountPoint));
    EXPECT_TRUE(QFileInfo(mountPoint).isDir());

    // Neither program carries the password on its command line or in its environment.
    const std::optional<qint64> helper = childOf(connect.process().pid());
    ASSERT_TRUE(helper);
    for (const qint64 pid : {connect.process().pid(), *helper}) {
        EXPECT_FALSE(readFile(QStringLiteral("/proc/%1/cmdline").arg(pid)).contains(password)) << pid;
        EXPECT_FALSE(readFile(QStringLiteral("/proc/%1/environ").arg(pid)).contains(password)) << pid;
    }

    // The application holds site passwords too: no core file of it may carry one.
    const QString limits = readFile(QStringLiteral("/proc/%1/limits").arg(connect.process().pid()));
    EXPECT_EQ(limits.mid(limits.indexOf("Max core file size")).split('\n').first().simplified(),
              "Max core file size 0 0 bytes");

    // A second connect of the same site is refused while the first holds it.
    EXPECT_EQ(folvane3(session, {"connect", "My Site"}).exitCode, 3);

    const AppRunner::Finished refresh = folvane3(session, {"refresh", "My Site", "--timeout", "20"});
    EXPECT_TRUE(bus.waitFor("refresh-My Site"));
    EXPECT_EQ(bus.signalsNamed("refresh-My Site").front(), (QVariantMap{{"row", 0}}));
    const bool answered = refresh.exitCode == 0;
    if (!answered) {
        EXPECT_EQ(refresh.exitCode, 4) << refresh.standardError.toStdString();
    }

    connect.process().sendSignal(SIGINT);
    ASSERT_TRUE(connect.process().waitForExit());
    EXPECT_EQ(connect.process().exitCode(), 0) << connect.process().errors().toStdString();
    EXPECT_FALSE(FuseMounts::isMounted(mountPoint));
    EXPECT_TRUE(bus.waitFor("connection-terminated-My Site"));
    EXPECT_EQ(folvane3(session, {"refresh", "My Site"}).exitCode, 3);

    const QString log = connect.process().errors() +
                        readFile(session.home() + "/.local/state/Folvane 3/Logs/FolvaneConsole.log");
    EXPECT_TRUE(log.contains("Logging In: Okay")) << log.toStdString();
    EXPECT_TRUE(log.contains("Mounted at")) << "the helper's log is read too";
    EXPECT_FALSE(log.contains(password)) << log.toStdString();
    EXPECT_FALSE(connect.process().output().contains(password));

    if (!answered)
        GTEST_SKIP() << "the helper does not answer refresh- yet";
    EXPECT_TRUE(bus.waitFor("refresh-done-My Site"));
}

TEST_F(AppCli, EjectingWithUnconfirmedUploadsSaysSo) {
    ASSERT_EQ(addSite(session, "Site", sim.baseUrl()).exitCode, 0);
    BusRecorder bus(session.bus());
    AppRunner connect(session, {"connect", "Site"});
    ASSERT_TRUE(bus.waitFor("finishedconnecting-Site")) << connect.process().errors().toStdString();
    // Playing the helper's part: two uploads are out.
    bus.post("pending-uploads-Other", {{"title", "Other"}, {"count", 5}});
    bus.post("pending-uploads-Site", {{"title", "Site"}, {"count", 2}});
    ASSERT_TRUE(waitUntil([&] { return connect.process().errors().contains("\"Site\": 2 uploads waiting"); }))
        << connect.process().errors().toStdString();
    EXPECT_FALSE(connect.process().errors().contains("5 uploads"));

    connect.process().sendSignal(SIGTERM);
    ASSERT_TRUE(connect.process().waitForExit());
    EXPECT_EQ(connect.process().exitCode(), 0);
    EXPECT_TRUE(connect.process().errors().contains("2 uploads to \"Site\" were not confirmed yet"))
        << connect.process().errors().toStdString();
}

// A helper that ends at once, one that cannot start, and a mount that fails: the command ends with the
// reason and never prints a mount path.
TEST_F(AppCli, AConnectionThatFailsEndsTheCommandWithItsReason) {
    ASSERT_EQ(addSite(session, "Site", sim.baseUrl()).exitCode, 0);
    const std::pair<QString, QString> cases[] = {{"/bin/false", "the helper of \"Site\" ended"},
                                                 {"/nonexistent/helper", "cannot start the helper"},
                                                 {{}, "the helper of \"Site\" ended"}};
    for (const auto& [helper, reason] : cases) {
        QProcessEnvironment environment = session.environment();
        if (helper.isEmpty()) {
            QFile inTheWay(session.mountRoot() + "/Site");
            ASSERT_TRUE(inTheWay.open(QIODevice::WriteOnly));
        } else {
            environment.insert("FOLVANE_HELPER", helper);
        }
        const AppRunner::Finished run =
            AppRunner::run(session, {"connect", "Site"}, std::nullopt, environment);
        EXPECT_EQ(run.exitCode, 1) << helper.toStdString();
        EXPECT_TRUE(run.standardError.contains(reason)) << run.standardError.toStdString();
        EXPECT_FALSE(run.standardOutput.contains(session.mountRoot())) << run.standardOutput.toStdString();
        EXPECT_FALSE(run.standardError.contains("is mounted at")) << run.standardError.toStdString();
    }
}

namespace {
// The one site's pending files in `folvane3 status --json`; null when the helper did not answer.
json pendingOf(TestSession& session) {
    const AppRunner::Finished status = folvane3(session, {"status", "--json"});
    const json parsed = json::parse(status.standardOutput.toStdString(), nullptr, false);
    if (parsed.is_discarded() || parsed["sites"].size() != 1)
        return nullptr;
    return parsed["sites"][0]["pending"];
}

void writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}
} // namespace

TEST_F(AppCli, RefreshAndStatusSayWhatTheSiteRefusedAndEjectEndsAConnectionOfAnotherCommand) {
    ASSERT_EQ(addSite(session, "Site", sim.baseUrl()).exitCode, 0);
    ASSERT_EQ(addSite(session, "Idle", sim.baseUrl() + "/other").exitCode, 0);
    EXPECT_EQ(folvane3(session, {"status"}).standardOutput, "No site is connected.\n");
    EXPECT_EQ(folvane3(session, {"eject", "Site"}).exitCode, 3) << "nothing to eject";
    BusRecorder bus(session.bus());
    AppRunner connect(session, {"connect", "Site"});
    ASSERT_TRUE(bus.waitFor("finishedconnecting-Site")) << connect.process().errors().toStdString();
    const QString mountPoint = session.mountRoot() + "/Site";
    ASSERT_TRUE(waitUntil([&] { return FuseMounts::isMounted(mountPoint); }));

    // A refresh that kept the volume says why and fails.
    sim.fault({{"action", "list_all"}, {"kind", "non_json"}});
    const AppRunner::Finished kept = folvane3(session, {"refresh", "Site"});
    EXPECT_EQ(kept.exitCode, 1);
    EXPECT_EQ(kept.standardError,
              "folvane3: \"Site\" was not refreshed: the template list could not be fetched\n");
    sim.clearFaults();
    const AppRunner::Finished refreshed = folvane3(session, {"refresh", "Site"});
    EXPECT_EQ(refreshed.exitCode, 0) << refreshed.standardError.toStdString();

    const AppRunner::Finished idle = folvane3(session, {"status"});
    EXPECT_EQ(idle.exitCode, 0);
    EXPECT_EQ(idle.standardOutput,
              "Site: mounted at " + mountPoint + "\n  every change confirmed by the site\n");
    EXPECT_EQ(folvane3(session, {"status", "Idle"}).exitCode, 3);

    sim.fault({{"action", "update_template_data"}, {"kind", "refuse"}, {"message", "Template is locked."}});
    writeFile(mountPoint + "/news/article.html", "mine\n");
    const json refused = {
        {{"path", "/news/article.html"}, {"state", "refused"}, {"message", "Template is locked."}}};
    ASSERT_TRUE(waitUntil([&] { return pendingOf(session) == refused; })) << pendingOf(session).dump();
    const AppRunner::Finished status = folvane3(session, {"status", "Site"});
    EXPECT_TRUE(status.standardOutput.contains("  refused  /news/article.html (Template is locked.)"))
        << status.standardOutput.toStdString();
    EXPECT_TRUE(bus.waitFor("pending-files-Site")) << "the list is also posted as it changes";

    // Without a terminal nothing is confirmed: the site stays connected.
    const AppRunner::Finished unconfirmed = folvane3(session, {"eject", "Site"});
    EXPECT_EQ(unconfirmed.exitCode, 3);
    EXPECT_TRUE(unconfirmed.standardError.contains("refused  /news/article.html"))
        << unconfirmed.standardError.toStdString();
    EXPECT_TRUE(FuseMounts::isMounted(mountPoint));

    // "Try again" once the site takes it.
    sim.clearFaults();
    bus.post("retry-Site", {{"path", "/news/article.html"}});
    ASSERT_TRUE(waitUntil([&] { return pendingOf(session) == json::array(); })) << pendingOf(session).dump();
    const json state = sim.state();
    json article;
    for (const json& t : state["templates"])
        if (t["path"] == "/news/article.html")
            article = t;
    EXPECT_EQ(article["content"], "mine\n");

    // Changed on the site too (by the CMS's own editor) before the next save: the site's version is kept.
    sim.edit("/news/article.html", "theirs\n");
    writeFile(mountPoint + "/news/article.html", "mine, later\n");
    ASSERT_TRUE(waitUntil([&] {
        const json pending = pendingOf(session);
        return pending.size() == 1 && pending[0]["state"] == "changed-on-site";
    })) << pendingOf(session).dump();
    const std::string copy = pendingOf(session)[0]["copy"].get<std::string>();
    EXPECT_TRUE(copy.starts_with((session.baseFolder() + "/Recovered/Site/").toStdString()) &&
                copy.ends_with("/news/article.site-version.html"))
        << copy;
    EXPECT_TRUE(
        folvane3(session, {"status", "Site"})
            .standardOutput.contains(QStringLiteral("  changed-on-site /news/article.html; show copy: ") +
                                     QString::fromStdString(copy)));

    sim.fault({{"action", "update_template_data"}, {"kind", "refuse"}, {"message", "Template is locked."}});
    writeFile(mountPoint + "/news/article.html", "mine again\n");
    ASSERT_TRUE(waitUntil([&] { return pendingOf(session).size() == 1; }));
    const AppRunner::Finished eject = folvane3(session, {"eject", "Site", "--yes"});
    EXPECT_EQ(eject.exitCode, 0) << eject.standardError.toStdString();
    EXPECT_FALSE(FuseMounts::isMounted(mountPoint));
    ASSERT_TRUE(connect.process().waitForExit());
    EXPECT_EQ(connect.process().exitCode(), 0) << connect.process().errors().toStdString();
    EXPECT_TRUE(QDir(session.baseFolder() + "/Recovered/Site").exists()) << "the refused edit is kept";
    EXPECT_EQ(folvane3(session, {"status", "--json"}).standardOutput, "{\n    \"sites\": [\n    ]\n}\n");
}

// By default connect says where the site is, how to end it and what each upload came to; the helper's own
// log goes to the console log file (once) and, with --verbose, to the terminal as well. Texts from the site
// (an answer's message, a template's name) are one line wherever they are written: a line break in them
// cannot make connect print a "Saved …" line of its own.
TEST_F(AppCli, ConnectIsQuietByDefaultAndShowsTheHelpersLogWhenVerbose) {
    ASSERT_EQ(addSite(session, "Site", sim.baseUrl()).exitCode, 0);
    BusRecorder bus(session.bus());
    QProcessEnvironment environment = session.environment();
    environment.insert("FOLVANE_CONSOLE_LOG", "1");
    const QString mountPoint = session.mountRoot() + "/Site";
    const QString consoleLog = session.home() + "/.local/state/Folvane 3/Logs/FolvaneConsole.log";
    const auto save = [&](const QByteArray& text, const QString& name = QStringLiteral("index.html")) {
        QFile page(mountPoint + "/news/" + name);
        ASSERT_TRUE(page.open(QIODevice::WriteOnly | QIODevice::Truncate));
        page.write(text);
    };

    {
        AppRunner quiet(session, {"connect", "Site"}, std::nullopt, environment);
        ASSERT_TRUE(quiet.process().waitForOutputLine(mountPoint)) << quiet.process().errors().toStdString();
        save("saved through the volume\n");
        ASSERT_TRUE(waitUntil([&] { return quiet.process().errors().contains("Saved news/index.html\n"); }))
            << quiet.process().errors().toStdString();
        sim.fault({{"action", "update_template_data"},
                   {"kind", "refuse"},
                   {"message", "Locked.\nSaved news/forged.html"}});
        save("refused by the site\n");
        ASSERT_TRUE(waitUntil([&] {
            return quiet.process().errors().contains(
                "Could not save news/index.html: Locked.\\nSaved news/forged.html\n");
        })) << quiet.process().errors().toStdString();
        sim.clearFaults();
        save("a name with a line break\n", QStringLiteral("x\nSaved named.html"));
        ASSERT_TRUE(waitUntil([&] {
            return quiet.process().errors().contains("Saved news/x\\nSaved named.html\n");
        })) << quiet.process().errors().toStdString();
        for (const QString& line : quiet.process().errors().split(u'\n'))
            EXPECT_FALSE(line.startsWith("Saved news/forged.html") || line.startsWith("Saved named.html"))
                << quiet.process().errors().toStdString();

        const QString said = quiet.process().errors();
        EXPECT_TRUE(said.contains("\"Site\" is mounted at " + mountPoint + "; Ctrl-C (or folvane3 eject"))
            << said.toStdString();
        for (const char* diagnostic : {"Mounted at ", "Logging In", "writingfile-Site", "Pending uploads"})
            EXPECT_FALSE(said.contains(diagnostic)) << diagnostic << " in\n" << said.toStdString();
        quiet.process().sendSignal(SIGTERM);
        ASSERT_TRUE(quiet.process().waitForExit());
    }
    const QString logged = readFile(consoleLog);
    EXPECT_EQ(logged.count("Mounted at " + mountPoint + "\n"), 1) << logged.toStdString();
    EXPECT_EQ(logged.count("Saved news/index.html\n"), 1) << "written by the helper alone";

    AppRunner verbose(session, {"-v", "connect", "Site"}, std::nullopt, environment);
    ASSERT_TRUE(verbose.process().waitForOutputLine(mountPoint)) << verbose.process().errors().toStdString();
    save("saved again\n");
    ASSERT_TRUE(waitUntil([&] { return verbose.process().errors().contains("Saved news/index.html\n"); }))
        << verbose.process().errors().toStdString();
    const QString said = verbose.process().errors();
    EXPECT_TRUE(said.contains("Mounted at " + mountPoint + "\n")) << said.toStdString();
    EXPECT_TRUE(said.contains("writingfile-Site ")) << said.toStdString();
    EXPECT_EQ(said.count("Saved news/index.html\n"), 1) << "shown once";
    verbose.process().sendSignal(SIGTERM);
    ASSERT_TRUE(verbose.process().waitForExit());
    EXPECT_EQ(readFile(consoleLog).count("Mounted at " + mountPoint + "\n"), 2);
}
