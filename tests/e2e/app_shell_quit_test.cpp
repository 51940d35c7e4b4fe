// Quitting the application: every running helper is ended, and by the time the application may exit their
// volumes are unmounted (the real helper, the simulator, real mounts on a private session).
#include "testkit/AddonSim.h"
#include "testkit/FuseMounts.h"
#include "testkit/Programs.h"
#include "testkit/TestSession.h"
#include "testkit/Wait.h"

#include "NotificationBus.h"
#include "core/AddonHttpClient.h"
#include "core/BaseWebsite.h"
#include "core/ConnectionControl.h"
#include "core/HelperProcess.h"
#include "core/SecretStore.h"
#include "core/SharedPreferences.h"
#include "core/SiteListManager.h"

#include <gtest/gtest.h>

using namespace folvane;
using namespace folvane::testkit;

namespace {

class NoSecretStore : public SecretStore {
public:
    SecretLookup read(const SecretAttributes&) override { return {}; }
    std::optional<QString> store(const SecretAttributes&, const QString&) override { return std::nullopt; }
};

} // namespace

TEST(AppQuit, EndsEveryHelperAndLeavesNoVolumeBehind) {
    TestSession session;
    AddonSim sim;
    NoSecretStore secrets;
    SiteListManager sites{secrets, session.baseFolder()};
    SharedPreferences preferences{session.baseFolder()};
    NotificationBus bus{session.bus()};
    AddonHttpClient http;
    ConnectionControl control{
        sites, preferences, bus, http,
        HelperSetup{programPath("folvane3-fuse-helper"), session.environment(), session.baseFolder()}};
    for (const QString title : {"First", "Second"}) {
        auto site = std::make_shared<BaseWebsite>();
        site->setNewValues(title, sim.baseUrl(), QString("admin"), QString("password"));
        sites.addNewSite(site);
    }
    std::vector<std::shared_ptr<HelperProcess>> helpers;
    for (const auto& site : sites.siteList()) {
        const ConnectOutcome outcome = control.connectToSite(*site);
        ASSERT_EQ(outcome.kind, ConnectOutcome::Kind::launched) << outcome.launchError.toStdString();
        helpers.push_back(site->siteConnection);
    }
    ASSERT_TRUE(waitUntil([&] {
        return std::all_of(sites.siteList().begin(), sites.siteList().end(), [](const auto& site) {
            return connectionState(*site) == ConnectionState::connected;
        });
    }));
    ASSERT_TRUE(FuseMounts::isMounted(session.mountRoot() + "/First"));
    ASSERT_TRUE(FuseMounts::isMounted(session.mountRoot() + "/Second"));

    control.terminateAllHelpers();

    // No event loop has turned since: what holds now holds when the application exits right after.
    for (const auto& helper : helpers)
        EXPECT_FALSE(helper->isRunning());
    EXPECT_FALSE(FuseMounts::isMounted(session.mountRoot() + "/First"));
    EXPECT_FALSE(FuseMounts::isMounted(session.mountRoot() + "/Second"));
    for (const auto& site : sites.siteList())
        EXPECT_EQ(connectionState(*site), ConnectionState::idle);
}
