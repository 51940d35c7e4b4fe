#include "SiteModel.h"
#include "NameRules.h"

#include <gtest/gtest.h>

using namespace folvane::sim;

namespace {

// Group ids below `parentId`, in order.
std::vector<std::string> subgroupIds(const SiteModel& model, const std::string& parentId) {
    std::vector<std::string> ids;
    for (const Group* g : model.subgroupsOf(parentId)) {
        ids.push_back(g->id);
    }
    return ids;
}

} // namespace

TEST(NameRules, RefusesWhatCannotBeOneFileName) {
    for (const std::string& bad :
         std::vector<std::string>{"", ".", "..", "a/b", "/", std::string("a\0b", 3)}) {
        EXPECT_TRUE(nameProblem(bad, "template name").has_value()) << bad;
    }
    for (const char* good : {"index.html", ".hidden", "...", "a b+c", "caf\xC3\xA9", "a\\b"}) {
        EXPECT_FALSE(nameProblem(good, "template name").has_value()) << good;
    }
}

TEST(ExpressionEngineModel, NumbersGroupsAndTemplatesSeparately) {
    SiteModel model(Cms::ExpressionEngine);
    EXPECT_EQ(model.createGroup("", "site").id, "1");
    EXPECT_EQ(model.insertGroup("", "snippets", true, Special::Snippets).id, "snippets");
    EXPECT_EQ(model.createGroup("", "news").id, "2");
    EXPECT_EQ(model.createTemplate("1", "index.html", "a").id, "1");
    EXPECT_EQ(model.createTemplate("snippets", "header.html", "b").id, "2");
    EXPECT_EQ(model.createTemplate("2", "index.html", "c").id, "3");
}

TEST(ExpressionEngineModel, KeepsGroupsFlatAndIdsStable) {
    SiteModel model(Cms::ExpressionEngine);
    const std::string news = model.createGroup("", "news").id;
    const std::string index = model.createTemplate(news, "index.html", "x").id;
    EXPECT_FALSE(model.createGroup(news, "archive").ok());
    EXPECT_FALSE(model.moveGroup(news, "").ok());
    const Outcome renamed = model.renameGroup(news, "blog");
    ASSERT_TRUE(renamed.ok()) << renamed.refusal;
    EXPECT_EQ(renamed.id, news);
    EXPECT_EQ(model.findTemplate(index)->groupId, news);
    EXPECT_EQ(model.findGroup(news)->name, "blog");
}

TEST(ExpressionEngineModel, ProtectsPseudoGroups) {
    SiteModel model(Cms::ExpressionEngine);
    model.insertGroup("", "variables", true, Special::Variables);
    EXPECT_FALSE(model.renameGroup("variables", "vars").ok());
    EXPECT_FALSE(model.deleteGroup("variables").ok());
    EXPECT_TRUE(model.createTemplate("variables", "site_name", "Demo").ok());
}

TEST(WordPressModel, NamesGroupsByTheirPath) {
    SiteModel model(Cms::WordPress);
    EXPECT_EQ(model.createGroup("", "theme").id, "theme");
    EXPECT_EQ(model.createGroup("theme", "template-parts").id, "theme/template-parts");
    EXPECT_EQ(model.createGroup("theme/template-parts", "blocks").id, "theme/template-parts/blocks");
    EXPECT_FALSE(model.createGroup("nowhere", "x").ok());
    EXPECT_FALSE(model.createGroup("theme", "template-parts").ok());
}

TEST(WordPressModel, RenameReKeysEverythingBelowAndKeepsTemplateIds) {
    SiteModel model(Cms::WordPress);
    model.createGroup("", "a");
    model.createGroup("a", "b");
    model.createGroup("a/b", "d");
    model.createGroup("", "ab"); // shares a prefix with "a" but is not below it
    const std::string inB = model.createTemplate("a/b", "x.php", "1").id;
    const std::string inD = model.createTemplate("a/b/d", "y.php", "2").id;
    const std::string inAb = model.createTemplate("ab", "z.php", "3").id;

    const Outcome renamed = model.renameGroup("a/b", "c");
    ASSERT_TRUE(renamed.ok()) << renamed.refusal;
    EXPECT_EQ(renamed.id, "a/c");
    EXPECT_EQ(model.findGroup("a/b"), nullptr);
    EXPECT_EQ(model.findGroup("a/c")->parentId, "a");
    EXPECT_EQ(model.findGroup("a/c/d")->parentId, "a/c");
    EXPECT_EQ(model.findTemplate(inB)->groupId, "a/c");
    EXPECT_EQ(model.findTemplate(inD)->groupId, "a/c/d");
    EXPECT_EQ(model.findTemplate(inAb)->groupId, "ab");
    EXPECT_EQ(subgroupIds(model, "a"), std::vector<std::string>{"a/c"});
}

TEST(WordPressModel, MoveReKeysUnderTheNewParent) {
    SiteModel model(Cms::WordPress);
    model.createGroup("", "a");
    model.createGroup("a", "b");
    model.createGroup("a/b", "d");
    model.createGroup("", "c");
    const std::string t = model.createTemplate("a/b/d", "y.php", "").id;

    const Outcome moved = model.moveGroup("a/b", "c");
    ASSERT_TRUE(moved.ok()) << moved.refusal;
    EXPECT_EQ(moved.id, "c/b");
    EXPECT_EQ(model.findTemplate(t)->groupId, "c/b/d");
    EXPECT_TRUE(subgroupIds(model, "a").empty());
    EXPECT_EQ(subgroupIds(model, "c/b"), std::vector<std::string>{"c/b/d"});

    EXPECT_EQ(model.moveGroup("c/b", "").id, "b");
    EXPECT_EQ(model.findTemplate(t)->groupId, "b/d");
}

TEST(WordPressModel, RefusesMovesThatCollideOrLoop) {
    SiteModel model(Cms::WordPress);
    model.createGroup("", "a");
    model.createGroup("a", "b");
    model.createGroup("", "b");
    EXPECT_FALSE(model.moveGroup("a", "a/b").ok());
    EXPECT_FALSE(model.moveGroup("a", "a").ok());
    EXPECT_FALSE(model.moveGroup("a/b", "").ok()); // a top-level "b" exists
    EXPECT_FALSE(model.renameGroup("a", "b").ok());
    EXPECT_TRUE(model.findGroup("a/b"));
}

TEST(TemplateOperations, CheckTheGroupTheClientNames) {
    SiteModel model(Cms::ExpressionEngine);
    const std::string site = model.createGroup("", "site").id;
    const std::string news = model.createGroup("", "news").id;
    const std::string t = model.createTemplate(site, "index.html", "old").id;

    EXPECT_FALSE(model.updateTemplate(news, t, "new").ok());
    EXPECT_FALSE(model.updateTemplate(site, "999", "new").ok());
    EXPECT_FALSE(model.deleteTemplate(news, t).ok());
    EXPECT_EQ(model.findTemplate(t)->content, "old");
    EXPECT_TRUE(model.updateTemplate(site, t, "new").ok());
    EXPECT_EQ(model.findTemplate(t)->content, "new");
}

TEST(TemplateOperations, MoveRenamesAndRefusesTakenNames) {
    SiteModel model(Cms::ExpressionEngine);
    const std::string site = model.createGroup("", "site").id;
    const std::string news = model.createGroup("", "news").id;
    const std::string t = model.createTemplate(site, "index.html", "").id;
    model.createTemplate(news, "taken.html", "");

    EXPECT_FALSE(model.createTemplate(site, "index.html", "").ok());
    EXPECT_FALSE(model.moveTemplate(site, news, t, "taken.html").ok());
    EXPECT_FALSE(model.moveTemplate(site, news, t, "a/b").ok());
    EXPECT_TRUE(
        model.moveTemplate(site, site, t, "index.html").ok()); // same name, same group: nothing to refuse
    const Outcome moved = model.moveTemplate(site, news, t, "article.html");
    ASSERT_TRUE(moved.ok()) << moved.refusal;
    EXPECT_EQ(moved.id, t);
    EXPECT_EQ(model.findTemplate(t)->groupId, news);
    EXPECT_EQ(model.findTemplate(t)->name, "article.html");
}

TEST(GroupDeletion, OnlyEmptiesGo) {
    SiteModel model(Cms::WordPress);
    model.createGroup("", "a");
    model.createGroup("a", "b");
    const std::string t = model.createTemplate("a/b", "x", "").id;
    EXPECT_FALSE(model.deleteGroup("a").ok());
    EXPECT_FALSE(model.deleteGroup("a/b").ok());
    model.deleteTemplate("a/b", t);
    EXPECT_TRUE(model.deleteGroup("a/b").ok());
    EXPECT_TRUE(model.deleteGroup("a").ok());
    EXPECT_TRUE(model.groups().empty());
}
