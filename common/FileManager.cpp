#include "FileManager.h"

#include "ConsoleLog.h"

#include <QProcess>

namespace folvane {

bool showInFileManager(const QString& folder) {
    if (QProcess::startDetached(QStringLiteral("xdg-open"), {folder}))
        return true;
    logLine(QStringLiteral("Could not open the file browser on ") + folder);
    return false;
}

} // namespace folvane
