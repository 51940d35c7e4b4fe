// The application's rules that need no site: how a check reads the add-on's answers and the command-line
// syntax. (The order of the check's refusals, login and logout answers that lack a key, and what the helper's
// command line holds are checked end to end.)
#include "QtPrinters.h"
#include "cli/CommandLine.h"
#include "core/ConnectionCheck.h"

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
