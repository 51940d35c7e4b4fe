#include "shell/SystemProbe.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QSysInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace folvane::shell {

namespace {

QString fileText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QString fusermountPath() {
    const QString program = QStringLiteral("fusermount3");
    const QString onPath = QStandardPaths::findExecutable(program);
    if (!onPath.isEmpty())
        return onPath;
    // Launched from a desktop entry, PATH can be short; fusermount3 lives in one of these.
    return QStandardPaths::findExecutable(program, {QStringLiteral("/usr/bin"), QStringLiteral("/bin")});
}

QString fusermountVersion(const QString& program) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, {QStringLiteral("--version")});
    if (!process.waitForFinished(10'000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return parseFusermountVersion(QString::fromUtf8(process.readAll())).value_or(QString());
}

} // namespace

SystemFacts probeSystem() {
    SystemFacts facts;
    facts.kernelRelease = QSysInfo::kernelVersion();
    // First, because opening the device loads the module when it is not loaded yet.
    const int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    facts.deviceUsable = fd >= 0;
    if (fd >= 0)
        ::close(fd);
    else
        facts.deviceError = QString::fromLocal8Bit(std::strerror(errno));
    const QString modules = QStringLiteral("/lib/modules/") + facts.kernelRelease;
    facts.kernelHasFuse = kernelHasFuse(fileText(QStringLiteral("/proc/filesystems")),
                                        fileText(modules + QStringLiteral("/modules.builtin")) +
                                            fileText(modules + QStringLiteral("/modules.dep")));
    const QString program = fusermountPath();
    facts.fusermountFound = !program.isEmpty();
    if (facts.fusermountFound)
        facts.fusermountVersion = fusermountVersion(program);
    return facts;
}

} // namespace folvane::shell
