// The volume as the helper sets it up (filesystem, session loop, an event handler for each change),
// without the synchronisation behind the events. Arguments: mirror folder, mount point, caching (1 or 0).
// Prints MOUNTED once serving; SIGTERM unmounts and ends it. Built by bench/volume_mounter.sh.
#include "fs/LoopbackFS.h"
#include "fs/MountSession.h"
#include "fs/VolumeEventQueue.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <thread>

using namespace folvane;

// Counts every report on the main thread, as the synchronisation would receive them; with caching off an
// open goes on as soon as its report arrived (as for a file the site does not know).
struct Counter : VolumeEvents {
    int handled = 0;
    LoopbackFS* fs = nullptr;
    void fileCreated(const QString&) override { ++handled; }
    void fileWritten(const QString&) override { ++handled; }
    void fileReleased(const QString&) override { ++handled; }
    void fileOpened(const QString& path) override {
        ++handled;
        fs->openGate().current(path, fs->openGate().mark());
    }
    void moved(const QString&, const QString&) override { ++handled; }
    void fileRemoved(const QString&) override { ++handled; }
    void folderMade(const QString&) override { ++handled; }
    void folderRemoved(const QString&) override { ++handled; }
};

int main(int argc, char** argv) {
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    QCoreApplication app(argc, argv);
    Counter counter;
    VolumeEventQueue events;
    events.setReceiver(&counter);
    LoopbackFS::CachePolicy cache;
    cache.keepPageCache = argv[3][0] == '1';
    LoopbackFS fs(QString::fromLocal8Bit(argv[1]), events, cache);
    counter.fs = &fs;
    MountSession session(fs, QStringLiteral("Bench"), QString::fromLocal8Bit(argv[2]));
    QObject::connect(&session, &MountSession::mounted, [] {
        std::puts("MOUNTED");
        std::fflush(stdout);
    });
    QObject::connect(&session, &MountSession::mountFailed, [](const QString& reason) {
        std::fprintf(stderr, "%s\n", qPrintable(reason));
        QCoreApplication::exit(1);
    });
    std::thread([&stop] {
        int signal = 0;
        sigwait(&stop, &signal);
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit);
    }).detach();
    session.mount();
    const int status = app.exec();
    session.unmount();
    return status;
}
