#include "HelperCommandLine.h"

#include "QtPrinters.h"

#include <gtest/gtest.h>

using namespace folvane;

namespace {
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

    // One value short is no command line: the helper says so instead of reading past the end.
    QString error;
    EXPECT_FALSE(HelperCommandLine::parse(
        QStringList{"helper"} + arguments.mid(1), [] { return QString("secret"); }, &error));
    EXPECT_FALSE(error.isEmpty());
}
