// The FUSE start-up check: reading what the machine says, the version rule, which alert comes next and what
// each answer does, with the sequence driven through recorded prompts.
#include "RecordingShellPrompts.h"
#include "shell/FuseCheck.h"
#include "shell/PackageKitInstaller.h"
#include "shell/StartupSequence.h"
#include "shell/SystemProbe.h"

#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace folvane::shell;

namespace {

const QString minimum = QStringLiteral("3.10.0");

SystemFacts installed(const QString& version) {
    SystemFacts facts;
    facts.kernelRelease = QStringLiteral("6.1.0-18-amd64");
    facts.kernelHasFuse = facts.fusermountFound = facts.deviceUsable = true;
    facts.fusermountVersion = version;
    return facts;
}

SystemFacts missing() {
    SystemFacts facts = installed({});
    facts.fusermountFound = false;
    return facts;
}

} // namespace

TEST(FuseFacts, ReadsTheKernelsFilesystemsAndModules) {
    EXPECT_TRUE(kernelHasFuse("nodev\tsysfs\nnodev\tfuse\n\tfuseblk\nnodev\tfusectl\n", {}));
    EXPECT_FALSE(kernelHasFuse("nodev\tsysfs\n\tfuseblk\nnodev\tfusectl\n", {}));
    EXPECT_TRUE(kernelHasFuse({}, "kernel/fs/ext4/ext4.ko\nkernel/fs/fuse/fuse.ko\n"));
    EXPECT_TRUE(kernelHasFuse(
        {}, "kernel/fs/fuse/fuse.ko.xz: \nkernel/fs/fuse/cuse.ko.xz: kernel/fs/fuse/fuse.ko.xz\n"));
    EXPECT_FALSE(kernelHasFuse({}, "kernel/fs/fuse/virtiofs.ko: \nkernel/fs/fuse/cuse.ko: \n"));
}

TEST(FuseFacts, ParsesFusermountVersion) {
    EXPECT_EQ(parseFusermountVersion("fusermount3 version: 3.14.0\n"), QStringLiteral("3.14.0"));
    EXPECT_EQ(parseFusermountVersion("fusermount version: 2.9.9"), QStringLiteral("2.9.9"));
    EXPECT_FALSE(parseFusermountVersion("fusermount3: unknown option '--version'"));
}

TEST(FuseDecision, ChoosesTheNextStep) {
    SystemFacts noKernel = installed("3.14.0"), noDevice = installed("3.14.0");
    noKernel.kernelHasFuse = false;
    noDevice.deviceUsable = false;
    noDevice.deviceError = "Permission denied";
    struct Case {
        SystemFacts facts;
        const char* minimum;
        bool dontAskToUpgrade, canInstall;
        FuseStep step;
    };
    const Case cases[] = {
        // 3.5.3 installed, 3.5.10 required: older, although it sorts after as text.
        {installed("3.5.3"), "3.5.10", false, true, FuseStep::offerUpgrade},
        {installed("3.10.0"), "3.9.1", false, true, FuseStep::ready},
        {installed("3.10.0"), "3.10.0", false, true, FuseStep::ready},
        {noKernel, "3.10.0", false, true, FuseStep::unsupportedSystem},
        {missing(), "3.10.0", false, true, FuseStep::offerInstall},
        {missing(), "3.10.0", true, true, FuseStep::offerInstall},
        {missing(), "3.10.0", false, false, FuseStep::tellInstallCommand},
        {installed("3.9.0"), "3.10.0", false, false, FuseStep::tellUpgradeCommand},
        {installed("3.9.0"), "3.10.0", true, true, FuseStep::ready},
        // A version that cannot be read ends the check without an alert.
        {installed({}), "3.10.0", false, true, FuseStep::ready},
        {noDevice, "3.10.0", false, true, FuseStep::deviceUnusable},
    };
    for (const Case& c : cases)
        EXPECT_EQ(nextFuseStep(c.facts, c.minimum, c.dontAskToUpgrade, c.canInstall), c.step)
            << c.facts.fusermountVersion.toStdString() << " for " << c.minimum;
    EXPECT_TRUE(alertFor(FuseStep::deviceUnusable, noDevice).informativeText.contains("Permission denied"));
    EXPECT_TRUE(installSucceeded(installed("3.14.0"), minimum));
    EXPECT_FALSE(installSucceeded(installed("3.9.9"), minimum));
    EXPECT_FALSE(installSucceeded(missing(), minimum));
}

namespace {

// One start-up without PackageKit (an unconnected bus) over the given facts.
struct StartupRun {
    QTemporaryDir folder;
    QSettings defaults{folder.filePath("defaults.ini"), QSettings::IniFormat};
    folvane::testsupport::RecordingShellPrompts prompts;
    PackageKitInstaller noPackageKit{QDBusConnection(QStringLiteral("not connected"))};
    bool ready = false, quit = false;

    void run(const SystemFacts& facts) {
        ready = quit = false;
        StartupSequence sequence(prompts, {[facts] { return facts; }, &noPackageKit, &defaults, minimum});
        QObject::connect(&sequence, &StartupSequence::ready, [this] { ready = true; });
        QObject::connect(&sequence, &StartupSequence::quitRequested, [this] { quit = true; });
        sequence.start();
    }
};

} // namespace

TEST(FuseStartup, DontAskAgainSticksLaterClearsItAndMissingFuseEndsTheApplication) {
    StartupRun startup;
    const QString key = dontAskToUpgradeKey(minimum);
    startup.run(installed("3.14.0"));
    EXPECT_TRUE(startup.ready);
    EXPECT_TRUE(startup.prompts.alerts.empty());
    EXPECT_EQ(startup.defaults.value(key), QVariant(false)) << "the flag is stored on the first start";

    startup.prompts.answers = {0}; // "Don't Ask Again"
    startup.run(installed("3.9.2"));
    EXPECT_TRUE(startup.ready);
    ASSERT_EQ(startup.prompts.alerts.size(), 1u);
    EXPECT_EQ(startup.defaults.value(key).toBool(), true);

    startup.run(installed("3.9.2"));
    EXPECT_TRUE(startup.ready);
    EXPECT_EQ(startup.prompts.alerts.size(), 1u) << "no offer after Don't Ask Again";

    startup.defaults.setValue(key, false);
    startup.prompts.answers = {1}; // "Later"
    startup.run(installed("3.9.2"));
    startup.run(installed("3.9.2"));
    EXPECT_EQ(startup.prompts.alerts.size(), 3u) << "Later keeps the offer coming";
    EXPECT_TRUE(startup.ready);

    // Missing FUSE or kernel support ends the application.
    startup.run(missing());
    EXPECT_TRUE(startup.quit);
    EXPECT_FALSE(startup.ready);
    ASSERT_EQ(startup.prompts.alerts.size(), 4u);
    EXPECT_EQ(startup.prompts.alerts.back().buttons, QStringList{"Quit"});

    SystemFacts noKernel = missing();
    noKernel.kernelHasFuse = false;
    startup.run(noKernel);
    EXPECT_TRUE(startup.quit);
    EXPECT_EQ(startup.prompts.alerts.back().message, "Folvane 3 requires a Linux kernel with FUSE");

    SystemFacts noDevice = installed("3.14.0");
    noDevice.deviceUsable = false;
    startup.run(noDevice);
    EXPECT_TRUE(startup.ready) << "an unusable /dev/fuse is told, but the sites can still be managed";
}
