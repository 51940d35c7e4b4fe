// The real helper against sites that answer in ways meant to hurt it: answers without end, a byte at a
// time, redirects that would carry the password elsewhere (a certificate nobody trusts is the command
// line's test: the same client). Each ends with the right reason in the log; none hangs, crashes or sends
// the password away.
#include "testkit/ConnectedSite.h"
#include "testkit/Wait.h"

#include <QDir>
#include <gtest/gtest.h>

using namespace folvane::testkit;
using nlohmann::json;

using HostileAnswers = ConnectedSite;

// Millions of tiny entries fit under the list's size limit, and a template held whole could nest without
// end: past the helper's bounds (tightened here) the rest is skipped and what fits mounted.
TEST_F(HostileAnswers, AListPastItsBoundsMountsWhatFits) {
    const auto file = [](int id, const std::string& more = {}) {
        return "{\"id\":" + std::to_string(id) + ",\"name\":\"t" + std::to_string(id) +
               ".html\",\"data\":\"eA==\"" + more + "}";
    };
    std::string nested = "1";
    for (int i = 0; i < 100; ++i)
        nested = "[" + nested + "]";
    serve();
    sim_->setListAllRaw(
        "{\"folders\":[{\"id\":1,\"name\":\"site\",\"is_special\":true,\"files\":[" + file(1) + "," +
        file(2, ",\"x\":\"" + std::string(5000, 'A') + "\"") + "," + file(3, ",\"x\":" + nested) + "," +
        file(4) + "]},{\"id\":2,\"name\":\"news\",\"is_special\":false,\"files\":[" + file(5) + "," +
        file(6) + "]},{\"id\":3,\"name\":\"more\",\"is_special\":false,\"files\":[" + file(7) + "]}]}");
    HelperRunner::Options options;
    options.extraEnv = {{"FOLVANE_LIST_MAX_TEMPLATES", "5"},
                        {"FOLVANE_LIST_MAX_GROUPS", "2"},
                        {"FOLVANE_LIST_MAX_TEMPLATE_BYTES", "4096"}};
    launch(options);
    ASSERT_TRUE(waitUntil([&] { return helper_->isMounted(); })) << helper_->logText().toStdString();
    // The mirror, not the volume: with caching off each read asks the site, whose own templates differ.
    EXPECT_EQ(volumeContents(mirror()), (Contents{{"/news/", ""},
                                                  {"/news/t5.html", "x"},
                                                  {"/site/", ""},
                                                  {"/site/t1.html", "x"},
                                                  {"/site/t4.html", "x"}}));
}

// The template list's cap is checked with the helper's start-up; any other answer has a far smaller one,
// refused on the announced length, not waited for.
TEST_F(HostileAnswers, AnAnswerOverItsCapIsRefusedOnTheAnnouncedLength) {
    serve();
    sim_->fault({{"action", "login"}, {"kind", "drip"}, {"ms", 1000}, {"length", 100000000}});
    launch();
    expectEnd(1, "Login failed: answer too large: more than 8388608 bytes from 127.0.0.1");
}

TEST_F(HostileAnswers, RedirectsAreFollowedOnlyWithinTheSite) {
    // To the same address: followed, the form posted again.
    serve();
    sim_->fault({{"action", "login"}, {"kind", "redirect"}, {"times", 1}});
    launch();
    ASSERT_TRUE(helper_->waitForLog("templates in ")) << helper_->logText().toStdString();
    // The redirected post, then the one it led to (a connection the simulator closed may add a resend).
    const json logins = sim_->requestsFor("login");
    ASSERT_GE(logins.size(), 2u);
    EXPECT_EQ(logins.back()["form"], (json{{"password", "password"}, {"username", "admin"}}));

    // To another port, another site: nothing reaches it, the password least of all.
    AddonSim elsewhere;
    sim_->fault({{"action", "login"}, {"kind", "redirect"}, {"location", elsewhere.baseUrl().toStdString()}});
    launch(options_);
    expectEnd(
        1, QStringLiteral("Login failed: redirected to another host (127.0.0.1:%1); nothing was sent there")
               .arg(elsewhere.port()));
    EXPECT_TRUE(elsewhere.log().empty()) << elsewhere.log().dump();
}
