// The application's rules that need no site: how a check reads the add-on's answers, the helper's command
// line and the command-line syntax. (The order of the check's refusals, and login and logout answers that
// lack a key, are checked end to end.)
#include "QtPrinters.h"
#include "cli/CommandLine.h"
#include "core/BaseWebsite.h"
#include "core/ConnectionCheck.h"
#include "core/ConnectionControl.h"
#include "core/SharedPreferences.h"

#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace folvane;

namespace {

Json answer(const char* text) {
    return parseLenient(QByteArray(text));
}

const ExpectedAddOnVersions expects{QStringLiteral("2.10"), QStringLiteral("3.0.0")};

} // namespace

TEST(ConnectionCheckRules, StatusAnswersSetTheDividerTheCMSAndTheVersionVerdict) {
    CheckState ee;
    ee.readStatusAnswer(CMS::wordPress, answer("<html>Page Not Found</html>"), &expects);
    ee.readStatusAnswer(CMS::expressionEngine,
                        answer(R"({"status":"ok","cms":"ExpressionEngine","addon_version":"2.10"})"),
                        &expects);
    EXPECT_TRUE(ee.statusOk);
    EXPECT_EQ(ee.divider, "&m=");
    EXPECT_EQ(ee.cms, CMS::expressionEngine);
    EXPECT_FALSE(ee.outOfDate);
    // Once a probe said "ok", the other one is not read, whatever it says.
    ee.readStatusAnswer(CMS::wordPress, answer(R"({"status":"error","cms":"Wordpress"})"), &expects);
    EXPECT_TRUE(ee.statusOk);
    EXPECT_EQ(ee.divider, "&m=");

    const auto outOfDate = [](const char* cms, const char* version, CMS probe,
                              const ExpectedAddOnVersions* expected) {
        CheckState state;
        state.readStatusAnswer(probe,
                               answer(QStringLiteral(R"({"status":"ok","cms":"%1","addon_version":"%2"})")
                                          .arg(cms, version)
                                          .toUtf8()
                                          .constData()),
                               expected);
        return state.outOfDate;
    };
    EXPECT_TRUE(outOfDate("ExpressionEngine", "2.1", CMS::expressionEngine, &expects));
    EXPECT_FALSE(outOfDate("ExpressionEngine", "2.10", CMS::expressionEngine, &expects));
    EXPECT_FALSE(outOfDate("ExpressionEngine", "2.11", CMS::expressionEngine, &expects));
    EXPECT_TRUE(outOfDate("Wordpress", "2.9.9", CMS::wordPress, &expects));
    // The expected version belongs to the probe and to its CMS; without one nothing is judged.
    EXPECT_FALSE(outOfDate("Wordpress", "1.0", CMS::expressionEngine, &expects));
    const ExpectedAddOnVersions nothingExpected;
    EXPECT_FALSE(outOfDate("ExpressionEngine", "0.1", CMS::expressionEngine, &nothingExpected));
    EXPECT_FALSE(outOfDate("ExpressionEngine", "0.1", CMS::expressionEngine, nullptr));

    CheckState disabled;
    disabled.readStatusAnswer(CMS::wordPress, answer(R"({"status":"disabled"})"), &expects);
    EXPECT_FALSE(disabled.disabled) << "only the ExpressionEngine probe can say disabled";
    disabled.readStatusAnswer(CMS::expressionEngine, answer(R"({"status":"disabled"})"), &expects);
    EXPECT_TRUE(disabled.disabled);
    EXPECT_FALSE(disabled.statusOk);
}

TEST(ConnectionControlRules, TheHelperGetsSixteenPositionsAndNeverThePassword) {
    QTemporaryDir folder;
    SharedPreferences preferences(folder.path());
    ASSERT_TRUE(preferences.changePreference(SharedPreferences::enableCaching, 0));
    BaseWebsite site("www.example.com/admin.php?D=cp", "admin", "secret", "My Site",
                     "example.com/admin.php?D=cp");
    site.cms = CMS::expressionEngine;
    const QStringList arguments = helperCommandLine(site, preferences, "/base").arguments();
    EXPECT_EQ(arguments, (QStringList{"--args", "-admin_url", "example.com/admin.php?D=cp", "-login", "admin",
                                      "-pass", "-", "/base", "My Site", "1", "1", "1", "0", "0",
                                      "http://www.example.com/admin.php?D=cp", "ExpressionEngine"}));
}

TEST(CommandLineSyntax, SplitsWordsValuesAndFlags) {
    QString error;
    const auto parsed =
        cli::parseCommandLine({"sites", "add", "-", "--title=My Site", "--url", "-x", "-v", "--", "--yes"},
                              {"title", "url"}, {"verbose", "yes"}, &error);
    ASSERT_TRUE(parsed) << error.toStdString();
    EXPECT_EQ(parsed->words, (QStringList{"sites", "add", "-", "--yes"})); // "-" is standard input, a word
    EXPECT_EQ(parsed->value("title"), "My Site");
    EXPECT_EQ(parsed->value("url"), "-x");
    EXPECT_TRUE(parsed->has("verbose"));
    EXPECT_EQ(parsed->unexpectedOptions({"title"}), "--url, --verbose");

    EXPECT_FALSE(cli::parseCommandLine({"--title"}, {"title"}, {}, &error));
    EXPECT_EQ(error, "option --title needs a value");
    EXPECT_FALSE(cli::parseCommandLine({"--yes=1"}, {}, {"yes"}, &error));
    EXPECT_FALSE(cli::parseCommandLine({"-q"}, {}, {}, &error));
    EXPECT_EQ(error, "unknown option -q");
}
