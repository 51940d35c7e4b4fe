// The real helper against sites that answer in ways meant to hurt it: names that are not UTF-8, answers
// without end, a byte at a time, redirects that would carry the password elsewhere, a certificate nobody
// trusts. Each ends with the right reason in the log; none hangs, crashes or sends the password away.
#include "testkit/AddonSim.h"
#include "testkit/HelperRunner.h"
#include "testkit/TestSession.h"
#include "testkit/UntrustedTlsSite.h"
#include "testkit/Wait.h"

#include <QDir>
#include <QFile>
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

TEST(HostileAnswers, NamesThatAreNotUtf8AreSkippedAndTheRestIsMounted) {
    TestSession session;
    AddonSim sim;
    sim.setListAllRaw("{\"folders\":["
                      "{\"id\":1,\"name\":\"site\",\"is_special\":true,\"files\":["
                      "{\"id\":3,\"name\":\"inde\xff.html\",\"data\":\"eA==\"},"
                      "{\"id\":4,\"name\":\"kept.html\",\"data\":\"eQ==\"}]},"
                      "{\"id\":2,\"name\":\"n\xe9ws\",\"is_special\":false,\"files\":["
                      "{\"id\":5,\"name\":\"a.html\",\"data\":\"eA==\"}]}]}");
    HelperRunner helper(session, optionsFor(sim.baseUrl()));
    ASSERT_TRUE(waitUntil([&] { return helper.isMounted(); })) << helper.logText().toStdString();
    const QString volume = helper.mountPoint();
    EXPECT_EQ(QDir(volume).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"site"});
    EXPECT_EQ(QDir(volume + "/site").entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{"kept.html"});
    QFile kept(volume + "/site/kept.html");
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), "y");
    ASSERT_TRUE(helper.waitForLog("Skipping a template group")) << helper.logText().toStdString();
    const QString log = helper.logText();
    EXPECT_TRUE(log.contains("Skipping a template with an unusable name in ") &&
                log.contains(": inde\\xff.html"))
        << log.toStdString();
    EXPECT_TRUE(log.contains("Skipping a template group with an unusable name: n\\xe9ws"))
        << log.toStdString();
}

TEST(HostileAnswers, AnswersOverTheirCapAreRefusedOnTheAnnouncedLength) {
    TestSession session;
    AddonSim sim;
    // Announced far over the template list's cap, then a byte a second: refused at once, not waited for.
    sim.fault({{"action", "list_all"}, {"kind", "drip"}, {"ms", 1000}, {"length", 2000000000}});
    {
        HelperRunner helper(session, optionsFor(sim.baseUrl()));
        ASSERT_TRUE(helper.waitForLog("Template list request failed: answer too large: more than 536870912 "
                                      "bytes from 127.0.0.1"))
            << helper.logText().toStdString();
    }
    // Any other answer has a far smaller cap.
    sim.fault({{"action", "login"}, {"kind", "drip"}, {"ms", 1000}, {"length", 100000000}});
    HelperRunner helper(session, optionsFor(sim.baseUrl()));
    expectLoginFailure(helper, "answer too large: more than 8388608 bytes from 127.0.0.1");
}

TEST(HostileAnswers, AnAnswerThatNeverFallsSilentEndsAtItsDeadline) {
    TestSession session;
    AddonSim sim;
    sim.fault({{"action", "list_all"}, {"kind", "drip"}, {"ms", 100}});
    HelperRunner::Options options = optionsFor(sim.baseUrl());
    options.extraEnv["FOLVANE_ANSWER_DEADLINE_MS"] = "3000";
    HelperRunner helper(session, options);
    ASSERT_TRUE(helper.waitForLog("Template list request failed: no complete answer within 3000 ms"))
        << helper.logText().toStdString();
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
