#include "SiteSeed.h"
#include "SiteJson.h"

#include <gtest/gtest.h>

using namespace folvane::sim;

namespace {

// The SeedError message for a seed, or "" when it loads.
std::string seedError(const std::string& text, Cms cms = Cms::ExpressionEngine) {
    try {
        SiteSeed::fromText(text).build({cms, "admin", "password"});
    } catch (const SeedError& e) {
        return e.what();
    }
    return "";
}

} // namespace

TEST(SiteSeed, ExplainsBadInputAndPointsAtIt) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "not valid JSON"},
        {"{\"groups\": [}", "not valid JSON"},
        {"[]", "expected a JSON object"},
        {R"({"cms": "joomla"})", "\"cms\""},
        {R"({"version": "7"})", "\"version\" must be an integer"},
        {R"({"groups": {}})", "\"groups\" must be an array"},
        {R"({"groups": [{"templates": []}]})", "groups[0]: a group needs a \"name\""},
        {R"({"groups": [{"name": "a", "colour": "red"}]})", "unknown key \"colour\""},
        {R"({"groups": [{"name": "a", "templates": [{"name": "x"}]}]})",
         "groups[0].templates[0]: a template needs exactly one"},
        {R"({"groups": [{"name": "a", "templates": [{"name": "x", "content": "", "data": ""}]}]})",
         "exactly one"},
        {R"({"groups": [{"name": "a", "templates": [{"name": "x", "data": "not base64"}]}]})", "Base64"},
        {R"({"groups": [{"name": "a", "special": "partials"}]})", "\"special\""},
        {R"({"groups": [{"name": "a", "is_special": "yes"}]})", "\"is_special\""},
        {R"({"groups": [{"name": "a", "subfolders": [{"name": "b"}]}]})", "groups[0]: ExpressionEngine"},
        {R"({"groups": [{"name": "s", "special": "snippets"}, {"name": "t", "special": "snippets"}]})",
         "share the id"},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_NE(seedError(text).find(expected), std::string::npos) << text << " gave: " << seedError(text);
    }
}

TEST(SiteSeed, ChecksTheRulesOfWordPress) {
    EXPECT_NE(seedError(R"({"groups": [{"name": "s", "special": "snippets"}]})", Cms::WordPress)
                  .find("only on ExpressionEngine"),
              std::string::npos);
    EXPECT_NE(
        seedError(R"({"groups": [{"name": "a"}, {"name": "a"}]})", Cms::WordPress).find("share the id \"a\""),
        std::string::npos);
    // Two groups of one name are fine where ids are numbers.
    EXPECT_EQ(seedError(R"({"groups": [{"name": "a"}, {"name": "a"}]})"), "");
}

TEST(SiteSeed, TheSeedWinsOverTheCommandLine) {
    const Site site = SiteSeed::fromText(R"({"cms": "wp", "user": "ed", "addon_version": "2.1", "version": 6,
        "groups": [{"name": "t", "templates": [{"name": "a", "data": "aGk="}, {"name": "b/c", "content": ""}],
                    "subfolders": [{"name": "p"}]}]})")
                          .build({Cms::ExpressionEngine, "admin", "secret"});
    EXPECT_EQ(site.model.cms(), Cms::WordPress);
    EXPECT_EQ(site.profile.user, "ed");
    EXPECT_EQ(site.profile.password, "secret");
    EXPECT_EQ(site.profile.addonVersion, "2.1");
    EXPECT_EQ(site.profile.version, 6);
    ASSERT_EQ(site.model.templates().size(), 2u);
    EXPECT_EQ(site.model.templates()[0].content, "hi");
    EXPECT_EQ(site.model.templates()[1].name, "b/c"); // seeds may hold names the add-on would refuse
    EXPECT_TRUE(site.model.findGroup("t/p"));
}
