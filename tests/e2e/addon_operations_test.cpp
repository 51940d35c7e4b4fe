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
using Summaries = std::vector<std::string>;

namespace {

// One add-on client logged in to a simulator, as the helper holds it.
class Client {
public:
    Client(TestSession& session, const AddonSim& sim) : bus_(session.bus()), notifier_(session.bus()) {
        site_.typedUrl = sim.baseUrl();
        site_.cleanName = QStringLiteral("Ops");
        site_.login = QStringLiteral("admin");
        site_.password = QStringLiteral("password");
        site_.cms = sim.cms() == "wp" ? CMS::wordPress : CMS::expressionEngine;
        helper_ = std::make_unique<HttpAddonClient>(site_, http_, bus_, notifier_,
                                                    HttpAddonClient::Options{.notifications = true});
        EXPECT_TRUE(helper_->logIn());
    }
    HttpAddonClient* operator->() { return helper_.get(); }

private:
    WebsiteInUse site_;
    HttpClient http_{helperRequestLimit};
    NotificationBus bus_;
    DesktopNotifier notifier_;
    std::unique_ptr<HttpAddonClient> helper_;
};

// Starts one request and returns its answer once it came.
AddonResult await(const std::function<void(AddonClient::Done)>& start) {
    std::optional<AddonResult> result;
    start([&](const AddonResult& r) { result = r; });
    EXPECT_TRUE(waitUntil([&] { return result.has_value(); }));
    return result.value_or(AddonResult{});
}

json lastForm(const AddonSim& sim, const std::string& action) {
    const json requests = sim.requestsFor(action);
    return requests.empty() ? json() : requests.back()["form"];
}

// The summaries of the notifications shown so far, in order.
Summaries summaries(const TestSession& session) {
    Summaries result;
    for (const auto& n : session.notifications())
        result.push_back(n.summary.toStdString());
    return result;
}

void expectShown(const TestSession& session, const Summaries& expected) {
    EXPECT_TRUE(waitUntil([&] { return summaries(session) == expected; }))
        << testing::PrintToString(summaries(session));
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
QString text(const json& value) {
    return QString::fromStdString(value.get<std::string>());
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
    const json about = named(sim, "templates", "about.html");
    const QString group = text(about["group_id"]), id = text(about["id"]);
    const auto update = [&](const QString& data) {
        return await([&](auto done) { client->updateTemplate(group, id, data, done); });
    };
    EXPECT_TRUE(update(helloBase64).success);
    EXPECT_EQ(lastForm(sim, "update_template_data"), (json{{"template_data", helloBase64.toStdString()},
                                                           {"template_group_id", group.toStdString()},
                                                           {"template_id", id.toStdString()}}));
    EXPECT_EQ(named(sim, "templates", "about.html")["content"], "hello + world");

    sim.fault({{"action", "update_template_data"}, {"kind", "refuse"}, {"message", "Template is locked."}});
    const AddonResult refused = update(QStringLiteral("eA=="));
    EXPECT_FALSE(refused.success || refused.transportFailed);
    sim.clearFaults();
    // Every attempt dropped: reported as no answer.
    sim.fault({{"action", "update_template_data"}, {"kind", "drop"}});
    EXPECT_TRUE(update(QStringLiteral("eA==")).transportFailed);
    expectShown(session, {"Update Successful", "Update Error"});
    EXPECT_EQ(session.notifications().back().body, "Template is locked.");
}

TEST_F(AddonOperations, GroupCreationHandsOverWhateverTheAnswerCarries) {
    const auto create = [&](const QString& name) {
        return await([&](auto done) { client->createGroup(name, QString(), done); });
    };
    AddonResult created = create(QStringLiteral("blog & news"));
    EXPECT_EQ(created.id, text(named(sim, "groups", "blog & news")["id"]));
    EXPECT_EQ(created.isSpecial, false);
    EXPECT_EQ(lastForm(sim, "create_template_group"),
              (json{{"template_group_id", ""}, {"template_group_name", "blog & news"}}));

    answerOnce(sim, "create_template_group",
               {{"success", false},
                {"message", "Name taken."},
                {"template_group", {{"id", 7}, {"is_special", false}}}});
    created = create(QStringLiteral("x"));
    EXPECT_EQ(created.id, "7");
    EXPECT_EQ(created.isSpecial, false);

    answerOnce(sim, "create_template_group", "not json at all");
    created = create(QStringLiteral("y"));
    EXPECT_FALSE(created.id);
    EXPECT_FALSE(created.isSpecial);
    expectShown(session, {"Group Creation Success", "Group Creation Error"});
}

TEST(AddonOperationsOfEitherFlavour, CreatedTemplateIdsFollowTheSitesKind) {
    for (const char* cms : {"ee", "wp"}) {
        TestSession session;
        AddonSim sim(cms);
        Client client(session, sim);
        const bool ee = std::string(cms) == "ee";
        const QString group = text(sim.state()["groups"][0]["id"]);
        const auto create = [&](const QString& name, const QString& data) {
            return await([&](auto done) { client->createTemplate(group, name, data, done); }).id;
        };
        const std::optional<QString> made = create(QStringLiteral("new page.html"), helloBase64);
        EXPECT_EQ(made, text(named(sim, "templates", "new page.html")["id"]));
        EXPECT_EQ(named(sim, "templates", "new page.html")["content"], "hello + world");
        // ExpressionEngine's ids are numbers, WordPress's text: the other kind is no id.
        answerOnce(sim, "create_template",
                   {{"success", true}, {"message", "ok"}, {"template", {{"id", 42}}}});
        EXPECT_EQ(create(QStringLiteral("a"), QString()), ee ? std::optional<QString>("42") : std::nullopt)
            << cms;
        answerOnce(sim, "create_template",
                   {{"success", true}, {"message", "ok"}, {"template", {{"id", "42"}}}});
        EXPECT_EQ(create(QStringLiteral("b"), QString()), ee ? std::nullopt : std::optional<QString>("42"))
            << cms;
        expectShown(session, Summaries(3, "Template Created"));
    }
}

TEST_F(AddonOperations, MovesAreRenamesWithinOneGroup) {
    const json about = named(sim, "templates", "about.html");
    const QString id = text(about["id"]), from = text(about["group_id"]),
                  to = text(named(sim, "groups", "news")["id"]);
    const auto move = [&](const QString& name, const QString& source, const QString& target) {
        const AddonResult r = await([&](auto done) { client->moveTemplate(id, name, source, target, done); });
        return std::pair(r.success, r.id);
    };
    const QString renamed = QStringLiteral("about-us.html");
    EXPECT_EQ(move(renamed, from, from), std::pair(true, std::optional(id)));
    EXPECT_EQ(lastForm(sim, "move_template"), (json{{"from_group_id", from.toStdString()},
                                                    {"template_id", id.toStdString()},
                                                    {"template_name", "about-us.html"},
                                                    {"to_group_id", from.toStdString()}}));
    move(renamed, from, to);
    EXPECT_EQ(named(sim, "templates", "about-us.html")["path"], "/news/about-us.html");

    sim.fault({{"action", "move_template"}, {"kind", "refuse"}, {"message", "No."}, {"times", 2}});
    EXPECT_EQ(move(QStringLiteral("x.html"), to, to), std::pair(false, std::optional<QString>()));
    move(QStringLiteral("x.html"), to, from);
    // "success" without a message takes the failure path quietly: success stays true, no new id.
    answerOnce(sim, "move_template", {{"success", true}, {"template", {{"id", 99}}}});
    EXPECT_EQ(move(QStringLiteral("y.html"), to, to), std::pair(true, std::optional<QString>()));
    expectShown(session,
                {"Template Renamed", "Template Moved", "Rename Template Error", "Rename Template Error"});
}

TEST_F(AddonOperations, DeletesAndFetchesAndAnswersThatAreNotJson) {
    const json article = named(sim, "templates", "article.html");
    const QString group = text(article["group_id"]), id = text(article["id"]);
    std::optional<json> fetched;
    client->getTemplate(group, id, [&](const json& answer) { fetched = answer; });
    ASSERT_TRUE(waitUntil([&] { return fetched.has_value(); }));
    EXPECT_EQ((*fetched)["template"]["name"], "article.html");
    EXPECT_EQ((*fetched)["template"]["data"], article["data"]);

    await([&](auto done) { client->deleteTemplate(group, id, done); });
    EXPECT_TRUE(named(sim, "templates", "article.html").is_null());

    sim.fault({{"action", "*"}, {"kind", "non_json"}});
    const AddonResult deleted = await([&](auto done) { client->deleteGroup(group, done); });
    EXPECT_FALSE(deleted.success);
    EXPECT_FALSE(deleted.transportFailed) << "a page that is not JSON is an answer, not a transport failure";
    expectShown(session, {"Template Deleted"});
}

TEST_F(AddonOperations, StartedOnAnotherThreadCompletesOnceOnTheMainThread) {
    const QString group = text(named(sim, "groups", "news")["id"]);
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
