#include "shell/FuseCheck.h"

#include "VersionCompare.h"

#include <QRegularExpression>

namespace folvane::shell {

namespace {

const QString component = QStringLiteral("FUSE");

bool versionAtLeast(const QString& version, const QString& minimum) {
    return compareVersions(version, minimum) >= 0;
}

} // namespace

bool kernelHasFuse(const QString& procFilesystems, const QString& moduleIndex) {
    // Lines are "nodev\tfuse" or "\tfuseblk"; only the name "fuse" itself counts.
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    for (const QString& line : procFilesystems.split(u'\n')) {
        const QStringList fields = line.split(blanks, Qt::SkipEmptyParts);
        if (!fields.isEmpty() && fields.last() == QStringLiteral("fuse"))
            return true;
    }
    static const QRegularExpression module(QStringLiteral("(^|/)fuse\\.ko(\\.[a-z]+)?(:|$)"),
                                           QRegularExpression::MultilineOption);
    return module.match(moduleIndex).hasMatch();
}

std::optional<QString> parseFusermountVersion(const QString& output) {
    static const QRegularExpression version(QStringLiteral("version:?\\s*(\\d+(?:\\.\\d+)*)"),
                                            QRegularExpression::CaseInsensitiveOption);
    const auto match = version.match(output);
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1);
}

QString dontAskToUpgradeKey(const QString& minimumVersion) {
    return QStringLiteral("DontAskToUpgrade") + fusePackage + u' ' + minimumVersion;
}

FuseStep nextFuseStep(const SystemFacts& facts, const QString& minimumVersion, bool dontAskToUpgrade,
                      bool packageKitAvailable) {
    if (!facts.kernelHasFuse)
        return FuseStep::unsupportedSystem;
    if (!facts.fusermountFound)
        return packageKitAvailable ? FuseStep::offerInstall : FuseStep::tellInstallCommand;
    // A version that cannot be read is no reason to stop anyone: the check ends there.
    if (!facts.fusermountVersion.isEmpty() && !versionAtLeast(facts.fusermountVersion, minimumVersion) &&
        !dontAskToUpgrade)
        return packageKitAvailable ? FuseStep::offerUpgrade : FuseStep::tellUpgradeCommand;
    return facts.deviceUsable ? FuseStep::ready : FuseStep::deviceUnusable;
}

bool installSucceeded(const SystemFacts& facts, const QString& minimumVersion) {
    return facts.fusermountFound && !facts.fusermountVersion.isEmpty() &&
           versionAtLeast(facts.fusermountVersion, minimumVersion);
}

Choice choiceFor(FuseStep step, int button) {
    switch (step) {
    case FuseStep::offerInstall:
        return button == 0 ? Choice::install : Choice::quit;
    case FuseStep::offerUpgrade:
        return button == 0 ? Choice::install : button == 1 ? Choice::dontAskAgain : Choice::later;
    case FuseStep::tellUpgradeCommand:
        return button == 0 ? Choice::dontAskAgain : Choice::later;
    case FuseStep::unsupportedSystem:
    case FuseStep::tellInstallCommand:
        return Choice::quit;
    case FuseStep::deviceUnusable:
    case FuseStep::ready:
        break;
    }
    return Choice::ok;
}

Alert alertFor(FuseStep step, const SystemFacts& facts) {
    const QString installText = QStringLiteral("Folvane 3 relies on a component called %1 to create the "
                                               "ExpressionEngine filesystem. ")
                                    .arg(component);
    const QString olderText =
        QStringLiteral("Folvane 3 has detected that you are running an older version of %1. ").arg(component);
    switch (step) {
    case FuseStep::unsupportedSystem:
        return {QStringLiteral("Folvane 3 requires a Linux kernel with FUSE"),
                QStringLiteral("Folvane 3 requires a Linux kernel with FUSE support.  You are running ") +
                    facts.kernelRelease + u'.',
                {QStringLiteral("Ok")}};
    case FuseStep::offerInstall:
        return {QStringLiteral("Folvane 3 requires %1.").arg(component),
                installText + QStringLiteral("Folvane can automatically install this for you."),
                {QStringLiteral("Install Now"), QStringLiteral("Quit")}};
    case FuseStep::tellInstallCommand:
        return {QStringLiteral("Folvane 3 requires %1.").arg(component),
                installText + QStringLiteral("Please install it by running:\n\n") + fuseInstallCommand,
                {QStringLiteral("Quit")}};
    case FuseStep::offerUpgrade:
        return {QStringLiteral("You have an older version of %1.").arg(component),
                olderText + QStringLiteral("Would you like to upgrade now?"),
                {QStringLiteral("Upgrade Now"), QStringLiteral("Don't Ask Again"), QStringLiteral("Later")}};
    case FuseStep::tellUpgradeCommand:
        return {QStringLiteral("You have an older version of %1.").arg(component),
                olderText + QStringLiteral("To upgrade it, run:\n\n") + fuseInstallCommand,
                {QStringLiteral("Don't Ask Again"), QStringLiteral("Later")}};
    case FuseStep::deviceUnusable:
        return {QStringLiteral("Folvane 3 cannot use %1.").arg(component),
                QStringLiteral("Folvane 3 could not open /dev/fuse (%1). Sites cannot be connected until it "
                               "can.")
                    .arg(facts.deviceError),
                {QStringLiteral("Ok")}};
    case FuseStep::ready:
        break;
    }
    return {};
}

Alert installFailedAlert() {
    return {
        QStringLiteral("Install of %1 Failed.").arg(component),
        QStringLiteral("Folvane 3 tried to install the latest %1, but failed. Please visit ").arg(component) +
            fuseDownloadPage + QStringLiteral(" and install it manually."),
        {QStringLiteral("Quit")}};
}

} // namespace folvane::shell
