#!/usr/bin/env bash
# The site's volume against the mirror folder it serves (native) and against bindfs over the same folder,
# in one run on this machine: sequential write and read of a 256 MiB file (1 MiB calls), and create +
# stat + unlink of 10,000 small files. Each figure is the best of RUNS runs. Prints one ratio a line
# (volume/native, bindfs/native) against the goals. Run after the build (BUILD_DIR, default build): it
# compiles a small program against the build's libraries. Installs bindfs when it is missing.
# CACHING=0 measures the volume with "Enable caching" off.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
runs=${RUNS:-3} caching=${CACHING:-1}

if ! command -v bindfs > /dev/null; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q bindfs > /dev/null 2>&1 ||
        { apt-get update -q > /dev/null && DEBIAN_FRONTEND=noninteractive apt-get install -y -q bindfs > /dev/null; }
fi

work=$(mktemp -d)
mounter_pid="" bindfs_mount=""
cleanup() {
    [ -n "$bindfs_mount" ] && fusermount3 -uz "$bindfs_mount" 2> /dev/null
    [ -n "$mounter_pid" ] && kill -TERM "$mounter_pid" 2> /dev/null && wait "$mounter_pid" 2> /dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# The volume as the helper sets it up (filesystem, session loop, an event handler for each change),
# without the synchronisation behind the events: a small program built against the build's libraries.
cat > "$work/mounter.cpp" << 'EOF'
#include "fs/LoopbackFS.h"
#include "fs/MountSession.h"
#include "fs/VolumeEventQueue.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <thread>

using namespace folvane;

// Counts every report on the main thread, as the synchronisation would receive them.
struct Counter : VolumeEvents {
    int handled = 0;
    void fileCreated(const QString&) override { ++handled; }
    void fileWritten(const QString&) override { ++handled; }
    void fileReleased(const QString&) override { ++handled; }
    void fileRead(const QString&) override { ++handled; }
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
EOF
# shellcheck disable=SC2046
g++ -std=c++20 -O2 -fPIC -Icommon -Ihelper -I"$build/generated" $(pkg-config --cflags Qt6Core Qt6DBus) \
    "$work/mounter.cpp" -o "$work/mounter" "$build/helper/libfolvane-helper-lib.a" \
    "$build/common/libfolvane-common.a" $(pkg-config --libs Qt6Core Qt6DBus Qt6Network fuse3)

mirror=$work/mirror volume=$work/volume bindfs_mount=$work/bindfs
mkdir -p "$mirror" "$bindfs_mount"
# Its log goes to a file, as the helper's does.
"$work/mounter" "$mirror" "$volume" "$caching" > "$work/mounter.out" 2> "$work/mounter.log" &
mounter_pid=$!
until grep -q '^MOUNTED' "$work/mounter.out"; do
    kill -0 "$mounter_pid" 2> /dev/null || { cat "$work/mounter.log"; exit 1; }
    sleep 0.05
done
bindfs "$mirror" "$bindfs_mount"

/usr/bin/python3 - "$runs" "$mirror" "$volume" "$bindfs_mount" << 'EOF'
import os, sys, time

runs = int(sys.argv[1])
places = {"native": sys.argv[2], "volume": sys.argv[3], "bindfs": sys.argv[4]}
chunk = b"\xa5" * (1 << 20)
size_mib, files = 256, 10_000

# Rounds alternate between the places, so that each sees the same state of the disk (a filesystem
# creates files more slowly right after many were deleted); the best round counts.
def best(measure):
    seconds = {place: [] for place in places}
    for _ in range(runs):
        for place, folder in places.items():
            seconds[place].append(measure(folder))
    return {place: min(times) for place, times in seconds.items()}

def write(folder):
    path = os.path.join(folder, "big.bin")
    start = time.perf_counter()
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
    for _ in range(size_mib):
        os.write(fd, chunk)
    os.close(fd)
    return time.perf_counter() - start

def read(folder):
    buffer = bytearray(1 << 20)
    start = time.perf_counter()
    with open(os.path.join(folder, "big.bin"), "rb", buffering=0) as f:
        while f.readinto(buffer):
            pass
    return time.perf_counter() - start

def metadata(folder):
    folder = os.path.join(folder, "small")
    os.makedirs(folder, exist_ok=True)
    names = [os.path.join(folder, "f%05d.html" % i) for i in range(files)]
    start = time.perf_counter()
    for name in names:
        fd = os.open(name, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644)
        os.write(fd, b"<p>small</p>\n")
        os.close(fd)
    for name in names:
        os.stat(name)
    for name in names:
        os.unlink(name)
    return time.perf_counter() - start

goals = {"write": 0.80, "read": 0.90, "metadata": 0.35}
for name, measure in (("write", write), ("read", read), ("metadata", metadata)):
    seconds = best(measure)
    volume = seconds["native"] / seconds["volume"]
    bindfs = seconds["native"] / seconds["bindfs"]
    verdict = "ok" if volume >= goals[name] and volume >= bindfs else "BELOW GOAL"
    print("%-8s volume/native %.2f  bindfs/native %.2f  (goal >= %.2f and >= bindfs) %s   "
          "[native %.3fs, volume %.3fs, bindfs %.3fs]"
          % (name, volume, bindfs, goals[name], verdict, seconds["native"], seconds["volume"], seconds["bindfs"]))
os.remove(os.path.join(places["native"], "big.bin"))
EOF
