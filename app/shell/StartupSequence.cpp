#include "shell/StartupSequence.h"

#include "BuildInfo.h"
#include "ConsoleLog.h"
#include "shell/PackageKitInstaller.h"
#include "shell/ShellPrompts.h"
#include "shell/SystemProbe.h"

#include <QSettings>

namespace folvane::shell {

StartupSequence::StartupSequence(ShellPrompts& prompts, QObject* parent)
    : StartupSequence(prompts, Machine{}, parent) {}

StartupSequence::StartupSequence(ShellPrompts& prompts, Machine machine, QObject* parent)
    : QObject(parent), prompts_(prompts), probe_(machine.probe ? machine.probe : probeSystem),
      installer_(machine.installer ? machine.installer
                                   : new PackageKitInstaller(QDBusConnection::systemBus(), fusePackage,
                                                             PackageKitInstaller::Trust::onlyTrusted, this)),
      defaults_(machine.defaults
                    ? machine.defaults
                    : new QSettings(QStringLiteral("Folvane"), QStringLiteral("Folvane 3"), this)),
      minimumFuseVersion_(machine.minimumFuseVersion.isEmpty()
                              ? QString::fromLatin1(build::minimumFuseVersion)
                              : machine.minimumFuseVersion) {
    connect(installer_, &PackageKitInstaller::progress, this,
            [this](int percent) { prompts_.setProgress(percent); });
    connect(installer_, &PackageKitInstaller::finished, this, &StartupSequence::installCompleted);
}

void StartupSequence::start() {
    logLine(QStringLiteral("Finished Launching"));
    const QString dontAskKey = dontAskToUpgradeKey(minimumFuseVersion_);
    if (!defaults_->contains(dontAskKey))
        defaults_->setValue(dontAskKey, false);

    const SystemFacts facts = probe_();
    if (facts.fusermountFound)
        logLine(QStringLiteral("FUSE version detected: ") + facts.fusermountVersion);
    else if (facts.kernelHasFuse)
        logLine(QStringLiteral("FUSE not installed."));
    const FuseStep step = nextFuseStep(facts, minimumFuseVersion_, defaults_->value(dontAskKey).toBool(),
                                       installer_->isAvailable());
    if (step == FuseStep::ready) {
        emit ready();
        return;
    }
    switch (choiceFor(step, prompts_.runAlert(alertFor(step, facts)))) {
    case Choice::install:
        install(step == FuseStep::offerUpgrade);
        return;
    case Choice::quit:
        if (step == FuseStep::offerInstall)
            logLine(QStringLiteral("Refused to Install FUSE"));
        emit quitRequested();
        return;
    case Choice::dontAskAgain:
        logLine(QStringLiteral("Refused to Install FUSE"));
        defaults_->setValue(dontAskKey, true);
        break;
    case Choice::later:
        defaults_->setValue(dontAskKey, false);
        logLine(QStringLiteral("FUSE install postponed."));
        break;
    case Choice::ok:
        break;
    }
    emit ready();
}

void StartupSequence::install(bool upgrade) {
    logLine((upgrade ? QStringLiteral("Upgrading FUSE from: ") : QStringLiteral("Installing FUSE from: ")) +
            QStringLiteral("PackageKit (") + fusePackage + u')');
    prompts_.showProgress(upgrade ? QStringLiteral("Upgrading FUSE…") : QStringLiteral("Installing FUSE…"));
    prompts_.setProgress(-1);
    installer_->install();
}

void StartupSequence::installCompleted(bool ok, const QString& reason) {
    prompts_.hideProgress();
    if (!ok)
        logLine(QStringLiteral("FUSE install failed: ") + reason);
    // PackageKit's word is not enough: only FUSE found in the required version counts.
    const SystemFacts facts = probe_();
    logLine(QStringLiteral("FUSE version detected: ") + facts.fusermountVersion);
    if (!installSucceeded(facts, minimumFuseVersion_)) {
        prompts_.runAlert(installFailedAlert());
        emit quitRequested();
        return;
    }
    logLine(QStringLiteral("FUSE install complete."));
    emit ready();
}

} // namespace folvane::shell
