#include "Autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace folvane::shell::autostart {

namespace {
// A program path as one argument of an Exec line: quoted, with the characters the quotes do not protect
// escaped.
QString execArgument(const QString& program) {
    QString escaped;
    for (const QChar c : program) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            escaped += u'\\';
        escaped += c;
    }
    // The desktop entry format escapes the backslash itself once more.
    escaped.replace(QStringLiteral("\\"), QStringLiteral("\\\\"));
    return u'"' + escaped + u'"';
}
} // namespace

QString entryPath() {
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!QDir::isAbsolutePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/autostart/folvane3.desktop");
}

bool isOn() {
    return QFileInfo::exists(entryPath());
}

std::optional<QString> set(bool on, const QString& program) {
    const QString path = entryPath();
    if (!on) {
        if (QFile::exists(path) && !QFile::remove(path))
            return QStringLiteral("could not remove %1").arg(path);
        return std::nullopt;
    }
    if (!QDir().mkpath(QFileInfo(path).path()))
        return QStringLiteral("could not make the folder %1").arg(QFileInfo(path).path());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("could not write %1: %2").arg(path, file.errorString());
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Folvane 3\n"
                                         "Comment=Keeps your sites ready in the tray\n"
                                         "Exec=%1 %2\n"
                                         "Icon=folvane3\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(execArgument(program), atLoginArgument);
    file.write(entry.toUtf8());
    if (!file.commit())
        return QStringLiteral("could not write %1: %2").arg(path, file.errorString());
    return std::nullopt;
}

} // namespace folvane::shell::autostart
