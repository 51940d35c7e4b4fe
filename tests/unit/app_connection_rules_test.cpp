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

// (Either add-on's answer, the version verdict and "disabled" are the command line's end-to-end cases.)
TEST(ConnectionCheckRules, AStatusAnswerCountsOnlyForItsOwnProbe) {
    CheckState ee;
    ee.readStatusAnswer(CMS::wordPress, answer("<html>Page Not Found</html>"), &expects);
    ee.readStatusAnswer(CMS::expressionEngine,
                        answer(R"({"status":"ok","cms":"ExpressionEngine","addon_version":"2.10"})"),
                        &expects);
    // Once a probe said "ok", the other one is not read, whatever it says.
    ee.readStatusAnswer(CMS::wordPress, answer(R"({"status":"error","cms":"Wordpress"})"), &expects);
    EXPECT_TRUE(ee.statusOk);
    EXPECT_EQ(ee.divider, "&m=");
    EXPECT_EQ(ee.cms, CMS::expressionEngine);

    // The expected version belongs to the probe and to its CMS; without one nothing is judged.
    const auto outOfDate = [](const char* cms, CMS probe, const ExpectedAddOnVersions* expected) {
        CheckState state;
        state.readStatusAnswer(probe,
                               answer(QStringLiteral(R"({"status":"ok","cms":"%1","addon_version":"0.1"})")
                                          .arg(cms)
                                          .toUtf8()
                                          .constData()),
                               expected);
        return state.outOfDate;
    };
    EXPECT_TRUE(outOfDate("Wordpress", CMS::wordPress, &expects));
    EXPECT_FALSE(outOfDate("Wordpress", CMS::expressionEngine, &expects));
    const ExpectedAddOnVersions nothingExpected;
    EXPECT_FALSE(outOfDate("ExpressionEngine", CMS::expressionEngine, &nothingExpected));
    EXPECT_FALSE(outOfDate("ExpressionEngine", CMS::expressionEngine, nullptr));

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
