#include "Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace folvane::paths {

namespace {
QString xdgFolder(const char* variable, const QString& fallbackBelowHome) {
    const QString value = qEnvironmentVariable(variable);
    // A relative XDG value is invalid by the XDG rules and is ignored like an unset one.
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return value;
    return homeFolder() + u'/' + fallbackBelowHome;
}
} // namespace

QString homeFolder() {
    const QString home = qEnvironmentVariable("HOME");
    return home.isEmpty() ? QDir::homePath() : home;
}

QString supportFolder() {
    return xdgFolder("XDG_DATA_HOME", QStringLiteral(".local/share")) + QStringLiteral("/Folvane 3");
}

QString consoleLogFile() {
    return xdgFolder("XDG_STATE_HOME", QStringLiteral(".local/state")) +
           QStringLiteral("/Folvane 3/Logs/FolvaneConsole.log");
}

QString mountRoot() {
    const QString root = qEnvironmentVariable("FOLVANE_MOUNT_ROOT");
    return root.isEmpty() ? homeFolder() + QStringLiteral("/Folvane") : root;
}

bool isSafeMountTitle(const QString& title) {
    return !title.isEmpty() && title != QStringLiteral(".") && title != QStringLiteral("..") &&
           !title.contains(u'/') && !title.contains(QChar(0));
}

QString mountPointFor(const QString& title) {
    return mountRoot() + u'/' + title;
}

bool makePrivateFolder(const QString& path) {
    const QString folder = QDir::cleanPath(path);
    if (QFileInfo(folder).isDir())
        return true;
    const QString parent = QFileInfo(folder).path();
    if (parent != folder && !makePrivateFolder(parent))
        return false;
    // Made with its mode at once (no moment in which others could open it), then set past the umask.
    const QByteArray name = QFile::encodeName(folder);
    if (::mkdir(name.constData(), 0700) == 0)
        return ::chmod(name.constData(), 0700) == 0;
    return QFileInfo(folder).isDir(); // made meanwhile by someone else, such as another helper
}

QString runtimeFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QDir::isAbsolutePath(runtime) && QFileInfo(runtime).isDir()
               ? runtime + QStringLiteral("/folvane3")
               : QString();
}

QString recoveryFolder(const QString& baseFolder, const QString& title, const QDateTime& when) {
    return baseFolder + QStringLiteral("/Recovered/") + title + u'/' +
           when.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH-mm-ss'Z'"));
}

} // namespace folvane::paths
