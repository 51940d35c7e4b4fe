#pragma once

#include "shell/FuseCheck.h"

#include <QObject>
#include <QString>
#include <functional>

class QSettings;

namespace folvane::shell {

class PackageKitInstaller;
class ShellPrompts;

// The application's start-up checks, in order: a kernel with FUSE, then FUSE itself (fusermount3 in the
// required version, /dev/fuse usable), installing or upgrading it through PackageKit when the user agrees.
// ready() lets start-up go on; quitRequested() ends the application (unsupported system, FUSE refused or
// its installation failed).
class StartupSequence : public QObject {
    Q_OBJECT
public:
    // What the checks read and use; the defaults are the real machine.
    struct Machine {
        std::function<SystemFacts()> probe;
        PackageKitInstaller* installer = nullptr; // none: PackageKit on the system bus
        QSettings* defaults = nullptr;            // none: organisation "Folvane", application "Folvane 3"
        QString minimumFuseVersion;               // empty: the build's minimum
    };

    explicit StartupSequence(ShellPrompts& prompts, QObject* parent = nullptr);
    StartupSequence(ShellPrompts& prompts, Machine machine, QObject* parent = nullptr);

    // Runs the checks; alerts are modal, the installation runs in the background with its progress shown.
    void start();

signals:
    void ready();
    void quitRequested();

private:
    void install(bool upgrade);
    void installCompleted(bool ok, const QString& reason);

    ShellPrompts& prompts_;
    std::function<SystemFacts()> probe_;
    PackageKitInstaller* installer_;
    QSettings* defaults_;
    QString minimumFuseVersion_;
};

} // namespace folvane::shell
