// One Folvane 3 per desktop session: on a private session bus the first process owns the name, a second
// process hands its deep link over and ends, and the name is free again once the first is gone.
#include "shell/SingleInstance.h"
#include "testkit/ChildProcess.h"
#include "testkit/PrivateBus.h"
#include "testkit/Wait.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using folvane::shell::SingleInstance;
using namespace folvane::testkit;

namespace {

const char* handoverVariable = "FOLVANE_TEST_HANDOVER_URL";

struct SessionBus {
    QTemporaryDir folder;
    PrivateBus bus{QProcessEnvironment::systemEnvironment(), folder.path(), folder.path()};

    // This test program again, as the second folvane3: it only runs the hand-over below.
    std::unique_ptr<ChildProcess> secondProcess(const QString& url) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
        environment.insert(QString::fromLatin1(handoverVariable), url);
        return std::make_unique<ChildProcess>(ChildProcess::Launch{
            QCoreApplication::applicationFilePath(),
            {QStringLiteral("--gtest_filter=SingleInstanceSecondProcess.HandsOverItsUrl")},
            environment,
            folder.filePath(QStringLiteral("second.out")),
            {},
            std::nullopt,
            true});
    }
};

} // namespace

// The second process's part; it runs only when started by the test below.
TEST(SingleInstanceSecondProcess, HandsOverItsUrl) {
    if (!qEnvironmentVariableIsSet(handoverVariable))
        GTEST_SKIP() << "runs as the second process of SingleInstance.SecondProcessHandsOverItsLink";
    SingleInstance instance;
    ASSERT_FALSE(instance.claim()) << "the first process owns the name";
    ASSERT_TRUE(SingleInstance::handOver(qEnvironmentVariable(handoverVariable)));
}

TEST(SingleInstance, SecondProcessHandsOverItsLink) {
    SessionBus session;
    auto first = std::make_unique<SingleInstance>(session.bus.connection());
    ASSERT_TRUE(first->claim());
    QStringList received;
    int activations = 0;
    QObject::connect(first.get(), &SingleInstance::urlReceived, [&](const QString& url) { received << url; });
    QObject::connect(first.get(), &SingleInstance::activationRequested, [&] { ++activations; });

    const QString link = QStringLiteral("folvane://add_site?title=My+Site&url=https://example.com/");
    auto second = session.secondProcess(link);
    ASSERT_TRUE(waitUntil([&] { return !second->isRunning(); })) << second->output().toStdString();
    EXPECT_EQ(second->exitCode(), 0) << second->output().toStdString();
    EXPECT_EQ(received, QStringList{link});

    // Started again without a link, the second process only brings the first one's window up.
    auto plain = session.secondProcess({});
    ASSERT_TRUE(waitUntil([&] { return !plain->isRunning(); }));
    EXPECT_EQ(plain->exitCode(), 0) << plain->output().toStdString();
    EXPECT_EQ(activations, 1);
    EXPECT_EQ(received.size(), 1);

    // Once the first has gone, nobody takes a link and the name is free again.
    first.reset();
    const QDBusConnection other =
        QDBusConnection::connectToBus(session.bus.address(), QStringLiteral("other"));
    EXPECT_FALSE(SingleInstance::handOver(link, other));
    EXPECT_TRUE(SingleInstance(other).claim());
    QDBusConnection::disconnectFromBus(QStringLiteral("other"));
}
