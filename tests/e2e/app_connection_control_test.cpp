// The application's connection control in this process, with the real helper, the simulator and a private
// session bus: check, launch, the helper's announcements, the status timer, wake, refresh, eject and quit.
#include "testkit/AddonSim.h"
#include "testkit/BusRecorder.h"
#include "testkit/FakeOpener.h"
#include "testkit/FuseMounts.h"
#include "testkit/Programs.h"
#include "testkit/TestSession.h"
#include "testkit/Wait.h"

#include "HttpClient.h"
#include "NotificationBus.h"
#include "Paths.h"
#include "core/BaseWebsite.h"
#include "core/ConnectionControl.h"
#include "core/HelperProcess.h"
#include "core/SecretStore.h"
#include "core/SharedPreferences.h"
#include "core/SiteConnections.h"
#include "core/SiteListController.h"
#include "core/SiteListManager.h"
#include "core/WakeWatcher.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDir>
#include <QProcess>
#include <gtest/gtest.h>

using namespace folvane;
using namespace folvane::testkit;

namespace {

// The Secret Service is the command line tests' business: here the record is given its password, as the
// window or the command line reads it before connecting.
class NoSecretStore : public SecretStore {
public:
    SecretLookup read(const SecretAttributes&) override { return {}; }
    std::optional<QString> store(const SecretAttributes&, const QString&) override { return std::nullopt; }
    std::optional<QString> remove(const SecretAttributes&) override { return std::nullopt; }
};

void screenSaverActive(const QDBusConnection& bus, bool active) {
    QDBusMessage signal = QDBusMessage::createSignal("/org/freedesktop/ScreenSaver",
                                                     "org.freedesktop.ScreenSaver", "ActiveChanged");
    signal << active;
    bus.send(signal);
}

class AppConnectionControl : public ::testing::Test {
protected:
    AppConnectionControl() {
        site = addSite("Test Site", sim.baseUrl());
        addSite("Idle", "http://idle.example/");
    }
    BaseWebsite* addSite(const QString& title, const QString& url) {
        auto record = std::make_shared<BaseWebsite>();
        record->setNewValues(title, url, QString("admin"), QString("password"));
        sites.addNewSite(record);
        record->password = QStringLiteral("password");
        return record.get();
    }

    // Connects the site and returns once its helper announced the volume.
    void connectAndWait(BaseWebsite& record) {
        const ConnectOutcome outcome = control.connectToSite(record);
        ASSERT_EQ(outcome.kind, ConnectOutcome::Kind::launched) << outcome.launchError.toStdString();
        ASSERT_TRUE(waitUntil([&] { return connectionState(record) == ConnectionState::connected; }));
    }

    TestSession session;
    AddonSim sim;
    NoSecretStore secrets;
    SiteListManager sites{secrets, session.baseFolder()};
    SharedPreferences preferences{session.baseFolder()};
    NotificationBus bus{session.bus()};
    HttpClient http{applicationRequestLimit};
    ConnectionControl control{
        sites, preferences, bus, http,
        HelperSetup{programPath("folvane3-fuse-helper"), session.environment(), session.baseFolder()}};
    BaseWebsite* site = nullptr;
};

} // namespace

TEST_F(AppConnectionControl, FollowsTheHelperFromLaunchToEject) {
    BusRecorder recorder(session.bus());
    WakeWatcher wake(session.bus(), QDBusConnection(QStringLiteral("no system bus")));
    QObject::connect(&wake, &WakeWatcher::woke, &control, &ConnectionControl::wakeFromSleep);
    int terminated = 0;
    QObject::connect(&control, &ConnectionControl::siteTerminated, [&] { ++terminated; });
    std::vector<std::tuple<QString, int, QString>> refreshed;
    QObject::connect(&control, &ConnectionControl::refreshFinished,
                     [&](const QString& title, int row, const QString& notRefreshed) {
                         refreshed.emplace_back(title, row, notRefreshed);
                     });
    // (The real helper answers the requests too, with its own rows, and may answer first.)
    const auto answered = [&](int row, const QString& notRefreshed) {
        return waitUntil([&] {
            return std::count(refreshed.begin(), refreshed.end(),
                              std::tuple(QString("Test Site"), row, notRefreshed)) > 0;
        });
    };
    control.statusIntervalMs = 200;

    const ConnectOutcome outcome = control.connectToSite(*site);
    ASSERT_EQ(outcome.kind, ConnectOutcome::Kind::launched) << outcome.launchError.toStdString();
    EXPECT_EQ(site->cms, CMS::expressionEngine);
    EXPECT_EQ(connectionState(*site), ConnectionState::connecting);
    ASSERT_TRUE(waitUntil([&] { return connectionState(*site) == ConnectionState::connected; }));
    EXPECT_TRUE(FuseMounts::isMounted(session.mountRoot() + "/Test Site"));
    EXPECT_EQ(control.connectToSite(*site).kind, ConnectOutcome::Kind::alreadyConnected);

    // The status timer keeps the add-on session warm.
    sim.clearLog();
    EXPECT_TRUE(waitUntil([&] { return sim.requestsFor("status").size() >= 3u; }));

    // A wake re-logs every connected helper once; the screen saver starting does nothing, an idle site gets
    // nothing.
    screenSaverActive(session.bus(), false);
    screenSaverActive(session.bus(), true);
    screenSaverActive(session.bus(), false);
    ASSERT_TRUE(recorder.waitFor("newSessionID-Test Site", defaultTimeoutMs, 2));
    EXPECT_EQ(recorder.count("newSessionID-Test Site"), 2);
    EXPECT_EQ(recorder.count("newSessionID-Idle"), 0);

    // The helper's announcements, played here; unknown titles and malformed payloads are ignored.
    recorder.post("connection-terminated-Test Site", {{"title", "Test Site"}});
    ASSERT_TRUE(waitUntil([&] { return terminated == 1; }));
    EXPECT_EQ(connectionState(*site), ConnectionState::connecting) << "the process is still recorded";
    recorder.post("finishedconnecting-Test Site", {{"title", "Nobody"}});
    recorder.post("pending-uploads-Test Site", {{"title", "Test Site"}, {"count", "many"}});
    recorder.post("pending-uploads-Test Site", {{"title", "Test Site"}, {"count", 3}});
    recorder.post("finishedconnecting-Test Site", {{"title", "Test Site"}});
    ASSERT_TRUE(waitUntil([&] { return connectionState(*site) == ConnectionState::connected; }));
    EXPECT_EQ(site->pendingUploads, 3);

    control.refreshTemplates(*site, 4);
    ASSERT_TRUE(recorder.waitFor("refresh-Test Site"));
    EXPECT_EQ(recorder.signalsNamed("refresh-Test Site").front(), (QVariantMap{{"row", 4}}));
    recorder.post("refresh-done-Test Site", {{"row", 4}});
    EXPECT_TRUE(answered(4, {}));
    // A refresh that kept the volume says why.
    control.refreshTemplates(*site, 5);
    const QString why = QStringLiteral("changes are still on their way to the site");
    recorder.post("refresh-done-Test Site", {{"row", 5}, {"notRefreshed", why}});
    EXPECT_TRUE(answered(5, why));

    const std::shared_ptr<HelperProcess> helper = site->siteConnection;
    EXPECT_EQ(control.ejectSite(*site), 3);
    EXPECT_EQ(connectionState(*site), ConnectionState::idle);
    EXPECT_FALSE(site->finishedConnecting) << "a new connection starts as connecting";
    EXPECT_TRUE(waitUntil([&] { return !helper->isRunning(); }));
    EXPECT_TRUE(recorder.waitFor("connection-terminated-Test Site", defaultTimeoutMs, 2));
    EXPECT_FALSE(FuseMounts::isMounted(session.mountRoot() + "/Test Site"));
    // The ejected helper announced its end as well; after the user's own eject that is no failure.
    QCoreApplication::processEvents();
    EXPECT_EQ(terminated, 1);
    EXPECT_EQ(connectionState(*site), ConnectionState::idle);

    // An end the user asked for elsewhere (folvane3 eject, a signal) is no failure either; an unmount from
    // outside is: the error dot shows.
    connectAndWait(*site);
    recorder.post("eject-Test Site", {});
    ASSERT_TRUE(waitUntil([&] { return !site->siteConnection; }));
    EXPECT_EQ(connectionState(*site), ConnectionState::idle);
    EXPECT_EQ(terminated, 1);
    connectAndWait(*site);
    ASSERT_EQ(QProcess::execute("fusermount3", {"-u", "-z", session.mountRoot() + "/Test Site"}), 0);
    ASSERT_TRUE(waitUntil([&] { return !site->siteConnection; }));
    EXPECT_EQ(terminated, 2);
    EXPECT_EQ(connectionState(*site), ConnectionState::error);

    // A failed check marks the site and starts no helper.
    sim.clearLog();
    sim.config({{"login", "refuse"}});
    const ConnectOutcome refused = control.connectToSite(*site);
    EXPECT_EQ(refused.kind, ConnectOutcome::Kind::checkFailed);
    EXPECT_EQ(refused.error, LoggingInError::authenticationInvalid);
    EXPECT_EQ(connectionState(*site), ConnectionState::error);
    EXPECT_FALSE(site->siteConnection);
    EXPECT_EQ(sim.requestsFor("login").size(), 1u) << "only the check logged in";
}

// Quitting: every running helper is ended, and by the time the application may exit their volumes are gone.
TEST_F(AppConnectionControl, QuittingEndsEveryHelperAndLeavesNoVolumeBehind) {
    std::vector<std::shared_ptr<HelperProcess>> helpers;
    for (BaseWebsite* connecting : {site, addSite("Second", sim.baseUrl())}) {
        connectAndWait(*connecting);
        helpers.push_back(connecting->siteConnection);
    }
    ASSERT_TRUE(FuseMounts::isMounted(session.mountRoot() + "/Test Site"));
    ASSERT_TRUE(FuseMounts::isMounted(session.mountRoot() + "/Second"));

    control.terminateAllHelpers();

    // No event loop has turned since: what holds now holds when the application exits right after.
    for (const auto& helper : helpers)
        EXPECT_FALSE(helper->isRunning());
    EXPECT_FALSE(FuseMounts::isMounted(session.mountRoot() + "/Test Site"));
    EXPECT_FALSE(FuseMounts::isMounted(session.mountRoot() + "/Second"));
    for (const auto& record : sites.siteList())
        EXPECT_EQ(connectionState(*record), ConnectionState::idle);
}

// Where the desktop shows buttons on notifications, a finished connection is announced with "Open folder",
// which opens the volume.
TEST_F(AppConnectionControl, AFinishedConnectionOffersToOpenTheFolderWhereTheDesktopShowsButtons) {
    const FakeOpener opener(session.home());
    const QByteArray searchPath = qgetenv("PATH");
    qputenv("PATH", opener.searchPath().toUtf8());
    session.notificationService().showActions(true);
    SiteConnections connections(
        sites, preferences,
        HelperSetup{programPath("folvane3-fuse-helper"), session.environment(), session.baseFolder()},
        session.bus(), QDBusConnection(QStringLiteral("no system bus")));
    ASSERT_EQ(connections.control().connectToSite(*site).kind, ConnectOutcome::Kind::launched);
    const auto shown = session.waitForNotification("Connected");
    ASSERT_TRUE(shown);
    const QString mountPoint = QDir::cleanPath(paths::mountPointFor("Test Site"));
    EXPECT_EQ(shown->body, "“Test Site” is mounted at " + mountPoint);
    ASSERT_EQ(shown->actions, (QStringList{"open-folder", "Open folder"}));
    session.notificationService().invokeAction(shown->id, "open-folder");
    EXPECT_TRUE(waitUntil([&] { return opener.opened() == QStringList{mountPoint}; }))
        << opener.opened().join(' ').toStdString();
    connections.control().terminateAllHelpers();
    qputenv("PATH", searchPath);
}

// The site list's controller needs no window: it connects and ejects, and asks before an eject that would
// leave changes unconfirmed, in words that count them. (When the refresh button turns: the window's test.)
TEST_F(AppConnectionControl, TheSiteListControllerWorksWithoutWidgets) {
    struct Asking : SiteListController::Asking {
        void alert(const QString& message, const QString& text) override { alerts << message + ": " + text; }
        bool confirm(const QString&, const QString& text, const QString&, const QString&) override {
            questions << text;
            return answer;
        }
        QStringList alerts, questions;
        bool answer = false;
    } asking;
    SiteListController controller(sites, control, asking);

    controller.connectSite(sites.siteWithTitle("Test Site"), ConnectEntryPoint::connectToSite);
    EXPECT_TRUE(asking.alerts.isEmpty()) << asking.alerts.join('\n').toStdString();
    ASSERT_TRUE(waitUntil([&] { return connectionState(*site) == ConnectionState::connected; }));

    site->pendingUploads = 1;
    controller.eject("Test Site");
    ASSERT_EQ(asking.questions.size(), 1);
    EXPECT_TRUE(asking.questions[0].startsWith(
        "1 change on the volume has not been confirmed by the site yet. If you eject now, it is kept"))
        << asking.questions[0].toStdString();
    EXPECT_TRUE(site->siteConnection) << "not ejected without a yes";
    site->pendingUploads = 2;
    asking.answer = true;
    const std::shared_ptr<HelperProcess> helper = site->siteConnection;
    controller.eject("Test Site");
    ASSERT_EQ(asking.questions.size(), 2);
    EXPECT_TRUE(asking.questions[1].startsWith(
        "2 changes on the volume have not been confirmed by the site yet. If you eject now, they are kept"))
        << asking.questions[1].toStdString();
    EXPECT_FALSE(site->siteConnection);
    EXPECT_EQ(connectionState(*site), ConnectionState::idle);
    EXPECT_TRUE(waitUntil([&] { return !helper->isRunning(); }));
}
