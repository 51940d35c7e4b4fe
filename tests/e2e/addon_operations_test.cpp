// Every template and group operation of the add-on client against the simulator: the request it sends,
// the notification the user sees, and what its completion receives.
#include "DesktopNotifier.h"
#include "HttpClient.h"
#include "NotificationBus.h"
#include "addon/HttpAddonClient.h"
#include "testkit/AddonSim.h"
#include "testkit/TestSession.h"
#include "testkit/Wait.h"

#include <QCoreApplication>
#include <QThread>
#include <gtest/gtest.h>
#include <thread>

using namespace folvane;
using namespace folvane::testkit;
using nlohmann::json;

namespace {

// One add-on client logged in to a simulator, as the helper holds it.
class Client {
public:
    Client(TestSession& session, const AddonSim& sim, bool notifications = true)
        : bus_(session.bus()), notifier_(session.bus()) {
        site_.typedUrl = sim.baseUrl();
        site_.cleanName = QStringLiteral("Ops");
        site_.login = QStringLiteral("admin");
        site_.password = QStringLiteral("password");
        site_.cms = sim.cms() == "wp" ? CMS::wordPress : CMS::expressionEngine;
        helper_ = std::make_unique<HttpAddonClient>(site_, http_, bus_, notifier_,
                                                    HttpAddonClient::Options{.notifications = notifications});
        EXPECT_TRUE(helper_->logIn());
    }
    HttpAddonClient& operator*() { return *helper_; }
    HttpAddonClient* operator->() { return helper_.get(); }

private:
    WebsiteInUse site_;
    HttpClient http_{helperRequestLimit};
    NotificationBus bus_;
    DesktopNotifier notifier_;
    std::unique_ptr<HttpAddonClient> helper_;
};

json lastRequest(const AddonSim& sim, const std::string& action) {
    const json requests = sim.requestsFor(action);
    return requests.empty() ? json() : requests.back();
}

// The summaries of the notifications shown so far, in order.
std::vector<std::string> summaries(const TestSession& session) {
    std::vector<std::string> result;
    for (const auto& n : session.notifications())
        result.push_back(n.summary.toStdString());
    return result;
}

// Serves `body` as the next answer to `action`, once.
void answerOnce(const AddonSim& sim, const std::string& action, const json& body) {
    sim.fault({{"action", action}, {"kind", "raw"}, {"body", body.dump()}, {"times", 1}});
}

// The site's template or group of this name; null when there is none.
json named(const AddonSim& sim, const char* kind, const std::string& name) {
    const json state = sim.state();
    for (const json& item : state[kind])
        if (item["name"] == name)
            return item;
    return {};
}
json templateNamed(const AddonSim& sim, const std::string& name) {
    return named(sim, "templates", name);
}
json groupNamed(const AddonSim& sim, const std::string& name) {
    return named(sim, "groups", name);
}

const QString helloBase64 = QStringLiteral("aGVsbG8gKyB3b3JsZA=="); // "hello + world"

// A client logged in to the ExpressionEngine demo site.
class AddonOperations : public ::testing::Test {
protected:
    TestSession session;
    AddonSim sim;
    Client client{session, sim};
};

} // namespace

TEST_F(AddonOperations, UpdateSendsItsFieldsAndReportsTheOutcome) {
    const json index = templateNamed(sim, "about.html");
    const QString group = QString::fromStdString(index["group_id"]), id = QString::fromStdString(index["id"]);

    std::optional<AddonResult> outcome;
    client->updateTemplate(group, id, helloBase64, [&](const auto& o) { outcome = o; });
    ASSERT_TRUE(waitUntil([&] { return outcome.has_value(); }));
    EXPECT_TRUE(outcome->success);
    EXPECT_EQ(lastRequest(sim, "update_template_data")["form"],
              (json{{"template_data", helloBase64.toStdString()},
                    {"template_group_id", group.toStdString()},
                    {"template_id", id.toStdString()}}));
    EXPECT_EQ(templateNamed(sim, "about.html")["content"], "hello + world");
    ASSERT_TRUE(session.waitForNotification("Update Successful"));

    sim.fault({{"action", "update_template_data"}, {"kind", "refuse"}, {"message", "Template is locked."}});
    outcome.reset();
    client->updateTemplate(group, id, QStringLiteral("eA=="), [&](const auto& o) { outcome = o; });
    ASSERT_TRUE(waitUntil([&] { return outcome.has_value(); }));
    EXPECT_FALSE(outcome->success);
    EXPECT_FALSE(outcome->transportFailed);
    const auto refused = session.waitForNotification("Update Error");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->body, "Template is locked.");

    sim.clearFaults();
    // Every attempt dropped: reported as no answer.
    sim.fault({{"action", "update_template_data"}, {"kind", "drop"}});
    outcome.reset();
    client->updateTemplate(group, id, QStringLiteral("eA=="), [&](const auto& o) { outcome = o; });
    ASSERT_TRUE(waitUntil([&] { return outcome.has_value(); }));
    EXPECT_TRUE(outcome->transportFailed);
    EXPECT_EQ(summaries(session), (std::vector<std::string>{"Update Successful", "Update Error"}));
}

// The site carries a request out and closes the connection before answering: the client reports that no
// answer came, and nothing sends the request a second time on its own (it would make a second template, or
// be refused for the first one).
TEST_F(AddonOperations, ARequestWhoseAnswerIsLostIsReportedAndNeverSentAgainOnItsOwn) {
    const QString group = QString::fromStdString(sim.state()["groups"][0]["id"].get<std::string>());
    // A connection already in use, as the helper's is.
    std::optional<AddonResult> outcome;
    client->createTemplate(group, QStringLiteral("first.html"), helloBase64,
                           [&](const auto& o) { outcome = o; });
    ASSERT_TRUE(waitUntil([&] { return outcome.has_value(); }));

    for (const char* action : {"create_template", "create_template_group"}) {
        SCOPED_TRACE(action);
        sim.fault({{"action", action}, {"kind", "lose_answer"}, {"times", 3}});
        outcome.reset();
        const size_t before = sim.requestsFor(action).size();
        if (std::string(action) == "create_template")
            client->createTemplate(group, QStringLiteral("once.html"), helloBase64,
                                   [&](const auto& o) { outcome = o; });
        else
            client->createGroup(QStringLiteral("once"), QString(), [&](const auto& o) { outcome = o; });
        ASSERT_TRUE(waitUntil([&] { return outcome.has_value(); }));
        EXPECT_TRUE(outcome->transportFailed);
        EXPECT_EQ(sim.requestsFor(action).size(), before + 1);
        sim.clearFaults();
    }
    EXPECT_FALSE(templateNamed(sim, "once.html").is_null());
    EXPECT_FALSE(groupNamed(sim, "once").is_null());
}

TEST_F(AddonOperations, NothingIsShownWithNotificationsOffButEverythingIsSent) {
    Client quiet(session, sim, false);
    std::optional<QString> created;
    bool done = false;
    quiet->createGroup(QStringLiteral("quiet"), QString(),
                       [&](const AddonResult& r) { created = r.id, done = true; });
    ASSERT_TRUE(waitUntil([&] { return done; }));
    EXPECT_FALSE(created.value_or("").isEmpty());
    EXPECT_FALSE(groupNamed(sim, "quiet").is_null());
    EXPECT_TRUE(session.notifications().empty());
}

TEST_F(AddonOperations, GroupCreationHandsOverWhateverTheAnswerCarries) {
    std::vector<std::pair<std::optional<QString>, std::optional<bool>>> results;
    const auto record = [&](const AddonResult& r) { results.emplace_back(r.id, r.isSpecial); };

    client->createGroup(QStringLiteral("blog & news"), QString(), record);
    ASSERT_TRUE(waitUntil([&] { return results.size() == 1; }));
    EXPECT_EQ(results[0].first, QString::fromStdString(groupNamed(sim, "blog & news")["id"]));
    EXPECT_EQ(results[0].second, false);
    EXPECT_EQ(lastRequest(sim, "create_template_group")["form"],
              (json{{"template_group_id", ""}, {"template_group_name", "blog & news"}}));

    answerOnce(sim, "create_template_group",
               {{"success", false},
                {"message", "Name taken."},
                {"template_group", {{"id", 7}, {"is_special", false}}}});
    client->createGroup(QStringLiteral("x"), QString(), record);
    ASSERT_TRUE(waitUntil([&] { return results.size() == 2; }));
    EXPECT_EQ(results[1].first, "7");
    EXPECT_EQ(results[1].second, false);

    answerOnce(sim, "create_template_group", "not json at all");
    client->createGroup(QStringLiteral("y"), QString(), record);
    ASSERT_TRUE(waitUntil([&] { return results.size() == 3; }));
    EXPECT_FALSE(results[2].first);
    EXPECT_FALSE(results[2].second);
    EXPECT_EQ(summaries(session),
              (std::vector<std::string>{"Group Creation Success", "Group Creation Error"}));
}

TEST(AddonOperationsOfEitherFlavour, CreatedTemplateIdsFollowTheSitesKind) {
    for (const char* cms : {"ee", "wp"}) {
        TestSession session;
        AddonSim sim(cms);
        Client client(session, sim);
        const bool ee = std::string(cms) == "ee";
        const QString group = QString::fromStdString(sim.state()["groups"][0]["id"].get<std::string>());
        std::vector<std::optional<QString>> ids;
        const auto record = [&](const AddonResult& r) { ids.push_back(r.id); };

        client->createTemplate(group, QStringLiteral("new page.html"), helloBase64, record);
        ASSERT_TRUE(waitUntil([&] { return ids.size() == 1; }));
        EXPECT_EQ(ids[0], QString::fromStdString(templateNamed(sim, "new page.html")["id"]));
        EXPECT_EQ(templateNamed(sim, "new page.html")["content"], "hello + world");

        answerOnce(sim, "create_template",
                   {{"success", true}, {"message", "ok"}, {"template", {{"id", 42}}}});
        client->createTemplate(group, QStringLiteral("a"), QString(), record);
        ASSERT_TRUE(waitUntil([&] { return ids.size() == 2; }));
        answerOnce(sim, "create_template",
                   {{"success", true}, {"message", "ok"}, {"template", {{"id", "42"}}}});
        client->createTemplate(group, QStringLiteral("b"), QString(), record);
        ASSERT_TRUE(waitUntil([&] { return ids.size() == 3; }));
        EXPECT_EQ(ids[1], ee ? std::optional<QString>("42") : std::nullopt) << cms;
        EXPECT_EQ(ids[2], ee ? std::nullopt : std::optional<QString>("42")) << cms;
        EXPECT_EQ(summaries(session), (std::vector<std::string>(3, "Template Created")));
    }
}

TEST_F(AddonOperations, MovesAreRenamesWithinOneGroup) {
    const json about = templateNamed(sim, "about.html");
    const json news = groupNamed(sim, "news");
    const QString id = QString::fromStdString(about["id"]), from = QString::fromStdString(about["group_id"]);
    const QString to = QString::fromStdString(news["id"]);
    std::vector<std::pair<std::optional<bool>, std::optional<QString>>> results;
    const auto record = [&](const AddonResult& r) { results.emplace_back(r.success, r.id); };

    client->moveTemplate(id, QStringLiteral("about-us.html"), from, from, record);
    ASSERT_TRUE(waitUntil([&] { return results.size() == 1; }));
    EXPECT_EQ(results[0], std::pair(std::optional(true), std::optional(id)));
    EXPECT_EQ(lastRequest(sim, "move_template")["form"], (json{{"from_group_id", from.toStdString()},
                                                               {"template_id", id.toStdString()},
                                                               {"template_name", "about-us.html"},
                                                               {"to_group_id", from.toStdString()}}));

    client->moveTemplate(id, QStringLiteral("about-us.html"), from, to, record);
    ASSERT_TRUE(waitUntil([&] { return results.size() == 2; }));
    EXPECT_EQ(templateNamed(sim, "about-us.html")["path"], "/news/about-us.html");

    sim.fault({{"action", "move_template"}, {"kind", "refuse"}, {"message", "No."}, {"times", 2}});
    client->moveTemplate(id, QStringLiteral("x.html"), to, to, record);
    client->moveTemplate(id, QStringLiteral("x.html"), to, from, record);
    ASSERT_TRUE(waitUntil([&] { return results.size() == 4; }));
    EXPECT_EQ(results[2], std::pair(std::optional(false), std::optional<QString>()));

    // "success" without a message takes the failure path quietly: success stays true, no new id.
    answerOnce(sim, "move_template", {{"success", true}, {"template", {{"id", 99}}}});
    client->moveTemplate(id, QStringLiteral("y.html"), to, to, record);
    ASSERT_TRUE(waitUntil([&] { return results.size() == 5; }));
    EXPECT_EQ(results[4], std::pair(std::optional(true), std::optional<QString>()));

    EXPECT_EQ(summaries(session),
              (std::vector<std::string>{"Template Renamed", "Template Moved", "Rename Template Error",
                                        "Rename Template Error"}));
}

TEST(AddonOperationsOfEitherFlavour, WordPressGroupsRenameMoveAndDelete) {
    TestSession session;
    AddonSim sim("wp");
    Client client(session, sim);
    bool created = false;
    std::optional<QString> a, b;
    client->createGroup(QStringLiteral("a"), QString(), [&](const AddonResult& r) { a = r.id; });
    ASSERT_TRUE(waitUntil([&] { return a.has_value(); }));
    client->createGroup(QStringLiteral("b"), *a, [&](const AddonResult& r) { b = r.id, created = true; });
    ASSERT_TRUE(waitUntil([&] { return created; }));
    EXPECT_EQ(b, "a/b");

    std::optional<AddonResult> renamed;
    client->renameGroup(*b, QStringLiteral("c"), [&](const auto& o) { renamed = o; });
    ASSERT_TRUE(waitUntil([&] { return renamed.has_value(); }));
    EXPECT_TRUE(renamed->success);
    EXPECT_FALSE(groupNamed(sim, "c").is_null());

    std::optional<std::pair<std::optional<bool>, std::optional<QString>>> moved;
    client->moveGroup(QStringLiteral("a/c"), QStringLiteral("theme"),
                      [&](const AddonResult& r) { moved.emplace(r.success, r.id); });
    ASSERT_TRUE(waitUntil([&] { return moved.has_value(); }));
    EXPECT_EQ(*moved, std::pair(std::optional(true), std::optional<QString>("theme/c")));

    std::optional<AddonResult> deleted;
    client->deleteGroup(QStringLiteral("theme/c"), [&](const auto& o) { deleted = o; });
    ASSERT_TRUE(waitUntil([&] { return deleted.has_value(); }));
    EXPECT_TRUE(groupNamed(sim, "c").is_null());
    EXPECT_EQ(summaries(session),
              (std::vector<std::string>{"Group Creation Success", "Group Creation Success",
                                        "Rename Template Group", "Folder Moved", "Template Deleted"}));
}

TEST_F(AddonOperations, DeletesAndFetchesAndAnswersThatAreNotJson) {
    const json article = templateNamed(sim, "article.html");
    const QString group = QString::fromStdString(article["group_id"]),
                  id = QString::fromStdString(article["id"]);

    std::optional<json> fetched;
    client->getTemplate(group, id, [&](const json& answer) { fetched = answer; });
    ASSERT_TRUE(waitUntil([&] { return fetched.has_value(); }));
    EXPECT_EQ((*fetched)["template"]["name"], "article.html");
    EXPECT_EQ((*fetched)["template"]["data"], article["data"]);

    std::optional<AddonResult> deleted;
    client->deleteTemplate(group, id, [&](const auto& o) { deleted = o; });
    ASSERT_TRUE(waitUntil([&] { return deleted.has_value(); }));
    EXPECT_TRUE(templateNamed(sim, "article.html").is_null());

    sim.fault({{"action", "*"}, {"kind", "non_json"}});
    deleted.reset();
    client->deleteGroup(group, [&](const auto& o) { deleted = o; });
    ASSERT_TRUE(waitUntil([&] { return deleted.has_value(); }));
    EXPECT_FALSE(deleted->success);
    EXPECT_FALSE(deleted->transportFailed) << "a page that is not JSON is an answer, not a transport failure";
    EXPECT_EQ(summaries(session), (std::vector<std::string>{"Template Deleted"}));
}

TEST_F(AddonOperations, StartedOnAnotherThreadCompletesOnceOnTheMainThread) {
    const QString group = QString::fromStdString(groupNamed(sim, "news")["id"]);
    int calls = 0;
    bool onMainThread = false;
    std::thread worker([&] {
        client->createTemplate(
            group, QStringLiteral("threaded.html"), helloBase64, [&](const AddonResult& r) {
                ++calls;
                onMainThread = QThread::currentThread() == qApp->thread() && r.id.has_value();
            });
    });
    worker.join();
    ASSERT_TRUE(waitUntil([&] { return calls > 0; }));
    waitUntil([] { return false; }, 300); // a second call would arrive by now
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(onMainThread);
}
