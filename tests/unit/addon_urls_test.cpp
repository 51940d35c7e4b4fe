#include "AddonUrls.h"
#include "Cms.h"

#include "QtPrinters.h"

#include <gtest/gtest.h>
#include <tuple>

using namespace folvane;

TEST(AddonUrls, ActionUrlsPerCms) {
    const ActionUrls ee = actionUrlsFor(QStringLiteral("https://h.example/admin.php?D=cp&module=x"),
                                        queryDividerFor(CMS::expressionEngine));
    EXPECT_EQ(ee.getStatus, "https://h.example/admin.php?D=cp&module=x&m=status");
    EXPECT_EQ(ee.moveTemplateGroup, "https://h.example/admin.php?D=cp&module=x&m=move_template_group");

    const ActionUrls wp =
        actionUrlsFor(QStringLiteral("https://h.example/wp-json/folvane"), queryDividerFor(CMS::wordPress));
    EXPECT_EQ(wp.getTemplates, "https://h.example/wp-json/folvane/list_all");
    EXPECT_EQ(wp.renameTemplate, "https://h.example/wp-json/folvane/rename_template");

    // Nothing is escaped or inserted, even for an unknown CMS or a base with blanks.
    EXPECT_EQ(queryDividerFor(CMS::default_), "");
    EXPECT_EQ(actionUrlsFor(QStringLiteral("http://h/a b/"), queryDividerFor(CMS::default_)).getNewTemplate,
              "http://h/a b/get_template");
}

TEST(AddonUrls, SessionRewriteKeepsPortDropsUserAndFragment) {
    EXPECT_EQ(sessionRewrittenUrl(QStringLiteral("http://u:p@localhost:8888/ee/admin.php?/cp&x=1#top"), "s1"),
              "http://localhost:8888/S=s1/?/cp&x=1");
    EXPECT_EQ(sessionRewrittenUrl(QStringLiteral("http://[::1]:8080/admin.php?D=cp"), "s"),
              "http://[::1]:8080/S=s/?D=cp");
    EXPECT_EQ(sessionRewrittenUrl(QStringLiteral("https://h.example/S=old/?D=cp&module=x"), "new"),
              "https://h.example/S=new/?D=cp&module=x");
    // Without a scheme, a host or a query there is nothing to rewrite.
    EXPECT_FALSE(sessionRewrittenUrl(QStringLiteral("https://h.example/admin.php"), "s"));
    EXPECT_FALSE(sessionRewrittenUrl(QStringLiteral("h.example/admin.php?D=cp"), "s"));
    EXPECT_FALSE(sessionRewrittenUrl(QStringLiteral("not a url?x"), "s"));
}

// Only the exact tags select a CMS; each reads back, and the names are what users know.
TEST(CmsTag, OnlyTheExactTagsSelectACms) {
    const std::tuple<const char*, CMS, const char*> tags[] = {
        {"ExpressionEngine", CMS::expressionEngine, "ExpressionEngine"},
        {"Wordpress", CMS::wordPress, "WordPress"},
        {"", CMS::default_, ""}};
    for (const auto& [tag, cms, name] : tags) {
        EXPECT_EQ(cmsFromTag(tag), cms) << tag;
        EXPECT_EQ(cmsTag(cms), tag);
        EXPECT_EQ(cmsName(cms), name);
    }
    for (const char* other : {"WordPress", "expressionengine"})
        EXPECT_EQ(cmsFromTag(other), CMS::default_) << other;
}
