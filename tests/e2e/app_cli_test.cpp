// folvane3's command line against the simulator, with a real Secret Service and the real helper.
#include "testkit/AddonSim.h"
#include "testkit/AppRunner.h"
#include "testkit/BusRecorder.h"
#include "testkit/ConnectedSite.h"
#include "testkit/FuseMounts.h"
#include "testkit/SiteCompare.h"
#include "testkit/TestSession.h"
#include "testkit/UntrustedTlsSite.h"
#include "testkit/Wait.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>

using namespace folvane::testkit;
using nlohmann::json;

namespace {

// The site's password: found nowhere but where it belongs.
const QByteArray password = "Kx7-unique-secret";
const QString invalidAuthentication =
    QStringLiteral("Invalid authentication info, please check the fields entered are correct.");

QString readText(const QString& path) {
    return QString::fromLatin1(readFile(path));
}

class AppCli : public ::testing::Test {
protected:
    AppRunner::Finished folvane3(const QStringList& arguments, std::optional<QByteArray> input = std::nullopt,
                                 const QProcessEnvironment& environment = {}) {
        return AppRunner::run(session, arguments, std::move(input), environment);
    }
    AppRunner::Finished addSite(const QString& title, const QString& url,
                                const QByteArray& secret = password) {
        return folvane3({"sites", "add", "--title", title, "--url", url, "--user", "admin"}, secret + '\n');
    }
    // The lines of `sites list` after its heading.
    QStringList sites() {
        return folvane3({"sites", "list"}).standardOutput.split(u'\n', Qt::SkipEmptyParts).mid(1);
    }
    // An environment whose helper is a stand-in script with this body.
    QProcessEnvironment withHelper(const QByteArray& script) {
        const QString helper = scripts_.filePath("helper.sh");
        EXPECT_TRUE(writeFile(helper, "#!/bin/sh\n" + script));
        QFile::setPermissions(helper, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QProcessEnvironment environment = session.environment();
        environment.insert("FOLVANE_HELPER", helper);
        return environment;
    }
    // The one site's pending files in `folvane3 status --json`; null when the helper did not answer.
    json pending() {
        const json parsed =
            json::parse(folvane3({"status", "--json"}).standardOutput.toStdString(), nullptr, false);
        return parsed.is_discarded() || parsed["sites"].size() != 1 ? json() : parsed["sites"][0]["pending"];
    }

    TestSession session{SessionOptions{.secretService = true}};
    AddonSim sim{"ee", {"--password", QString::fromLatin1(password)}};
    QTemporaryDir scripts_;
};

} // namespace

// Two sites of one host keep a password each, and a third finds neither.
TEST_F(AppCli, KeepsTheSiteListInOrderWithPasswordsOnlyInTheSecretService) {
    const QString gamma = "http://127.0.0.1:" + QString::number(sim.port()) + "/gamma/admin.php";
    ASSERT_EQ(addSite("Alpha", sim.baseUrl()).exitCode, 0);
    ASSERT_EQ(addSite("Beta", "https://beta.example:8443/admin.php", "").exitCode, 0);
    ASSERT_EQ(addSite("Gamma", gamma, "gamma's own").exitCode, 0);
    QStringList lines = sites();
    ASSERT_EQ(lines.size(), 3) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines[0].startsWith("Alpha") && lines[0].contains(sim.baseUrl()) &&
                lines[0].endsWith("stored"));
    EXPECT_TRUE(lines[1].startsWith("Beta") && lines[1].endsWith("none"));
    EXPECT_TRUE(lines[2].startsWith("Gamma") && lines[2].endsWith("stored"));
    const QString listFile = session.baseFolder() + "/sites.plist";
    EXPECT_TRUE(readText(listFile).startsWith("bplist00"));
    EXPECT_FALSE(readText(listFile).contains(password));

    // An edit keeps the site's place; its own title and URL do not count as duplicates.
    EXPECT_EQ(folvane3({"sites", "edit", "Beta", "--title", "Beta Renamed", "--url",
                        "https://beta.example:8443/admin.php"})
                  .exitCode,
              0);
    // Refusals leave the list as it was.
    const QString before = folvane3({"sites", "list"}).standardOutput;
    const struct {
        QStringList arguments;
        int status;
        const char* says;
    } refusals[] = {
        {{"sites", "add", "--title", "Alpha", "--url", "http://other.example/", "--user", "admin"}, 3, ""},
        {{"sites", "add", "--title", "Delta", "--url", sim.baseUrl(), "--user", "admin"},
         3,
         "already is a site with the URL"},
        {{"sites", "add", "--title", "a/b", "--url", "http://other.example/", "--user", "admin"}, 3, ""},
        {{"sites", "add", "--title", "..", "--url", "http://other.example/", "--user", "admin"}, 3, ""},
        // A site's refresh request would bear the name of another site's refresh answer.
        {{"sites", "add", "--title", "done-Blog", "--url", "http://other.example/", "--user", "admin"},
         3,
         "cannot start with \"done-\""},
        {{"sites", "add", "--title", "Delta", "--url", "http://d.example/"}, 2, ""},
        {{"sites", "edit", "Beta Renamed", "--title", "Gamma"}, 3, ""},
        {{"sites", "edit", "Beta Renamed", "--url", gamma}, 3, "already is a site with the URL"},
        {{"sites", "edit", "Beta Renamed", "--title", "done-Beta"}, 3, ""},
        {{"sites", "edit", "Nobody", "--title", "X"}, 3, ""},
        // Without a terminal a removal cannot be confirmed.
        {{"sites", "remove", "Alpha"}, 3, "not confirmed"},
    };
    for (const auto& refusal : refusals) {
        const AppRunner::Finished run = folvane3(refusal.arguments, password + '\n');
        EXPECT_EQ(run.exitCode, refusal.status) << refusal.arguments.join(' ').toStdString();
        EXPECT_TRUE(run.standardError.contains(refusal.says)) << run.standardError.toStdString();
    }
    EXPECT_EQ(folvane3({"sites", "list"}).standardOutput, before);

    EXPECT_EQ(folvane3({"sites", "remove", "Alpha", "--yes"}).exitCode, 0);
    lines = sites();
    ASSERT_EQ(lines.size(), 2) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines[0].startsWith("Beta Renamed"));
    EXPECT_TRUE(lines[1].startsWith("Gamma") && lines[1].endsWith("stored")) << "its item stays";
    EXPECT_EQ(folvane3({"sites", "list", "--titles"}).standardOutput, "Beta Renamed\nGamma\n");
    // The removed site's password item went with it: the same site added again has none.
    ASSERT_EQ(addSite("Alpha", sim.baseUrl(), "").exitCode, 0);
    EXPECT_TRUE(sites().last().endsWith("none"));
}

// Both addresses clean to the same http://www. address; the password goes only where it was stored for.
TEST_F(AppCli, ASiteIsNeverSentAPasswordItDidNotStore) {
    const QString secure = "https://127.0.0.1:" + QString::number(sim.port()) + "/admin.php?D=cp";
    ASSERT_EQ(addSite("Secure", secure).exitCode, 0);
    ASSERT_EQ(addSite("Plain", sim.baseUrl() + "&x=1", "").exitCode, 0);
    const QStringList lines = sites();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].startsWith("Secure") && lines[0].endsWith("stored")) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].startsWith("Plain") && lines[1].endsWith("none")) << lines[1].toStdString();

    // Without a password of its own the site asks for one; none given, nothing is sent.
    sim.clearLog();
    AppRunner::Finished check = folvane3({"check", "Plain"});
    EXPECT_EQ(check.exitCode, 1);
    EXPECT_TRUE(check.standardError.contains("No password is stored for \"Plain\""))
        << check.standardError.toStdString();
    EXPECT_TRUE(sim.requestsFor("login").empty()) << sim.requestsFor("login").dump();
    check = folvane3({"check", "Plain"}, password + '\n');
    EXPECT_EQ(check.exitCode, 0) << check.standardError.toStdString();
    ASSERT_EQ(sim.requestsFor("login").size(), 1u);

    // An edited address takes the password along; the old item is not left for another site.
    ASSERT_EQ(folvane3({"sites", "edit", "Secure", "--url", sim.baseUrl()}).exitCode, 0);
    check = folvane3({"check", "Secure"});
    EXPECT_EQ(check.exitCode, 0) << check.standardError.toStdString();
    ASSERT_EQ(folvane3({"sites", "edit", "Plain", "--url", secure}).exitCode, 0);
    EXPECT_TRUE(sites()[1].endsWith("none"));
}

TEST_F(AppCli, CheckNamesEveryRefusalInItsOrderOfPrecedence) {
    ASSERT_EQ(addSite("Site", sim.baseUrl()).exitCode, 0);
    const auto checkSays = [&](const QString& text) {
        const AppRunner::Finished check = folvane3({"check", "Site"});
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

    EXPECT_EQ(folvane3({"check", "Nobody"}).exitCode, 3);
}

TEST_F(AppCli, ChecksAWordPressSiteAndTestsAnAddressBeforeItIsAdded) {
    AddonSim wordPress("wp");
    ASSERT_EQ(addSite("Blog", wordPress.baseUrl(), "password").exitCode, 0);
    const AppRunner::Finished check = folvane3({"check", "Blog"});
    EXPECT_EQ(check.exitCode, 0);
    EXPECT_TRUE(check.standardError.contains("(Wordpress add-on)")) << check.standardError.toStdString();

    for (const auto& [input, status] : {std::pair{"password\n", 0}, {"wrong\n", 1}})
        EXPECT_EQ(folvane3({"check", "--url", wordPress.baseUrl(), "--user", "admin"}, input).exitCode,
                  status);
    EXPECT_EQ(folvane3({"check", "--url", wordPress.baseUrl()}).exitCode, 2);
}

TEST_F(AppCli, AnHttpAddressIsNotedAndAnUntrustedCertificateNamedForWhatItIs) {
    const QString notice = QStringLiteral("the password will travel unencrypted");
    // http:// is allowed, and said so wherever the password is given; https:// is not remarked upon.
    const AppRunner::Finished plain = addSite("Plain", sim.baseUrl());
    EXPECT_EQ(plain.exitCode, 0);
    EXPECT_TRUE(plain.standardError.contains(notice)) << plain.standardError.toStdString();
    const AppRunner::Finished checked = folvane3({"check", "Plain"});
    EXPECT_EQ(checked.exitCode, 0);
    EXPECT_TRUE(checked.standardError.contains("\"Plain\": Note: this address starts with http://"))
        << checked.standardError.toStdString();

    UntrustedTlsSite tls;
    const AppRunner::Finished secure = addSite("Secure", tls.baseUrl());
    EXPECT_EQ(secure.exitCode, 0);
    EXPECT_FALSE(secure.standardError.contains(notice)) << secure.standardError.toStdString();
    // The certificate, not the login, is named, with the host; nothing reached the site.
    const AppRunner::Finished check = folvane3({"check", "Secure"});
    EXPECT_EQ(check.exitCode, 1);
    EXPECT_TRUE(
        check.standardError.contains("\"Secure\": The certificate of 127.0.0.1 is not valid or not trusted"))
        << check.standardError.toStdString();
    EXPECT_TRUE(tls.requests().isEmpty()) << tls.requests().join(", ").toStdString();
}

// A preferences file from an older version, or edited by hand, with only some of the seven: the others
// take their defaults, for the helper too, and are written back; changes are kept.
TEST_F(AppCli, PreferencesHaveDefaultsAndKeepChanges) {
    ASSERT_TRUE(QDir().mkpath(session.baseFolder()));
    ASSERT_TRUE(
        writeFile(session.baseFolder() + "/preferences.plist", R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict><key>Enable caching</key><integer>0</integer></dict></plist>
)"));
    const AppRunner::Finished get = folvane3({"prefs", "get"});
    ASSERT_EQ(get.exitCode, 0) << get.standardError.toStdString();
    EXPECT_EQ(get.standardOutput.split(u'\n', Qt::SkipEmptyParts).size(), 7);
    EXPECT_FALSE(get.standardOutput.contains("unset")) << get.standardOutput.toStdString();
    const auto value = [&](const QString& name) { return folvane3({"prefs", "get", name}).standardOutput; };
    for (const auto& [name, shown] : {std::pair{"caching", "off\n"},
                                      {"notifications", "on\n"},
                                      {"check-updates", "on\n"},
                                      {"usage-data", "off\n"},
                                      {"check-site", "on\n"}})
        EXPECT_EQ(value(name), shown) << name;
    EXPECT_TRUE(readText(session.baseFolder() + "/preferences.plist").contains("Check automatically"))
        << "written back";

    // The helper gets the same values: a stand-in records its arguments (and finds the site served).
    ASSERT_EQ(addSite("Site", sim.baseUrl()).exitCode, 0);
    const QProcessEnvironment environment = withHelper("printf '%s\\n' \"$@\" > \"$0.args\"\nexit 3\n");
    const AppRunner::Finished run = folvane3({"connect", "Site"}, std::nullopt, environment);
    const QStringList arguments = readText(environment.value("FOLVANE_HELPER") + ".args").split('\n');
    ASSERT_GE(arguments.size(), 14) << arguments.join(' ').toStdString();
    // Positions 10 to 14: notifications, open folder, default-group alert, caching, usage data.
    EXPECT_EQ(arguments.mid(9, 5), (QStringList{"1", "1", "1", "0", "0"}));
    // A helper that finds the site served by another one: the site is already connected.
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_EQ(run.standardError,
              "folvane3: \"Site\" is already connected: it is mounted at " + session.mountRoot() + "/Site\n");

    EXPECT_EQ(folvane3({"prefs", "set", "caching", "on"}).exitCode, 0);
    EXPECT_EQ(folvane3({"prefs", "set", "usage-data", "on"}).exitCode, 0);
    EXPECT_EQ(value("caching"), "on\n");
    EXPECT_EQ(value("usage-data"), "on\n");
    EXPECT_EQ(folvane3({"prefs", "set", "caching", "maybe"}).exitCode, 2);
    EXPECT_EQ(folvane3({"prefs", "set", "colour", "on"}).exitCode, 2);
    EXPECT_EQ(value("caching"), "on\n");
}

TEST_F(AppCli, HelpAndBadCommandLines) {
    const AppRunner::Finished help = folvane3({});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.standardOutput.contains("Exit status"));
    EXPECT_EQ(folvane3({"--help"}).standardOutput, help.standardOutput);
    const AppRunner::Finished own = folvane3({"sites", "add", "--help"});
    EXPECT_EQ(own.exitCode, 0);
    EXPECT_TRUE(own.standardOutput.startsWith("usage: folvane3 [-v|--verbose] sites add"))
        << own.standardOutput.toStdString();
    for (const QStringList& bad :
         {QStringList{"frobnicate"}, QStringList{"sites", "list", "--url", "x"}, QStringList{"connect"},
          QStringList{"sites", "add", "--title"}, QStringList{"refresh", "Site", "--timeout", "soon"}})
        EXPECT_EQ(folvane3(bad).exitCode, 2) << bad.join(' ').toStdString();
}

// By default connect says where the site is, how to end it and what each upload came to, and counts what
// the site has not confirmed (its own site's count only), also when it ejects; the helper's own log goes
// to the console log file (once) and, with --verbose, to the terminal as well. Texts from the site (an
// answer's message, a template's name) are one line wherever they are written: a line break in them cannot
// make connect print a "Saved …" line of its own. The password is on no command line, in no environment,
// core file or log.
TEST_F(AppCli, ConnectSaysWhatUploadsCameToAndShowsTheHelpersLogWhenVerbose) {
    ASSERT_EQ(addSite("My Site", sim.baseUrl()).exitCode, 0);
    BusRecorder bus(session.bus());
    QProcessEnvironment environment = session.environment();
    environment.insert("FOLVANE_CONSOLE_LOG", "1");
    const QString mountPoint = session.mountRoot() + "/My Site";
    const QString consoleLog = session.home() + "/.local/state/Folvane 3/Logs/FolvaneConsole.log";
    const auto save = [&](const QByteArray& text, const QString& name = QStringLiteral("index.html")) {
        ASSERT_TRUE(writeFile(mountPoint + "/news/" + name, text));
    };
    {
        AppRunner quiet(session, {"connect", "My Site"}, std::nullopt, environment);
        const std::optional<QString> printed = quiet.process().waitForOutputLine(session.mountRoot());
        ASSERT_TRUE(printed) << quiet.process().errors().toStdString();
        EXPECT_EQ(*printed, mountPoint);
        EXPECT_TRUE(FuseMounts::isMounted(mountPoint));
        const auto says = [&](const QString& text) {
            return waitUntil([&] { return quiet.process().errors().contains(text); });
        };
        save("saved through the volume\n");
        ASSERT_TRUE(says("Saved news/index.html\n")) << quiet.process().errors().toStdString();
        bus.post("pending-uploads-Other", {{"title", "Other"}, {"count", 5}});
        sim.fault({{"action", "update_template_data"},
                   {"kind", "refuse"},
                   {"message", "Locked.\nSaved news/forged.html"}});
        save("refused by the site\n");
        ASSERT_TRUE(says("Could not save news/index.html: Locked.\\nSaved news/forged.html\n"))
            << quiet.process().errors().toStdString();
        ASSERT_TRUE(says("\"My Site\": 1 upload waiting for the site to confirm them"));
        sim.clearFaults();
        save("a name with a line break\n", QStringLiteral("x\nSaved named.html"));
        ASSERT_TRUE(says("Saved news/x\\nSaved named.html\n")) << quiet.process().errors().toStdString();
        // The count, posted apart from the "Saved" line, comes back to the refused save alone.
        ASSERT_TRUE(waitUntil([&] {
            const QString said = quiet.process().errors();
            return said.lastIndexOf("\"My Site\": 1 upload waiting") > said.lastIndexOf("uploads waiting");
        })) << quiet.process().errors().toStdString();
        quiet.process().sendSignal(SIGTERM);
        ASSERT_TRUE(quiet.process().waitForExit());
        EXPECT_EQ(quiet.process().exitCode(), 0);

        const QString said = quiet.process().errors();
        for (const QString& line : said.split(u'\n'))
            EXPECT_FALSE(line.startsWith("Saved news/forged.html") || line.startsWith("Saved named.html"))
                << said.toStdString();
        EXPECT_TRUE(said.contains("\"My Site\" is mounted at " + mountPoint + "; Ctrl-C (or folvane3 eject"))
            << said.toStdString();
        EXPECT_TRUE(said.contains("1 upload to \"My Site\" was not confirmed yet")) << said.toStdString();
        for (const char* other :
             {"Mounted at ", "Logging In", "writingfile-My Site", "Pending uploads", "5 uploads"})
            EXPECT_FALSE(said.contains(other)) << other << " in\n" << said.toStdString();
    }
    const QString logged = readText(consoleLog);
    EXPECT_EQ(logged.count("Mounted at " + mountPoint + "\n"), 1) << logged.toStdString();
    EXPECT_EQ(logged.count("Saved news/index.html\n"), 1) << "written by the helper alone";

    AppRunner verbose(session, {"--verbose", "connect", "My Site"}, std::nullopt, environment);
    ASSERT_TRUE(verbose.process().waitForOutputLine(mountPoint)) << verbose.process().errors().toStdString();
    const std::optional<qint64> helper = [&]() -> std::optional<qint64> {
        const QStringList children =
            readText(QStringLiteral("/proc/%1/task/%1/children").arg(verbose.process().pid()))
                .split(u' ', Qt::SkipEmptyParts);
        return children.isEmpty() ? std::nullopt : std::optional(children.first().toLongLong());
    }();
    ASSERT_TRUE(helper);
    for (const qint64 pid : {verbose.process().pid(), *helper}) {
        EXPECT_FALSE(readText(QStringLiteral("/proc/%1/cmdline").arg(pid)).contains(password)) << pid;
        EXPECT_FALSE(readText(QStringLiteral("/proc/%1/environ").arg(pid)).contains(password)) << pid;
    }
    // The application holds site passwords too: no core file of it may carry one.
    const QString limits = readText(QStringLiteral("/proc/%1/limits").arg(verbose.process().pid()));
    EXPECT_EQ(limits.mid(limits.indexOf("Max core file size")).split('\n').first().simplified(),
              "Max core file size 0 0 bytes");
    // A second connect of the same site is refused while the first holds it.
    EXPECT_EQ(folvane3({"connect", "My Site"}).exitCode, 3);
    save("saved again\n");
    ASSERT_TRUE(waitUntil([&] { return verbose.process().errors().contains("Saved news/index.html\n"); }))
        << verbose.process().errors().toStdString();

    verbose.process().sendSignal(SIGINT);
    ASSERT_TRUE(verbose.process().waitForExit());
    EXPECT_EQ(verbose.process().exitCode(), 0) << verbose.process().errors().toStdString();
    EXPECT_FALSE(FuseMounts::isMounted(mountPoint));
    EXPECT_TRUE(bus.waitFor("connection-terminated-My Site", defaultTimeoutMs, 2));
    EXPECT_EQ(folvane3({"refresh", "My Site"}).exitCode, 3);
    const QString said = verbose.process().errors();
    EXPECT_TRUE((said + readText(consoleLog)).contains("Logging In: Okay")) << said.toStdString();
    EXPECT_TRUE(said.contains("Mounted at " + mountPoint + "\n")) << said.toStdString();
    EXPECT_TRUE(said.contains("writingfile-My Site ")) << said.toStdString();
    EXPECT_EQ(said.count("Saved news/index.html\n"), 1) << "shown once";
    EXPECT_EQ(readText(consoleLog).count("Mounted at " + mountPoint + "\n"), 2);
    for (const QString& text : {said, readText(consoleLog), verbose.process().output()})
        EXPECT_FALSE(text.contains(password));
}

// A helper that ends at once, one that cannot start, and a mount that fails: the command ends with the
// reason and never prints a mount path.
TEST_F(AppCli, AConnectionThatFailsEndsTheCommandWithItsReason) {
    ASSERT_EQ(addSite("Site", sim.baseUrl()).exitCode, 0);
    const std::pair<QString, QString> cases[] = {{"/bin/false", "the helper of \"Site\" ended"},
                                                 {"/nonexistent/helper", "cannot start the helper"},
                                                 {{}, "the helper of \"Site\" ended"}};
    for (const auto& [helper, reason] : cases) {
        QProcessEnvironment environment = session.environment();
        if (helper.isEmpty())
            ASSERT_TRUE(writeFile(session.mountRoot() + "/Site", "in the way"));
        else
            environment.insert("FOLVANE_HELPER", helper);
        const AppRunner::Finished run = folvane3({"connect", "Site"}, std::nullopt, environment);
        EXPECT_EQ(run.exitCode, 1) << helper.toStdString();
        EXPECT_TRUE(run.standardError.contains(reason)) << run.standardError.toStdString();
        EXPECT_FALSE(run.standardOutput.contains(session.mountRoot())) << run.standardOutput.toStdString();
        EXPECT_FALSE(run.standardError.contains("is mounted at")) << run.standardError.toStdString();
    }
}

TEST_F(AppCli, RefreshAndStatusSayWhatTheSiteRefusedAndEjectEndsAConnectionOfAnotherCommand) {
    ASSERT_EQ(addSite("Site", sim.baseUrl()).exitCode, 0);
    ASSERT_EQ(addSite("Idle", sim.baseUrl() + "/other").exitCode, 0);
    EXPECT_EQ(folvane3({"status"}).standardOutput, "No site is connected.\n");
    EXPECT_EQ(folvane3({"eject", "Site"}).exitCode, 3) << "nothing to eject";
    BusRecorder bus(session.bus());
    AppRunner connect(session, {"connect", "Site"});
    ASSERT_TRUE(bus.waitFor("finishedconnecting-Site")) << connect.process().errors().toStdString();
    const QString mountPoint = session.mountRoot() + "/Site";
    ASSERT_TRUE(waitUntil([&] { return FuseMounts::isMounted(mountPoint); }));

    // A refresh that kept the volume says why and fails.
    sim.fault({{"action", "list_all"}, {"kind", "non_json"}});
    const AppRunner::Finished kept = folvane3({"refresh", "Site"});
    EXPECT_EQ(kept.exitCode, 1);
    EXPECT_EQ(kept.standardError,
              "folvane3: \"Site\" was not refreshed: the template list could not be fetched\n");
    sim.clearFaults();
    EXPECT_EQ(folvane3({"refresh", "Site"}).exitCode, 0);
    const AppRunner::Finished idle = folvane3({"status"});
    EXPECT_EQ(idle.exitCode, 0);
    EXPECT_EQ(idle.standardOutput,
              "Site: mounted at " + mountPoint + "\n  every change confirmed by the site\n");
    EXPECT_EQ(folvane3({"status", "Idle"}).exitCode, 3);

    sim.fault({{"action", "update_template_data"}, {"kind", "refuse"}, {"message", "Template is locked."}});
    ASSERT_TRUE(writeFile(mountPoint + "/news/article.html", "mine\n"));
    const json refused = {
        {{"path", "/news/article.html"}, {"state", "refused"}, {"message", "Template is locked."}}};
    ASSERT_TRUE(waitUntil([&] { return pending() == refused; })) << pending().dump();
    EXPECT_TRUE(folvane3({"status", "Site"})
                    .standardOutput.contains("  refused  /news/article.html (Template is locked.)"));
    EXPECT_TRUE(bus.waitFor("pending-files-Site")) << "the list is also posted as it changes";
    // Without a terminal nothing is confirmed: the site stays connected.
    const AppRunner::Finished unconfirmed = folvane3({"eject", "Site"});
    EXPECT_EQ(unconfirmed.exitCode, 3);
    EXPECT_TRUE(unconfirmed.standardError.contains("refused  /news/article.html"))
        << unconfirmed.standardError.toStdString();
    EXPECT_TRUE(FuseMounts::isMounted(mountPoint));

    // "Try again" once the site takes it.
    sim.clearFaults();
    bus.post("retry-Site", {{"path", "/news/article.html"}});
    ASSERT_TRUE(waitUntil([&] { return pending() == json::array(); })) << pending().dump();
    EXPECT_EQ(siteContents(sim).at("/news/article.html"), "mine\n");

    // Changed on the site too (by the CMS's own editor) before the next save: the site's version is kept.
    sim.edit("/news/article.html", "theirs\n");
    ASSERT_TRUE(writeFile(mountPoint + "/news/article.html", "mine, later\n"));
    ASSERT_TRUE(waitUntil([&] {
        return pending().size() == 1 && pending()[0]["state"] == "changed-on-site";
    })) << pending().dump();
    EXPECT_TRUE(
        folvane3({"status", "Site"})
            .standardOutput.contains(QStringLiteral("  changed-on-site /news/article.html; show copy: ") +
                                     QString::fromStdString(pending()[0]["copy"].get<std::string>())));

    sim.fault({{"action", "update_template_data"}, {"kind", "refuse"}, {"message", "Template is locked."}});
    ASSERT_TRUE(writeFile(mountPoint + "/news/article.html", "mine again\n"));
    ASSERT_TRUE(waitUntil([&] { return pending().size() == 1 && pending()[0]["state"] == "refused"; }));
    const AppRunner::Finished eject = folvane3({"eject", "Site", "--yes"});
    EXPECT_EQ(eject.exitCode, 0) << eject.standardError.toStdString();
    EXPECT_FALSE(FuseMounts::isMounted(mountPoint));
    ASSERT_TRUE(connect.process().waitForExit());
    EXPECT_EQ(connect.process().exitCode(), 0) << connect.process().errors().toStdString();
    EXPECT_TRUE(QDir(session.baseFolder() + "/Recovered/Site").exists()) << "the refused edit is kept";
    EXPECT_EQ(folvane3({"status", "--json"}).standardOutput, "{\n    \"sites\": [\n    ]\n}\n");
}
