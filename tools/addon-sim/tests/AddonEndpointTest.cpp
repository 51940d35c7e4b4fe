#include "ControlApi.h"
#include "DemoSites.h"
#include "Simulator.h"

#include <gtest/gtest.h>

using namespace folvane::sim;

namespace {

const std::string eeBase = "/admin.php?D=cp&C=addons_modules&M=show_module_cp&module=folvane";

// Drives the simulator the way the HTTP layer does, without a server.
class SimulatedSite {
public:
    explicit SimulatedSite(Cms cms) : sim_(demoSite(cms), {cms, "admin", "password"}), cms_(cms) {}

    AddonAnswer send(const std::string& method, const std::string& target, const std::string& body = "") {
        const AddonRequest request = AddonRequest::parse(cms_, method, target, body, std::nullopt);
        return sim_.answer(request, sim_.admit(request));
    }
    Json call(const std::string& method, const std::string& action, const std::string& body = "") {
        const std::string target =
            cms_ == Cms::ExpressionEngine ? eeBase + "&m=" + action : "/wp-json/folvane/v1/" + action;
        const AddonAnswer answer = send(method, target, body);
        EXPECT_TRUE(answer.json) << action << " answered " << answer.text;
        return answer.json.value_or(Json());
    }
    // The state entry of the template at a volume path.
    Json templateAt(const std::string& path) {
        const Json state = sim_.state();
        for (const Json& t : state["templates"]) {
            if (t["path"] == path) {
                return t;
            }
        }
        return Json();
    }
    Simulator& sim() { return sim_; }

private:
    Simulator sim_;
    Cms cms_;
};

} // namespace

TEST(AddonUrls, FindTheActionWhereEachClientPutsIt) {
    EXPECT_EQ(actionOf(Cms::ExpressionEngine, "/S=abc/", "D=cp&M=show_module_cp&m=list_all"), "list_all");
    EXPECT_EQ(actionOf(Cms::WordPress, "/wp-json/folvane/v1/list_all", ""), "list_all");
    EXPECT_EQ(sessionIdOf("/S=0123abc/"), "0123abc");
    EXPECT_FALSE(sessionIdOf("/admin.php"));
    // The application probes both URL forms against one base; each flavour must see no action in the other's.
    EXPECT_FALSE(actionOf(Cms::ExpressionEngine, "/admin.php", "D=cp&module=folvane/status"));
    EXPECT_FALSE(actionOf(Cms::WordPress, "/wp-json/folvane/v1&m=status", ""));
    EXPECT_EQ(addonBaseUrl(Cms::WordPress, "::1", 80), "http://[::1]:80/wp-json/folvane/v1");
}

TEST(AddonEndpoint, StatusNamesTheCmsTheWayTheClientComparesIt) {
    EXPECT_EQ(SimulatedSite(Cms::ExpressionEngine).call("GET", "status")["cms"], "ExpressionEngine");
    SimulatedSite wp(Cms::WordPress);
    EXPECT_EQ(dumpJson(wp.call("GET", "status")),
              R"({"status":"ok","cms":"Wordpress","addon_version":"3.0.0","version":7})");
    ASSERT_FALSE(
        wp.sim().configure({{"status", "disabled"}, {"cms_text", "Drupal"}, {"addon_version", "2.1"}}));
    const Json status = wp.call("GET", "status");
    EXPECT_EQ(status["status"], "disabled");
    EXPECT_EQ(status["cms"], "Drupal");
    EXPECT_EQ(status["addon_version"], "2.1");
}

TEST(AddonEndpoint, ListAllKeepsKeyOrderAndTheIdTypesOfEachCms) {
    SimulatedSite ee(Cms::ExpressionEngine);
    const Json folders = ee.call("GET", "list_all")["folders"];
    const Json& site = folders[0];
    std::vector<std::string> keys;
    for (const auto& [key, value] : site.items()) {
        keys.push_back(key);
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"id", "name", "is_special", "files", "subfolders"}));
    EXPECT_TRUE(site["id"].is_number_integer());
    EXPECT_TRUE(site["files"][0]["id"].is_number_integer());
    EXPECT_TRUE(site["is_special"].get<bool>());
    const auto snippets =
        std::find_if(folders.begin(), folders.end(), [](const Json& g) { return g["id"] == "snippets"; });
    ASSERT_NE(snippets, folders.end());

    SimulatedSite wp(Cms::WordPress);
    const Json theme = wp.call("GET", "list_all")["folders"][0];
    EXPECT_EQ(theme["id"], "theme");
    EXPECT_TRUE(theme["files"][0]["id"].is_string());
    EXPECT_EQ(theme["subfolders"][0]["id"], "theme/template-parts");
}

TEST(AddonEndpoint, LoginHandsOutSessionsOnlyOnExpressionEngine) {
    SimulatedSite ee(Cms::ExpressionEngine);
    const AddonAnswer good = ee.send("POST", eeBase + "&m=login", "password=password&username=admin");
    ASSERT_TRUE(good.json);
    EXPECT_EQ((*good.json)["logged_in"], true);
    EXPECT_EQ((*good.json)["permissions"], true);
    const std::string session = (*good.json)["session_id"];
    EXPECT_EQ(session.size(), 32u);
    EXPECT_NE(good.setCookie.value_or("").find(session), std::string::npos);
    EXPECT_NE(ee.call("POST", "login", "password=password&username=admin")["session_id"], session);

    const Json bad = ee.call("POST", "login", "password=wrong&username=admin");
    EXPECT_EQ(dumpJson(bad), R"({"logged_in":false,"message":"Invalid username or password."})");

    SimulatedSite wp(Cms::WordPress);
    EXPECT_FALSE(wp.call("POST", "login", "password=password&username=admin").contains("session_id"));
}

TEST(AddonEndpoint, RequireSessionAcceptsOnlyTheNewestSessionInThePath) {
    SimulatedSite ee(Cms::ExpressionEngine);
    ASSERT_FALSE(ee.sim().configure({{"require_session", true}}));
    const std::string first = ee.call("POST", "login", "password=password&username=admin")["session_id"];
    const std::string second = ee.call("POST", "login", "password=password&username=admin")["session_id"];
    const std::string query = "/?D=cp&C=addons_modules&M=show_module_cp&module=folvane&m=list_all";
    EXPECT_TRUE(ee.send("GET", "/S=" + second + query).json->contains("folders"));
    EXPECT_EQ((*ee.send("GET", "/S=" + first + query).json)["message"], "Session expired.");
    EXPECT_EQ((*ee.send("GET", eeBase + "&m=list_all").json)["message"], "Session expired.");
    EXPECT_EQ((*ee.send("GET", eeBase + "&m=status").json)["status"], "ok");
}

TEST(AddonEndpoint, UpdateStoresDecodedBytesAndRefusesBadBase64) {
    SimulatedSite wp(Cms::WordPress);
    const std::string id = wp.templateAt("/theme/style.css")["id"];
    const std::string form = "template_group_id=theme&template_id=" + id + "&template_data=";
    EXPECT_EQ(wp.call("POST", "update_template_data", form + "YSti")["success"], true); // "a+b"
    EXPECT_EQ(wp.templateAt("/theme/style.css")["content"], "a+b");
    // An unescaped "+" arrives as a space and must not be stored as something else.
    EXPECT_EQ(wp.call("POST", "update_template_data", form + "Y+Ji")["success"], false);
    EXPECT_EQ(wp.call("POST", "update_template_data", form.substr(0, form.size() - 15))["success"], false);
    EXPECT_EQ(wp.templateAt("/theme/style.css")["content"], "a+b");
}

TEST(AddonEndpoint, CreateAnswersTheNewIdsInTheCmsType) {
    SimulatedSite ee(Cms::ExpressionEngine);
    const Json group =
        ee.call("POST", "create_template_group", "template_group_id=&template_group_name=blog");
    EXPECT_EQ(group["message"], "Template group created.");
    ASSERT_TRUE(group["template_group"]["id"].is_number_integer());
    EXPECT_EQ(group["template_group"]["is_special"], false);
    const std::string groupId = std::to_string(group["template_group"]["id"].get<long long>());
    const Json created =
        ee.call("POST", "create_template",
                "template_data=aGk%3D&template_group_id=" + groupId + "&template_name=caf%C3%A9.html");
    EXPECT_EQ(created["success"], true);
    EXPECT_TRUE(created["template"]["id"].is_number_integer());
    EXPECT_EQ(ee.templateAt("/blog/caf\xC3\xA9.html")["content"], "hi");
    EXPECT_EQ(ee.call("POST", "create_template_group",
                      "template_group_id=" + groupId + "&template_group_name=x")["success"],
              false);
}

TEST(AddonEndpoint, UnknownActionsAndWrongMethodsGetAPageNotJson) {
    SimulatedSite ee(Cms::ExpressionEngine);
    for (const auto& [method, target] :
         std::vector<std::pair<std::string, std::string>>{{"GET", eeBase + "&m=frobnicate"},
                                                          {"POST", eeBase + "&m=status"},
                                                          {"GET", eeBase + "&m=login"},
                                                          {"GET", "/"}}) {
        const AddonAnswer answer = ee.send(method, target);
        EXPECT_FALSE(answer.json) << target;
        EXPECT_NE(answer.text.find("<html"), std::string::npos);
    }
}

TEST(Faults, RefuseAndNonJsonChangeNothingSuccessNoMessageDoes) {
    SimulatedSite ee(Cms::ExpressionEngine);
    const Json t = ee.templateAt("/site/index.html");
    const std::string form = "template_group_id=" + t["group_id"].get<std::string>() +
                             "&template_id=" + t["id"].get<std::string>() + "&template_data=";
    ASSERT_FALSE(ee.sim().addFault({{"action", "update_template_data"}, {"kind", "refuse"}, {"times", 1}}));
    ASSERT_FALSE(ee.sim().addFault({{"action", "update_template_data"}, {"kind", "non_json"}, {"times", 1}}));
    ASSERT_FALSE(ee.sim().addFault(
        {{"action", "update_template_data"}, {"kind", "success_no_message"}, {"times", 1}}));

    EXPECT_EQ(ee.call("POST", "update_template_data", form + "MQ==")["success"], false);
    EXPECT_FALSE(ee.send("POST", eeBase + "&m=update_template_data", form + "Mg==").json);
    EXPECT_EQ(ee.templateAt("/site/index.html")["content"], t["content"]);
    EXPECT_EQ(dumpJson(ee.call("POST", "update_template_data", form + "Mw==")), R"({"success":true})");
    EXPECT_EQ(ee.templateAt("/site/index.html")["content"], "3");
}

TEST(Control, StateShowsVolumePathsSortedAndTheLogWhatWasSent) {
    SimulatedSite ee(Cms::ExpressionEngine);
    const Json state = ee.sim().state();
    std::vector<std::string> paths;
    for (const Json& g : state["groups"]) {
        paths.push_back(g["path"]);
    }
    EXPECT_TRUE(std::is_sorted(paths.begin(), paths.end()));
    EXPECT_NE(std::find(paths.begin(), paths.end(), "/Partials"), paths.end());
    EXPECT_NE(std::find(paths.begin(), paths.end(), "/variables"), paths.end());

    ee.send("POST", "/S=abc/?D=cp&m=create_template",
            "template_group_id=1&template_name=a+b&template_data=" + std::string("w6k%3D"));
    const Json entry = ee.sim().log().back();
    EXPECT_EQ(entry["path"], "/S=abc/");
    EXPECT_EQ(entry["session_id"], "abc");
    EXPECT_EQ(entry["action"], "create_template");
    EXPECT_EQ(entry["form"]["template_name"], "a b");
    EXPECT_EQ(entry["content"], "\xC3\xA9");
    EXPECT_TRUE(entry["cookie"].is_null());

    ee.sim().reset();
    EXPECT_TRUE(ee.sim().log().empty());
    EXPECT_EQ(ee.sim().state(), state);
}

TEST(Control, ListAllRawAnswersTheBytesAsGiven) {
    SimulatedSite wp(Cms::WordPress);
    wp.sim().setListAllRaw("[{\"files\":[]}] trailing");
    EXPECT_EQ(wp.send("GET", "/wp-json/folvane/v1/list_all").body(), "[{\"files\":[]}] trailing");
    wp.sim().clearListAllRaw();
    EXPECT_TRUE(wp.call("GET", "list_all").contains("folders"));
}

TEST(Control, RoutesCommandsAndExplainsMistakes) {
    SimulatedSite ee(Cms::ExpressionEngine);
    ControlApi control(ee.sim());
    EXPECT_EQ(control.handle("GET", "/_sim/nothing", "").status, 404);
    EXPECT_EQ(control.handle("GET", "/_sim/reset", "").status, 405);
    EXPECT_EQ(control.handle("POST", "/_sim/config", "{").status, 400);
    EXPECT_EQ(control.handle("POST", "/_sim/seed", R"({"groups": 1})").status, 400);
    // A bad key refuses the whole change, so a half-applied configuration never confuses a test.
    const ControlReply refused =
        control.handle("POST", "/_sim/config", R"({"status": "disabled", "bogus": 1})");
    EXPECT_EQ(refused.status, 400);
    EXPECT_NE(refused.body["error"].get<std::string>().find("bogus"), std::string::npos);
    EXPECT_EQ(ee.call("GET", "status")["status"], "ok");
    EXPECT_EQ(control.handle("POST", "/_sim/fault", R"({"action": "*", "kind": "drop"})").body,
              (Json{{"ok", true}}));
    EXPECT_EQ(control.handle("POST", "/_sim/faults/clear", "").status, 200);
    EXPECT_TRUE(ee.call("GET", "status").contains("status"));
}

TEST(Control, ConfigShapesLoginAndLogoutAnswers) {
    SimulatedSite wp(Cms::WordPress);
    ASSERT_FALSE(wp.sim().configure({{"omit_permissions", true}, {"omit_logged_in_on_logout", true}}));
    EXPECT_EQ(dumpJson(wp.call("POST", "login", "username=admin&password=password")),
              R"({"logged_in":true})");
    EXPECT_EQ(dumpJson(wp.call("GET", "logout")), "{}");
    ASSERT_FALSE(wp.sim().configure({{"login", "refuse"}, {"login_message", "Locked."}}));
    EXPECT_EQ(dumpJson(wp.call("POST", "login", "username=admin&password=password")),
              R"({"logged_in":false,"message":"Locked."})");
    wp.sim().reset();
    EXPECT_EQ(wp.call("POST", "login", "username=admin&password=password")["logged_in"], true);
}
