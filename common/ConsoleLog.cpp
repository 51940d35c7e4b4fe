#include "ConsoleLog.h"

#include "BuildInfo.h"
#include "Paths.h"

#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace folvane {

void logLine(const QString& line) {
    // One write per line keeps lines from different threads whole.
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    std::fflush(stderr);
}

void redirectConsoleLogWhenWanted() {
    if (!build::diagnosticLog && qEnvironmentVariable("FOLVANE_CONSOLE_LOG") != QLatin1String("1"))
        return;
    const QString path = paths::consoleLogFile();
    if (!paths::makePrivateFolder(QFileInfo(path).absolutePath()))
        return;
    std::FILE* file = std::fopen(QFile::encodeName(path).constData(), "a+");
    if (!file)
        return;
    ::fchmod(fileno(file), 0600);
    std::fflush(stderr);
    ::dup2(fileno(file), STDERR_FILENO);
    std::fclose(file);
}

} // namespace folvane
