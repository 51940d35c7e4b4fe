#pragma once

#include "shell/ShellPrompts.h"

#include <QString>
#include <optional>

// The pure rules of the start-up checks: reading what the machine says about FUSE, and which alert comes
// next. Reading the machine itself is in SystemProbe.
namespace folvane::shell {

// What the start-up checks found on the machine.
struct SystemFacts {
    QString kernelRelease; // for the unsupported-system alert
    bool kernelHasFuse = false;
    bool fusermountFound = false;
    QString fusermountVersion; // from `fusermount3 --version`; empty when it could not be read
    bool deviceUsable = false; // /dev/fuse opens for reading and writing
    QString deviceError;       // why it does not
};

// True when /proc/filesystems lists "fuse", or the kernel's module index (modules.builtin and
// modules.dep, concatenated) has a fuse module that can be loaded.
bool kernelHasFuse(const QString& procFilesystems, const QString& moduleIndex);

// The version in `fusermount3 --version` output ("fusermount3 version: 3.14.0"); nothing when absent.
std::optional<QString> parseFusermountVersion(const QString& output);

// The Debian package that provides FUSE, and the command that installs it where PackageKit is missing.
inline const QString fusePackage = QStringLiteral("fuse3");
inline const QString fuseInstallCommand = QStringLiteral("sudo apt install fuse3");
// Where a failed installation sends the user.
inline const QString fuseDownloadPage = QStringLiteral("https://github.com/libfuse/libfuse/releases");

// The user-defaults key of the upgrade offer's "Don't Ask Again", specific to the required version so a
// newer requirement asks again.
QString dontAskToUpgradeKey(const QString& minimumVersion);

// What the FUSE check does next.
enum class FuseStep {
    unsupportedSystem,  // alert, then quit
    offerInstall,       // "Install Now" / "Quit"
    offerUpgrade,       // "Upgrade Now" / "Don't Ask Again" / "Later"
    tellInstallCommand, // no PackageKit: the command to run, then quit
    tellUpgradeCommand, // no PackageKit: the command to run; "Don't Ask Again" / "Later"
    deviceUnusable,     // FUSE is installed but /dev/fuse cannot be used: a warning, then go on
    ready,
};
FuseStep nextFuseStep(const SystemFacts& facts, const QString& minimumVersion, bool dontAskToUpgrade,
                      bool packageKitAvailable);

// After an installation: whether FUSE is now there in at least the required version.
bool installSucceeded(const SystemFacts& facts, const QString& minimumVersion);

// What the user's choice in an alert means.
enum class Choice { install, quit, dontAskAgain, later, ok };
Choice choiceFor(FuseStep step, int button);

// The alert of each step that has one, with its exact texts.
Alert alertFor(FuseStep step, const SystemFacts& facts);
Alert installFailedAlert();

} // namespace folvane::shell
