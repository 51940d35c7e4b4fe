#include "HelperCommandLine.h"

#include "QtPrinters.h"

#include <gtest/gtest.h>

using namespace folvane;

namespace {
QStringList fullArgs(const QString& password) {
    return {"helper", "--args", "-admin_url", "http://h/?x", "-login",   "me",
            "-pass",  password, "/base",      "My Site",     "1",        "yes",
            "0",      "",       "true",       "http://h",    "Wordpress"};
}

QString noPasswordLine() {
    ADD_FAILURE() << "standard input was read although position 7 held the password";
    return {};
}

HelperCommandLine everyField() {
    HelperCommandLine commandLine;
    commandLine.typedUrl = QStringLiteral("example.com/admin.php?D=cp&x=a b");
    commandLine.login = QStringLiteral("-login");
    commandLine.password = QStringLiteral("secret");
    commandLine.baseFolder = QStringLiteral("/home/u/.local/share/Folvane 3");
    commandLine.title = QStringLiteral("Ünïcode \"Site\"");
    commandLine.notifications = true;
    commandLine.defaultGroupAlert = true;
    commandLine.usageData = true;
    commandLine.cleanUrl = QStringLiteral("http://www.example.com/admin.php?D=cp&x=a b");
    commandLine.cms = CMS::expressionEngine;
    return commandLine;
}
} // namespace

TEST(HelperCommandLine, FewerThanSixteenValuesIsAnError) {
    QStringList args = fullArgs("pw");
    args.removeLast();
    QString error;
    EXPECT_FALSE(HelperCommandLine::parse(args, noPasswordLine, &error));
    EXPECT_EQ(error, "expected 16 arguments, got 15");
    EXPECT_FALSE(HelperCommandLine::parse({}, noPasswordLine, &error));
    EXPECT_EQ(error, "expected 16 arguments, got 0");
    EXPECT_FALSE(HelperCommandLine::parse({"helper"}, noPasswordLine, nullptr));
}

TEST(HelperCommandLine, WhatTheApplicationBuildsTheHelperReadsBack) {
    const HelperCommandLine sent = everyField();
    const QStringList arguments = sent.arguments();
    ASSERT_EQ(arguments.size(), HelperCommandLine::count);
    EXPECT_FALSE(arguments.contains("secret")) << "passwords never go on a command line";
    EXPECT_EQ(arguments.at(HelperCommandLine::passwordPosition - 1), "-");
    EXPECT_EQ(arguments.mid(9, 5), (QStringList{"1", "0", "1", "0", "1"}));
    EXPECT_EQ(arguments.last(), "ExpressionEngine");

    const auto read = HelperCommandLine::parse(
        QStringList{"helper"} + arguments, [] { return QString("secret"); }, nullptr);
    ASSERT_TRUE(read);
    // Every value comes back (the login "-login" looks like a marker but stays a value).
    EXPECT_EQ(read->arguments(), arguments);
    EXPECT_EQ(read->password, sent.password);
}
