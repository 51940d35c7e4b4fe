#include "app/HelperArguments.h"

#include "QtPrinters.h"

#include <gtest/gtest.h>

using namespace folvane;

namespace {
QStringList fullArgs(const QString& password) {
    return {"helper", "--args", "-admin_url", "http://h/?x", "-login",   "me",
            "-pass",  password, "/base",      "My Site",     "1",        "yes",
            "0",      "",       "true",       "http://h",    "Wordpress"};
}
} // namespace

TEST(HelperArguments, TakesEveryValueByPosition) {
    int reads = 0;
    const auto parsed = parseHelperArguments(
        fullArgs("secret"), [&] { return ++reads, QString("stdin"); }, nullptr);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(reads, 0);
    EXPECT_EQ(parsed->url, "http://h/?x");
    EXPECT_EQ(parsed->login, "me");
    EXPECT_EQ(parsed->password, "secret");
    EXPECT_EQ(parsed->baseFolder, "/base");
    EXPECT_EQ(parsed->title, "My Site");
    EXPECT_TRUE(parsed->openFinder);
    EXPECT_TRUE(parsed->usageData);
    EXPECT_EQ(parsed->dirtyURL, "http://h");
    EXPECT_EQ(parsed->cmsTag, "Wordpress");
    EXPECT_EQ(parsed->all.at(7), "-") << "the password must not travel further in the argument list";
}

TEST(HelperArguments, DashReadsThePasswordFromStandardInput) {
    const auto parsed = parseHelperArguments(
        fullArgs("-"), [] { return QString("from stdin"); }, nullptr);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->password, "from stdin");
}

TEST(HelperArguments, FewerThanSixteenValuesIsAnError) {
    QStringList args = fullArgs("pw");
    args.removeLast();
    QString error;
    EXPECT_FALSE(parseHelperArguments(
        args, [] { return QString(); }, &error));
    EXPECT_EQ(error, "expected 16 arguments, got 15");
    EXPECT_FALSE(parseHelperArguments(
        {"helper"}, [] { return QString(); }, &error));
}
