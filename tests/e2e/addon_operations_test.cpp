// Every template and group operation of the add-on client against the simulator: what its completion
// receives and the notification the user sees, for each kind of answer. (That each request carries what
// the site needs is shown where the volume's changes reach the site: the simulator refuses a request
// without them.)
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
using Done = AddonClient::Done;

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
    HttpAddonClient& operator*() { return *helper_; }

private:
    WebsiteInUse site_;
    HttpClient http_{helperRequestLimit};
    NotificationBus bus_;
    DesktopNotifier notifier_;
    std::unique_ptr<HttpAddonClient> helper_;
};

// An operation, and the action of the request it sends.
struct Operation {
    const char* action;
    void (*start)(HttpAddonClient&, Done);
};
const Operation update{"update_template_data",
                       [](HttpAddonClient& c, Done d) { c.updateTemplate("1", "2", "eA==", d); }};
const Operation createGroup{"create_template_group",
                            [](HttpAddonClient& c, Done d) { c.createGroup("g", "", d); }};
const Operation createTemplate{
    "create_template", [](HttpAddonClient& c, Done d) { c.createTemplate("1", "t.html", "eA==", d); }};
const Operation templateRename{
    "move_template", [](HttpAddonClient& c, Done d) { c.moveTemplate("2", "t.html", "1", "1", d); }};
const Operation templateMove{"move_template",
                             [](HttpAddonClient& c, Done d) { c.moveTemplate("2", "t.html", "1", "3", d); }};
const Operation deleteTemplate{"delete_template",
                               [](HttpAddonClient& c, Done d) { c.deleteTemplate("1", "2", d); }};
const Operation deleteGroup{"delete_template_group",
                            [](HttpAddonClient& c, Done d) { c.deleteGroup("1", d); }};

json raw(const json& body) {
    return {{"kind", "raw"}, {"body", body.dump()}};
}
json ok(const char* key, const json& id) {
    return raw({{"success", true}, {"message", "ok"}, {key, {{"id", id}, {"is_special", true}}}});
}

// The site of a flavour, an operation, the simulator's answer to it (a body served as it is, or a fault),
// and what the completion receives and the user is shown ("summary: body"; empty: nothing).
struct Case {
    const char* cms;
    Operation operation;
    json answer;
    bool success, transportFailed;
    std::optional<QString> id;
    std::optional<bool> isSpecial;
    std::string shown;
};

} // namespace

TEST(AddonOperations, EachAnswerReachesTheCompletionAndTheUserAsTheSiteMeantIt) {
    const json locked = {{"kind", "refuse"}, {"message", "Template is locked."}};
    const json failure = raw({{"success", false}, {"message", "No."}, {"template", {{"id", 9}}}});
    const std::optional<QString> none, id42 = QStringLiteral("42");
    const Case cases[] = {
        {"ee", update, ok("template", 1), true, false, none, std::nullopt, "Update Successful: ok"},
        {"ee", update, locked, false, false, none, std::nullopt, "Update Error: Template is locked."},
        {"ee", update, {{"kind", "drop"}}, false, true, none, std::nullopt, ""},
        // A created group's id in whatever type it came, even from an answer that says it failed.
        {"ee", createGroup, ok("template_group", 7), true, false, "7", true, "Group Creation Success: ok"},
        {"ee", createGroup,
         raw({{"success", false}, {"message", "Name taken."}, {"template_group", {{"id", "7"}}}}), false,
         false, "7", std::nullopt, "Group Creation Error: Name taken."},
        {"ee", createGroup, raw("not json at all"), false, false, none, std::nullopt, ""},
        // ExpressionEngine's template ids are numbers, WordPress's text: the other kind is no id.
        {"ee", createTemplate, ok("template", 42), true, false, id42, std::nullopt, "Template Created: ok"},
        {"ee", createTemplate, ok("template", "42"), true, false, none, std::nullopt, "Template Created: ok"},
        {"wp", createTemplate, ok("template", 42), true, false, none, std::nullopt, "Template Created: ok"},
        {"wp", createTemplate, ok("template", "42"), true, false, id42, std::nullopt, "Template Created: ok"},
        {"ee", createTemplate, locked, false, false, none, std::nullopt,
         "Template Creation Error: Template is locked."},
        {"ee", templateRename, ok("template", 42), true, false, id42, std::nullopt, "Template Renamed: ok"},
        {"ee", templateMove, ok("template", 42), true, false, id42, std::nullopt, "Template Moved: ok"},
        {"ee", templateMove, failure, false, false, none, std::nullopt, "Rename Template Error: No."},
        // "success" without a message takes the failure path quietly: success stays true, no new id.
        {"ee", templateMove, raw({{"success", true}, {"template", {{"id", 42}}}}), true, false, none,
         std::nullopt, ""},
        {"ee", deleteTemplate, ok("template", 1), true, false, none, std::nullopt, "Template Deleted: ok"},
        // A page that is not JSON is an answer, not a transport failure.
        {"ee", deleteGroup, {{"kind", "non_json"}}, false, false, none, std::nullopt, ""},
    };
    TestSession session;
    AddonSim ee("ee"), wp("wp");
    Client eeClient(session, ee), wpClient(session, wp);
    std::vector<std::string> expected;
    for (const Case& c : cases) {
        const bool isEe = std::string(c.cms) == "ee";
        const AddonSim& sim = isEe ? ee : wp;
        SCOPED_TRACE(std::string(c.cms) + " " + c.operation.action + " " + c.answer.dump());
        json fault = c.answer;
        fault["action"] = c.operation.action;
        sim.fault(fault);
        std::optional<AddonResult> result;
        c.operation.start(*(isEe ? eeClient : wpClient), [&](const AddonResult& r) { result = r; });
        ASSERT_TRUE(waitUntil([&] { return result.has_value(); }));
        sim.clearFaults();
        EXPECT_EQ(std::tie(result->success, result->transportFailed, result->id, result->isSpecial),
                  std::tie(c.success, c.transportFailed, c.id, c.isSpecial));
        if (!c.shown.empty())
            expected.push_back(c.shown);
    }
    const auto shown = [&] {
        std::vector<std::string> all;
        for (const auto& n : session.notifications())
            all.push_back((n.summary + ": " + n.body).toStdString());
        return all;
    };
    EXPECT_TRUE(waitUntil([&] { return shown() == expected; })) << testing::PrintToString(shown());
}

TEST(AddonOperations, StartedOnAnotherThreadCompletesOnceOnTheMainThread) {
    TestSession session;
    AddonSim sim;
    Client client(session, sim);
    const QString group = QString::fromStdString(sim.state()["groups"][0]["id"].get<std::string>());
    int calls = 0;
    bool onMainThread = false;
    std::thread worker([&] {
        (*client).createTemplate(
            group, QStringLiteral("threaded.html"), QStringLiteral("eA=="), [&](const AddonResult& r) {
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
