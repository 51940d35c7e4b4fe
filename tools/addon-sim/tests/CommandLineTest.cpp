#include "CommandLine.h"

#include <gtest/gtest.h>

using namespace folvane::sim;

TEST(CommandLine, TakesBothFlagForms) {
    const CommandLine parsed = parseCommandLine(
        {"--cms", "wp", "--port=8080", "--seed", "site.json", "--user=ed", "--password", "p=w", "--verbose"});
    ASSERT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.options.cms, Cms::WordPress);
    EXPECT_EQ(parsed.options.port, 8080);
    EXPECT_EQ(parsed.options.seedPath, "site.json");
    EXPECT_EQ(parsed.options.user, "ed");
    EXPECT_EQ(parsed.options.password, "p=w");
    EXPECT_TRUE(parsed.options.verbose);
}

TEST(CommandLine, ExplainsBadArguments) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"--cms", "drupal"}, "--cms"}, {{"--port", "70000"}, "--port"}, {{"--port", "12ab"}, "--port"},
        {{"--port=-1"}, "--port"},      {{"--seed"}, "needs a value"},   {{"--bogus"}, "unknown argument"},
        {{"extra"}, "unknown argument"}};
    for (const auto& [args, expected] : cases) {
        EXPECT_NE(parseCommandLine(args).error.find(expected), std::string::npos) << args.front();
    }
}
