// The add-on simulator's HTTP surface, driven the way the helper and the application drive a real add-on, and
// the test kit's own bus and notification fixtures.
#include "testkit/AddonSim.h"
#include "testkit/BusRecorder.h"
#include "testkit/TestSession.h"
#include "testkit/Wait.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <QByteArray>
#include <QDBusInterface>
#include <QDBusReply>

#include <atomic>
#include <cctype>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using folvane::testkit::AddonSim;
using folvane::testkit::BusRecorder;
using folvane::testkit::TestSession;
using nlohmann::json;

AddonSim startSim(const QString& cms, json seed = nullptr) {
    AddonSim::Options options;
    options.cms = cms;
    options.seed = std::move(seed);
    return AddonSim(options);
}

// Percent-escapes everything but the unreserved characters, as the programs escape form values.
std::string escaped(const std::string& text) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : text) {
        if (std::isalnum(c) != 0 || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += {'%', hex[c >> 4], hex[c & 15]};
        }
    }
    return out;
}

std::string formBody(const std::vector<std::pair<std::string, std::string>>& fields) {
    std::string body;
    for (const auto& [key, value] : fields) {
        body += (body.empty() ? "" : "&") + escaped(key) + "=" + escaped(value);
    }
    return body;
}

std::string base64(const std::string& bytes) {
    return QByteArray::fromStdString(bytes).toBase64().toStdString();
}

// The path and query of an action URL formed from the base URL, with ExpressionEngine's session id in the
// path, as a client of the real add-on sends it.
std::string actionTarget(const AddonSim& sim, const std::string& action, const std::string& sessionId = {}) {
    const std::string origin = "http://127.0.0.1:" + std::to_string(sim.port());
    std::string local = sim.baseUrl().toStdString().substr(origin.size());
    if (sim.cms() == QStringLiteral("wp")) {
        return local + "/" + action;
    }
    if (!sessionId.empty()) {
        local = "/S=" + sessionId + "/" + local.substr(local.find('?'));
    }
    return local + "&m=" + action;
}

// Speaks to the simulated add-on as a client of the real one does.
class AddonClient {
public:
    explicit AddonClient(const AddonSim& sim) : sim_(sim), http_("127.0.0.1", sim.port()) {
        http_.set_read_timeout(120);
    }

    httplib::Result get(const std::string& action, const std::string& sessionId = {}) {
        return http_.Get(actionTarget(sim_, action, sessionId));
    }
    httplib::Result post(const std::string& action, const std::string& body,
                         const std::string& sessionId = {}) {
        return http_.Post(actionTarget(sim_, action, sessionId), body,
                          "application/x-www-form-urlencoded; charset=utf-8");
    }
    json getJson(const std::string& action, const std::string& sessionId = {}) {
        return parsed(get(action, sessionId));
    }
    json postJson(const std::string& action, const std::vector<std::pair<std::string, std::string>>& fields,
                  const std::string& sessionId = {}) {
        return parsed(post(action, formBody(fields), sessionId));
    }

private:
    static json parsed(const httplib::Result& result) {
        if (!result) {
            throw std::runtime_error("no answer: " + httplib::to_string(result.error()));
        }
        return json::parse(result->body);
    }

    const AddonSim& sim_;
    httplib::Client http_;
};

json findByPath(const json& entries, const std::string& path) {
    for (const json& entry : entries) {
        if (entry["path"] == path) {
            return entry;
        }
    }
    return nullptr;
}

std::vector<std::string> loggedActions(const AddonSim& sim) {
    std::vector<std::string> actions;
    for (const json& request : sim.log()) {
        actions.push_back(request["action"].is_string() ? request["action"].get<std::string>() : "");
    }
    return actions;
}

// Every template of a list_all answer, as path -> decoded content.
void collectTemplates(const json& group, const std::string& folder, std::map<std::string, std::string>& out) {
    const std::string name = group["id"] == "snippets" ? "Partials" : group["name"].get<std::string>();
    for (const json& file : group["files"]) {
        const QByteArray data = QByteArray::fromBase64(QByteArray::fromStdString(file["data"]));
        out[folder + "/" + name + "/" + file["name"].get<std::string>()] = data.toStdString();
    }
    for (const json& child : group["subfolders"]) {
        collectTemplates(child, folder + "/" + name, out);
    }
}

class HandshakeTest : public testing::TestWithParam<const char*> {};

TEST_P(HandshakeTest, StatusLoginLogoutAndListAllAnswerAsTheAddOnDoes) {
    const bool ee = GetParam() == std::string("ee");
    AddonSim sim = startSim(GetParam());
    AddonClient client(sim);

    const json status = client.getJson("status");
    EXPECT_EQ(status["status"], "ok");
    EXPECT_EQ(status["cms"], ee ? "ExpressionEngine" : "Wordpress");
    EXPECT_TRUE(status["addon_version"].is_string());
    EXPECT_TRUE(status["version"].is_number_integer());

    const json refused = client.postJson("login", {{"username", "admin"}, {"password", "wrong"}});
    EXPECT_EQ(refused["logged_in"], false);
    EXPECT_TRUE(refused["message"].is_string());

    const json login = client.postJson("login", {{"password", "password"}, {"username", "admin"}});
    EXPECT_EQ(login["logged_in"], true);
    EXPECT_EQ(login.contains("session_id"), ee);

    std::map<std::string, std::string> listed;
    const json list = client.getJson("list_all");
    for (const json& group : list["folders"]) {
        collectTemplates(group, "", listed);
    }
    std::map<std::string, std::string> stored;
    const json state = sim.state();
    for (const json& t : state["templates"]) {
        stored[t["path"]] = t["content"];
    }
    EXPECT_FALSE(stored.empty());
    EXPECT_EQ(listed, stored);

    EXPECT_EQ(client.getJson("logout")["logged_in"], false);
    EXPECT_EQ(loggedActions(sim),
              (std::vector<std::string>{"status", "login", "login", "list_all", "logout"}));
    EXPECT_EQ(sim.requestsFor("login")[1]["form"]["username"], "admin");
}

TEST_P(HandshakeTest, ConfigShapesTheHandshakeAnswers) {
    AddonSim sim = startSim(GetParam());
    AddonClient client(sim);
    sim.config({{"status", "disabled"},
                {"cms_text", "Drupal"},
                {"addon_version", "0.9"},
                {"version", 7},
                {"login", "refuse"},
                {"login_message", "Locked out."},
                {"omit_logged_in_on_logout", true}});

    const json status = client.getJson("status");
    EXPECT_EQ(status["status"], "disabled");
    EXPECT_EQ(status["cms"], "Drupal");
    EXPECT_EQ(status["addon_version"], "0.9");
    EXPECT_EQ(status["version"], 7);
    const json login = client.postJson("login", {{"username", "admin"}, {"password", "password"}});
    EXPECT_EQ(login["logged_in"], false);
    EXPECT_EQ(login["message"], "Locked out.");
    EXPECT_FALSE(client.getJson("logout").contains("logged_in"));

    sim.config({{"login", "ok"}, {"permissions", false}});
    EXPECT_EQ(client.postJson("login", {{"username", "admin"}, {"password", "password"}})["permissions"],
              false);
    sim.config({{"omit_permissions", true}});
    EXPECT_FALSE(
        client.postJson("login", {{"username", "admin"}, {"password", "password"}}).contains("permissions"));
}

INSTANTIATE_TEST_SUITE_P(BothFlavours, HandshakeTest, testing::Values("ee", "wp"));

TEST(AddonSimSession, ExpressionEngineAcceptsTheSessionPathAndLogsItsId) {
    AddonSim sim = startSim("ee");
    AddonClient client(sim);
    sim.config({{"require_session", true}});

    const std::string session =
        client.postJson("login", {{"username", "admin"}, {"password", "password"}})["session_id"];
    ASSERT_FALSE(session.empty());
    EXPECT_EQ(client.getJson("list_all", "0123456789abcdef")["success"], false);
    EXPECT_TRUE(client.getJson("list_all", session).contains("folders"));

    const json requests = sim.requestsFor("list_all");
    ASSERT_EQ(requests.size(), 2U);
    EXPECT_EQ(requests[1]["session_id"], session);
    EXPECT_EQ(requests[1]["path"], "/S=" + session + "/");
    EXPECT_TRUE(sim.requestsFor("login")[0]["session_id"].is_null());
}

TEST(AddonSimForm, DecodesEscapedValuesExactly) {
    AddonSim sim = startSim("ee");
    AddonClient client(sim);
    const json site = findByPath(sim.state()["groups"], "/news");
    // Its Base64 holds "+", "/" and "=", which only survive when escaped.
    const std::string content = "<?php echo \"é\"; ?>~~>";
    const std::string name = "a+b c&d=e%f ü.html";

    // Blanks as "+" and as "%20", a literal "+" as "%2B", non-ASCII as escaped UTF-8.
    const std::string body =
        "template_group_id=" + site["id"].get<std::string>() +
        "&template_name=a%2Bb+c%26d%3De%25f%20%C3%BC.html&template_data=" + escaped(base64(content));
    const httplib::Result created = client.post("create_template", body);
    ASSERT_TRUE(created);
    EXPECT_EQ(json::parse(created->body)["success"], true);

    const json logged = sim.requestsFor("create_template")[0];
    EXPECT_EQ(logged["form"]["template_name"], name);
    EXPECT_EQ(logged["content"], content);
    EXPECT_EQ(logged["body"], body);
    EXPECT_EQ(findByPath(sim.state()["templates"], "/news/" + name)["content"], content);
}

TEST(AddonSimOperations, ExpressionEngineChangesShowInTheState) {
    AddonSim sim = startSim("ee");
    AddonClient client(sim);
    const auto ok = [](const json& answer) {
        return answer["success"] == true && answer["message"].is_string();
    };

    const json group = client.postJson("create_template_group",
                                       {{"template_group_name", "blog"}, {"template_group_id", ""}});
    ASSERT_TRUE(ok(group));
    ASSERT_TRUE(group["template_group"]["id"].is_number_integer());
    const std::string blog = std::to_string(group["template_group"]["id"].get<long long>());
    EXPECT_EQ(findByPath(sim.state()["groups"], "/blog")["id"], blog);

    const json created = client.postJson(
        "create_template",
        {{"template_group_id", blog}, {"template_name", "post.html"}, {"template_data", base64("v1")}});
    ASSERT_TRUE(ok(created));
    const std::string post = std::to_string(created["template"]["id"].get<long long>());
    EXPECT_EQ(findByPath(sim.state()["templates"], "/blog/post.html")["content"], "v1");

    EXPECT_TRUE(ok(client.postJson(
        "update_template_data",
        {{"template_group_id", blog}, {"template_id", post}, {"template_data", base64("v2")}})));
    EXPECT_EQ(findByPath(sim.state()["templates"], "/blog/post.html")["content"], "v2");

    const std::string news = findByPath(sim.state()["groups"], "/news")["id"];
    EXPECT_TRUE(ok(client.postJson("move_template", {{"from_group_id", blog},
                                                     {"to_group_id", news},
                                                     {"template_id", post},
                                                     {"template_name", "post.html"}})));
    EXPECT_TRUE(ok(client.postJson("move_template", {{"from_group_id", news},
                                                     {"to_group_id", news},
                                                     {"template_id", post},
                                                     {"template_name", "entry.html"}})));
    EXPECT_TRUE(findByPath(sim.state()["templates"], "/blog/post.html").is_null());
    EXPECT_EQ(findByPath(sim.state()["templates"], "/news/entry.html")["content"], "v2");

    EXPECT_TRUE(ok(client.postJson("rename_template_group",
                                   {{"template_group_id", blog}, {"template_group_name", "journal"}})));
    EXPECT_EQ(findByPath(sim.state()["groups"], "/journal")["id"], blog);

    EXPECT_TRUE(ok(client.postJson("delete_template", {{"template_group_id", news}, {"template_id", post}})));
    EXPECT_TRUE(findByPath(sim.state()["templates"], "/news/entry.html").is_null());
    EXPECT_TRUE(ok(client.postJson("delete_template_group", {{"template_group_id", blog}})));
    EXPECT_TRUE(findByPath(sim.state()["groups"], "/journal").is_null());

    const json refused =
        client.postJson("delete_template", {{"template_group_id", news}, {"template_id", post}});
    EXPECT_EQ(refused["success"], false);
    EXPECT_TRUE(refused["message"].is_string());
}

TEST(AddonSimOperations, WordPressGroupRenameReKeysEverythingBelow) {
    AddonSim sim = startSim("wp", json::parse(R"({"cms": "wp", "groups": [
        {"name": "theme", "templates": [{"name": "index.php", "content": "<?php ?>"}], "subfolders": [
            {"name": "parts", "templates": [{"name": "header.php", "content": "<header>"}],
             "subfolders": [{"name": "deep"}]}]}]})"));
    AddonClient client(sim);
    const json header = findByPath(sim.state()["templates"], "/theme/parts/header.php");
    ASSERT_EQ(header["group_id"], "theme/parts");

    const json renamed = client.postJson("rename_template_group",
                                         {{"template_group_id", "theme"}, {"template_group_name", "skin"}});
    EXPECT_EQ(renamed["success"], true);
    EXPECT_EQ(renamed["template_group"]["id"], "skin");

    const json state = sim.state();
    EXPECT_EQ(findByPath(state["groups"], "/skin/parts")["id"], "skin/parts");
    EXPECT_EQ(findByPath(state["groups"], "/skin/parts/deep")["parent_id"], "skin/parts");
    const json moved = findByPath(state["templates"], "/skin/parts/header.php");
    EXPECT_EQ(moved["group_id"], "skin/parts");
    EXPECT_EQ(moved["id"], header["id"]);
    EXPECT_TRUE(findByPath(state["groups"], "/theme").is_null());
}

TEST(AddonSimFaults, ADelayedRequestIsOvertakenByALaterOne) {
    std::atomic<bool> delayedAnswered = false;
    // Joined only after the simulator has stopped, which cuts the delay short.
    std::jthread delayed;
    AddonSim sim = startSim("wp");
    // Far longer than any answer takes, so the order cannot depend on the machine's speed.
    sim.fault({{"action", "list_all"}, {"kind", "delay"}, {"ms", 600'000}});
    delayed = std::jthread([&delayedAnswered, port = sim.port(), target = actionTarget(sim, "list_all")] {
        httplib::Client http("127.0.0.1", port);
        http.set_read_timeout(700);
        http.Get(target);
        delayedAnswered = true;
    });
    ASSERT_TRUE(folvane::testkit::waitUntil([&] { return !sim.requestsFor("list_all").empty(); }));

    AddonClient client(sim);
    EXPECT_EQ(client.getJson("status")["status"], "ok");
    EXPECT_FALSE(delayedAnswered);
    EXPECT_EQ(loggedActions(sim), (std::vector<std::string>{"list_all", "status"}));
}

TEST(AddonSimFaults, EachKindReplacesTheAnswer) {
    AddonSim sim = startSim("ee");
    AddonClient client(sim);

    sim.fault({{"action", "status"}, {"kind", "drop"}, {"times", 1}});
    EXPECT_FALSE(client.get("status"));
    EXPECT_EQ(sim.requestsFor("status").size(), 1U);

    sim.fault({{"action", "status"}, {"kind", "non_json"}, {"times", 1}});
    const httplib::Result page = client.get("status");
    ASSERT_TRUE(page);
    EXPECT_FALSE(json::accept(page->body));

    sim.fault({{"action", "login"}, {"kind", "refuse"}, {"message", "Not today."}, {"times", 1}});
    const json login = client.postJson("login", {{"username", "admin"}, {"password", "password"}});
    EXPECT_EQ(login["logged_in"], false);
    EXPECT_EQ(login["message"], "Not today.");

    sim.fault({{"action", "*"}, {"kind", "refuse"}, {"message", "Busy."}, {"times", 2}});
    EXPECT_EQ(client.getJson("list_all")["message"], "Busy.");
    EXPECT_EQ(client.getJson("status")["message"], "Busy.");
    EXPECT_EQ(client.getJson("status")["status"], "ok");

    const std::string news = findByPath(sim.state()["groups"], "/news")["id"];
    sim.fault({{"action", "create_template"}, {"kind", "success_no_message"}});
    const json created = client.postJson(
        "create_template",
        {{"template_group_id", news}, {"template_name", "x.html"}, {"template_data", base64("x")}});
    EXPECT_EQ(created["success"], true);
    EXPECT_FALSE(created.contains("message"));
    EXPECT_FALSE(findByPath(sim.state()["templates"], "/news/x.html").is_null());

    sim.fault({{"action", "status"}, {"kind", "raw"}, {"body", "{\"status\": \"ok\""}});
    sim.fault({{"action", "status"}, {"kind", "random_delay"}, {"min_ms", 1}, {"max_ms", 20}, {"seed", 7}});
    const httplib::Result raw = client.get("status");
    ASSERT_TRUE(raw);
    EXPECT_EQ(raw->body, "{\"status\": \"ok\"");

    sim.clearFaults();
    EXPECT_EQ(client.getJson("status")["status"], "ok");
}

TEST(AddonSimControl, ResetRestoresTheStartingSiteAndListAllRawIsServedVerbatim) {
    AddonSim sim = startSim("ee");
    AddonClient client(sim);
    const json initial = sim.state();

    sim.setListAllRaw("{\"folders\": [ broken");
    const httplib::Result raw = client.get("list_all");
    ASSERT_TRUE(raw);
    EXPECT_EQ(raw->body, "{\"folders\": [ broken");
    sim.clearListAllRaw();
    EXPECT_TRUE(client.getJson("list_all")["folders"].is_array());

    sim.seed(json::parse(
        R"({"cms": "ee", "groups": [{"name": "only", "templates": [{"name": "a.html", "content": "A"}]}]})"));
    ASSERT_EQ(sim.state()["templates"].size(), 1U);
    sim.config({{"status", "disabled"}});
    sim.fault({{"action", "*"}, {"kind", "non_json"}});
    sim.setListAllRaw("raw");

    sim.reset();
    EXPECT_EQ(sim.state(), initial);
    EXPECT_TRUE(sim.log().empty());
    EXPECT_EQ(client.getJson("status")["status"], "ok");
    EXPECT_TRUE(client.getJson("list_all")["folders"].is_array());

    sim.clearLog();
    EXPECT_TRUE(sim.log().empty());
}

TEST(TestKit, RecordsBusSignalsAndDesktopNotifications) {
    TestSession session;
    BusRecorder bus(session.bus());

    // A 64-bit count, as list sizes are, must still travel as the contract's int32.
    bus.post(QStringLiteral("refresh-My Site"), {{QStringLiteral("row"), qint64(3)}});
    ASSERT_TRUE(bus.waitFor(QStringLiteral("refresh-My Site")));
    const QVariant row =
        bus.signalsNamed(QStringLiteral("refresh-My Site")).front().value(QStringLiteral("row"));
    EXPECT_EQ(row.typeId(), QMetaType::Int);
    EXPECT_EQ(row.toInt(), 3);
    EXPECT_EQ(bus.count(QStringLiteral("refresh-My")), 0);

    QDBusInterface notifications(QStringLiteral("org.freedesktop.Notifications"),
                                 QStringLiteral("/org/freedesktop/Notifications"),
                                 QStringLiteral("org.freedesktop.Notifications"), session.bus());
    const QDBusReply<uint> id = notifications.call(
        QStringLiteral("Notify"), QStringLiteral("Folvane 3"), 0U, QStringLiteral("folvane3"),
        QStringLiteral("Update Successful"), QStringLiteral("Template updated."), QStringList(),
        QVariantMap{{QStringLiteral("sound-name"), QStringLiteral("message-new-instant")},
                    {QStringLiteral("transient"), true}},
        -1);
    ASSERT_TRUE(id.isValid()) << id.error().message().toStdString();

    const auto shown = session.waitForNotification(QStringLiteral("Update Successful"));
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->appName, QStringLiteral("Folvane 3"));
    EXPECT_EQ(shown->appIcon, QStringLiteral("folvane3"));
    EXPECT_EQ(shown->body, QStringLiteral("Template updated."));
    EXPECT_EQ(shown->replacesId, 0U);
    EXPECT_EQ(shown->expireTimeout, -1);
    EXPECT_EQ(shown->hints, (json{{"sound-name", "message-new-instant"}, {"transient", true}}));
    EXPECT_EQ(session.notifications().size(), 1U);
}

} // namespace
