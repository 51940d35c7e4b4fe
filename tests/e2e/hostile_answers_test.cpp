// The real helper against sites that answer in ways meant to hurt it: answers without end, a byte at a
// time, redirects that would carry the password elsewhere, a certificate nobody trusts.
// Each ends with the right reason in the log; none hangs, crashes or sends the password away.
#include "testkit/ConnectedSite.h"
#include "testkit/UntrustedTlsSite.h"
#include "testkit/Wait.h"

#include <QDir>
#include <gtest/gtest.h>

using namespace folvane::testkit;
using nlohmann::json;

namespace {

HelperRunner::Options optionsFor(const QString& url) {
    HelperRunner::Options options;
    options.url = url;
    return options;
}

// Ends with status 1 (no login) and its log holds `reason`.
void expectLoginFailure(HelperRunner& helper, const QString& reason) {
    ASSERT_TRUE(helper.waitForExit()) << helper.logText().toStdString();
    EXPECT_EQ(helper.exitCode(), 1);
    EXPECT_TRUE(helper.logText().contains(QStringLiteral("Login failed: ") + reason))
        << helper.logText().toStdString();
}

} // namespace

// Millions of tiny entries fit under the list's size limit, and a template held whole could nest without
// end: past the helper's bounds (tightened here) the rest is skipped with a log line and what fits mounted.
TEST(HostileAnswers, AListPastItsBoundsMountsWhatFits) {
    TestSession session;
    AddonSim sim;
    const auto file = [](int id, const std::string& more = {}) {
        return "{\"id\":" + std::to_string(id) + ",\"name\":\"t" + std::to_string(id) +
               ".html\",\"data\":\"eA==\"" + more + "}";
    };
    std::string nested = "1";
    for (int i = 0; i < 100; ++i)
        nested = "[" + nested + "]";
    sim.setListAllRaw(
        "{\"folders\":[{\"id\":1,\"name\":\"site\",\"is_special\":true,\"files\":[" + file(1) + "," +
        file(2, ",\"x\":\"" + std::string(5000, 'A') + "\"") + "," + file(3, ",\"x\":" + nested) + "," +
        file(4) + "]},{\"id\":2,\"name\":\"news\",\"is_special\":false,\"files\":[" + file(5) + "," +
        file(6) + "]},{\"id\":3,\"name\":\"more\",\"is_special\":false,\"files\":[" + file(7) + "]}]}");
    HelperRunner::Options options = optionsFor(sim.baseUrl());
    options.extraEnv["FOLVANE_LIST_MAX_TEMPLATES"] = "5";
    options.extraEnv["FOLVANE_LIST_MAX_GROUPS"] = "2";
    options.extraEnv["FOLVANE_LIST_MAX_TEMPLATE_BYTES"] = "4096";
    HelperRunner helper(session, options);
    ASSERT_TRUE(waitUntil([&] { return helper.isMounted(); })) << helper.logText().toStdString();
    const QString volume = helper.mountPoint();
    const auto entries = [&](const QString& folder) {
        return QDir(volume + folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    };
    EXPECT_EQ(entries(""), (QStringList{"news", "site"}));
    EXPECT_EQ(entries("/site"), (QStringList{"t1.html", "t4.html"}));
    EXPECT_EQ(entries("/news"), QStringList{"t5.html"});
    ASSERT_TRUE(helper.waitForLog("Skipped 1 templates past the bound of 5"))
        << helper.logText().toStdString();
    const QString log = helper.logText();
    for (const char* line : {"Skipping a template too large or nested too deeply in ",
                             "The template list holds more than 5 templates: the rest are skipped",
                             "The template list holds more than 2 template groups: the rest are skipped",
                             "Skipped 1 template groups past the bound of 2"})
        EXPECT_TRUE(log.contains(line)) << line << "\n" << log.toStdString();
}

// The template list's cap is checked with the helper's start-up; any other answer has a far smaller one,
// refused on the announced length, not waited for.
TEST(HostileAnswers, AnAnswerOverItsCapIsRefusedOnTheAnnouncedLength) {
    TestSession session;
    AddonSim sim;
    sim.fault({{"action", "login"}, {"kind", "drip"}, {"ms", 1000}, {"length", 100000000}});
    HelperRunner helper(session, optionsFor(sim.baseUrl()));
    expectLoginFailure(helper, "answer too large: more than 8388608 bytes from 127.0.0.1");
}

TEST(HostileAnswers, RedirectsAreFollowedOnlyWithinTheSite) {
    TestSession session;
    AddonSim sim;
    // To the same address: followed, the form posted again.
    sim.fault({{"action", "login"}, {"kind", "redirect"}, {"times", 1}});
    {
        HelperRunner helper(session, optionsFor(sim.baseUrl()));
        ASSERT_TRUE(helper.waitForLog("templates in ")) << helper.logText().toStdString();
        // The redirected post, then the one it led to (a connection the simulator closed may add a resend).
        const json logins = sim.requestsFor("login");
        ASSERT_GE(logins.size(), 2u);
        EXPECT_EQ(logins.back()["form"], (json{{"password", "password"}, {"username", "admin"}}));
    }
    // To another port, another site: nothing reaches it, the password least of all.
    AddonSim elsewhere;
    sim.fault({{"action", "login"}, {"kind", "redirect"}, {"location", elsewhere.baseUrl().toStdString()}});
    HelperRunner helper(session, optionsFor(sim.baseUrl()));
    expectLoginFailure(helper,
                       QStringLiteral("redirected to another host (127.0.0.1:%1); nothing was sent there")
                           .arg(elsewhere.port()));
    EXPECT_TRUE(elsewhere.log().empty()) << elsewhere.log().dump();
}

TEST(HostileAnswers, AnUntrustedCertificateIsReportedAsSuchAndNothingIsSent) {
    TestSession session;
    UntrustedTlsSite site;
    HelperRunner helper(session, optionsFor(site.baseUrl()));
    expectLoginFailure(helper, "the certificate of 127.0.0.1 was not accepted: ");
    EXPECT_TRUE(site.requests().isEmpty()) << site.requests().join(", ").toStdString();
}
