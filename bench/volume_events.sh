#!/usr/bin/env bash
# How long 10,000 filesystem events take from the posting thread (as the volume's serving thread posts
# them) until the last handler on the main thread has run: through the helper's in-process VolumeEventQueue
# against through the D-Bus session bus (NotificationBus, a private bus daemon), in one run.
# Prints both times and their ratio. Run after the build: it compiles a small program against the
# build's libraries (BUILD_DIR, default build).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
count=${EVENTS:-10000}

work=$(mktemp -d)
bus_pid=""
cleanup() {
    [ -n "$bus_pid" ] && kill -TERM "$bus_pid" 2> /dev/null
    rm -rf "$work"
}
trap cleanup EXIT

cat > "$work/events.cpp" << 'EOF'
#include "NotificationBus.h"
#include "fs/VolumeEventQueue.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>

using namespace folvane;

// Milliseconds from the first post on another thread until the handler has seen `count` events.
template <class Subscribe, class Post> double timeEvents(int count, Subscribe subscribe, Post post) {
    int seen = 0;
    subscribe([&seen](const QVariantMap&) { ++seen; });
    QElapsedTimer timer;
    timer.start();
    std::thread poster([&] {
        for (int i = 0; i < count; ++i)
            post(QVariantMap{{QStringLiteral("path"), QStringLiteral("/news/index.html")}});
    });
    while (seen < count)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    poster.join();
    return ms;
}

// Hands each reported write to the handler the timing subscribed.
struct WriteReceiver : VolumeEvents {
    NotificationBus::Handler handler;
    void fileCreated(const QString&) override {}
    void fileWritten(const QString& path) override { handler({{QStringLiteral("path"), path}}); }
    void fileReleased(const QString&) override {}
    void fileOpened(const QString&) override {}
    void moved(const QString&, const QString&) override {}
    void fileRemoved(const QString&) override {}
    void folderMade(const QString&) override {}
    void folderRemoved(const QString&) override {}
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int count = std::atoi(argv[1]);
    const QString name = QStringLiteral("writingfile-Bench");
    WriteReceiver receiver;
    VolumeEventQueue events;
    events.setReceiver(&receiver);
    const double inProcess = timeEvents(
        count, [&](NotificationBus::Handler h) { receiver.handler = std::move(h); },
        [&](const QVariantMap& info) { events.fileWritten(info.value(QStringLiteral("path")).toString()); });
    NotificationBus dbus;
    const double overBus = timeEvents(
        count, [&](NotificationBus::Handler h) { dbus.subscribe(name, std::move(h)); },
        [&](const QVariantMap& info) { dbus.post(name, info); });
    std::printf("%d events: in-process queue %.1f ms, D-Bus %.1f ms; D-Bus/queue %.1f\n", count, inProcess, overBus,
                overBus / inProcess);
}
EOF

# shellcheck disable=SC2046
g++ -std=c++20 -O2 -fPIC -Icommon -Ihelper -I"$build/generated" $(pkg-config --cflags Qt6Core Qt6DBus) \
    "$work/events.cpp" -o "$work/events" "$build/helper/libfolvane-helper-fs.a" "$build/common/libfolvane-common.a" \
    $(pkg-config --libs Qt6Core Qt6DBus Qt6Network fuse3)

read -r bus_address bus_pid < <(dbus-daemon --session --fork --print-address=1 --print-pid=1 | paste -s -d ' ')
DBUS_SESSION_BUS_ADDRESS=$bus_address "$work/events" "$count"
