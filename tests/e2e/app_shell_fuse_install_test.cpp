// Installing FUSE through PackageKit, against PackageKit's dummy backend with polkit on a private system bus:
// nothing is installed for real, but every D-Bus exchange is the real one. The dummy backend knows a few
// made-up packages ("vips-doc" is one it can install, as long as unsigned packages are allowed) and not
// fuse3.
#include "shell/FuseCheck.h"
#include "shell/PackageKitInstaller.h"
#include "shell/ShellPrompts.h"
#include "shell/StartupSequence.h"
#include "testkit/ChildProcess.h"
#include "testkit/PrivateBus.h"
#include "testkit/Wait.h"

#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace folvane::shell;
using namespace folvane::testkit;

namespace {

const QString packageKitDaemon = QStringLiteral("/usr/libexec/packagekitd");
const QString polkitDaemon = QStringLiteral("/usr/lib/polkit-1/polkitd");
const QString dummyInstallable = QStringLiteral("vips-doc");

// A system bus of the test's own with polkitd and PackageKit's dummy backend on it.
class PackageKitBus {
public:
    PackageKitBus() {
        // polkitd drops to its own user, which must reach the socket.
        QFile::setPermissions(folder_.path(), QFile::permissions(folder_.path()) | QFile::ReadOther |
                                                  QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup);
        environment_.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), bus_.address());
        polkit_ = start(polkitDaemon, {QStringLiteral("--no-debug")}, QStringLiteral("polkitd"));
        packageKit_ = start(packageKitDaemon,
                            {QStringLiteral("--backend"), QStringLiteral("dummy"),
                             QStringLiteral("--keep-environment"), QStringLiteral("--disable-timer")},
                            QStringLiteral("packagekitd"));
    }

    QDBusConnection connection() const { return bus_.connection(); }
    bool packageKitUp() const {
        const auto* daemon = connection().interface();
        return daemon && daemon->isServiceRegistered(QStringLiteral("org.freedesktop.PackageKit")).value() &&
               daemon->isServiceRegistered(QStringLiteral("org.freedesktop.PolicyKit1")).value();
    }
    QString logs() const { return polkit_->output() + packageKit_->output(); }

private:
    std::unique_ptr<ChildProcess> start(const QString& program, const QStringList& arguments,
                                        const QString& name) {
        return std::make_unique<ChildProcess>(
            ChildProcess::Launch{program,
                                 arguments,
                                 environment_,
                                 folder_.filePath(name + QStringLiteral(".out")),
                                 {},
                                 std::nullopt,
                                 true});
    }

    QTemporaryDir folder_;
    QProcessEnvironment environment_ = QProcessEnvironment::systemEnvironment();
    PrivateBus bus_{environment_, folder_.path(), folder_.path()};
    std::unique_ptr<ChildProcess> polkit_, packageKit_;
};

// Answers every alert with its first button and records what was shown.
class AgreeingPrompts : public ShellPrompts {
public:
    std::vector<Alert> alerts;
    std::vector<int> progress;
    bool progressShown = false;
    int runAlert(const Alert& alert) override {
        alerts.push_back(alert);
        return 0;
    }
    void showProgress(const QString&) override { progressShown = true; }
    void setProgress(int percent) override { progress.push_back(percent); }
    void hideProgress() override { progressShown = false; }
    void openUrl(const QUrl&) override {}
};

class FuseInstall : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "PackageKit and polkit run as root";
        for (const QString& program : {packageKitDaemon, polkitDaemon})
            if (!QFile::exists(program))
                GTEST_SKIP() << program.toStdString() << " is missing (packages packagekit, polkitd)";
        bus_ = std::make_unique<PackageKitBus>();
        ASSERT_TRUE(waitUntil([&] { return bus_->packageKitUp(); })) << bus_->logs().toStdString();
    }

    struct Outcome {
        bool done = false, ok = false;
        QString reason;
        std::vector<int> progress;
    };
    Outcome install(const QString& package,
                    PackageKitInstaller::Trust trust = PackageKitInstaller::Trust::any) {
        PackageKitInstaller installer(bus_->connection(), package, trust);
        EXPECT_TRUE(installer.isAvailable());
        Outcome outcome;
        QObject::connect(&installer, &PackageKitInstaller::progress,
                         [&](int percent) { outcome.progress.push_back(percent); });
        QObject::connect(&installer, &PackageKitInstaller::finished, [&](bool ok, const QString& reason) {
            outcome = {true, ok, reason, outcome.progress};
        });
        installer.install();
        EXPECT_TRUE(waitUntil([&] { return outcome.done; })) << bus_->logs().toStdString();
        return outcome;
    }

    std::unique_ptr<PackageKitBus> bus_;
};

SystemFacts fuse(bool installed) {
    SystemFacts facts;
    facts.kernelHasFuse = facts.deviceUsable = true;
    facts.fusermountFound = installed;
    facts.fusermountVersion = installed ? QStringLiteral("3.14.0") : QString();
    return facts;
}

} // namespace

// The dummy backend can install its own package, treats every package as coming from an unsigned
// repository, and has no fuse3: each failure comes with a reason naming what went wrong.
TEST_F(FuseInstall, InstallsWhatTheBackendCanAndFailsWithAReasonOtherwise) {
    struct Case {
        QString package;
        PackageKitInstaller::Trust trust;
        bool installed;
        QString reasonNames;
    };
    for (const Case& c : {Case{dummyInstallable, PackageKitInstaller::Trust::any, true, {}},
                          Case{dummyInstallable, PackageKitInstaller::Trust::onlyTrusted, false, {}},
                          Case{QStringLiteral("fuse3"), PackageKitInstaller::Trust::any, false, "fuse3"}}) {
        const Outcome outcome = install(c.package, c.trust);
        EXPECT_EQ(outcome.ok, c.installed) << c.package.toStdString() << outcome.reason.toStdString();
        EXPECT_TRUE(c.installed || !outcome.reason.isEmpty()) << c.package.toStdString();
        EXPECT_TRUE(outcome.reason.contains(c.reasonNames)) << outcome.reason.toStdString();
        EXPECT_TRUE(!c.installed || !outcome.progress.empty()) << "progress is shown";
    }
}

TEST_F(FuseInstall, StartUpInstallsMissingFuseAndGoesOnOnlyWhenItIsThere) {
    QTemporaryDir folder;
    QSettings defaults(folder.filePath(QStringLiteral("defaults.ini")), QSettings::IniFormat);
    for (const bool appearsAfterInstall : {true, false}) {
        PackageKitInstaller installer(bus_->connection(), dummyInstallable, PackageKitInstaller::Trust::any);
        AgreeingPrompts prompts;
        int probes = 0;
        // Before the installation FUSE is missing; afterwards it is there, or (a failed install) still not.
        StartupSequence sequence(prompts, {[&] { return fuse(probes++ > 0 && appearsAfterInstall); },
                                           &installer, &defaults, QStringLiteral("3.10.0")});
        bool ready = false, quit = false;
        QObject::connect(&sequence, &StartupSequence::ready, [&] { ready = true; });
        QObject::connect(&sequence, &StartupSequence::quitRequested, [&] { quit = true; });
        sequence.start();
        EXPECT_TRUE(prompts.progressShown);
        ASSERT_TRUE(waitUntil([&] { return ready || quit; })) << bus_->logs().toStdString();
        EXPECT_FALSE(prompts.progressShown);
        ASSERT_FALSE(prompts.alerts.empty());
        EXPECT_EQ(prompts.alerts.front(), alertFor(FuseStep::offerInstall, fuse(false)));
        if (appearsAfterInstall) {
            EXPECT_TRUE(ready);
            EXPECT_EQ(prompts.alerts.size(), 1u);
        } else {
            // PackageKit said yes, but FUSE is still not there: that is a failure.
            EXPECT_TRUE(quit);
            EXPECT_EQ(prompts.alerts.back(), installFailedAlert());
        }
    }
}
