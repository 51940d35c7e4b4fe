// The application with its windows, started as the real program on the offscreen platform in a session of
// its own: the order of its start-up and the link it was started with.
#include "testkit/ChildProcess.h"
#include "testkit/Programs.h"
#include "testkit/TestSession.h"
#include "testkit/Wait.h"

#include <gtest/gtest.h>

using namespace folvane::testkit;

// The system and FUSE checks come first; only then is the site list read (with its passwords) and the main
// window made. A link given to the first process at its start is heard like one handed over later.
TEST(AppStartup, ChecksComeBeforeTheSiteListAndTheStartLinkIsHeard) {
    TestSession session;
    QProcessEnvironment environment = session.environment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    ChildProcess app({.program = programPath(QStringLiteral("folvane3")),
                      .arguments = {QStringLiteral("folvane://add_site?title=My+Site&url=http://site.test/"
                                                   "admin.php&username=jane")},
                      .environment = environment,
                      .outputPath = session.newLogPath(QStringLiteral("folvane3-out")),
                      .errorPath = session.newLogPath(QStringLiteral("folvane3-err")),
                      .input = std::nullopt,
                      .endsWithTestProcess = true});
    ASSERT_TRUE(waitUntil([&] { return app.errors().contains(QStringLiteral("View Did Load")); }))
        << app.errors().toStdString();
    app.stop();

    const QStringList lines = app.errors().split(u'\n');
    EXPECT_EQ(lines.count(QStringLiteral("Heard deeplink")), 1) << app.errors().toStdString();
    const qsizetype launched = lines.indexOf(QStringLiteral("Finished Launching"));
    ASSERT_GE(launched, 0) << app.errors().toStdString();
    EXPECT_LT(launched, lines.indexOf(QStringLiteral("View Did Load"))) << app.errors().toStdString();
}
