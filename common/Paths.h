#pragma once

#include <QDateTime>
#include <QString>

// Where both programs keep their files. XDG variables are honoured; each falls back to its usual
// place under HOME when unset or empty.
namespace folvane::paths {

QString homeFolder();
// $XDG_DATA_HOME/Folvane 3: the application's support folder, holds the list and preference files
// and the helpers' mirror folders.
QString supportFolder();
// $XDG_STATE_HOME/Folvane 3/Logs/FolvaneConsole.log
QString consoleLogFile();
// $FOLVANE_MOUNT_ROOT when set and not empty, else ~/Folvane.
QString mountRoot();
// True when the title can be a single path component (and so a mount point name).
bool isSafeMountTitle(const QString& title);
// <mount root>/<title>
QString mountPointFor(const QString& title);
// $XDG_RUNTIME_DIR/folvane3, else a folder of this user's in the temporary folder: per-session files such as
// the helpers' locks.
QString runtimeFolder();
// Makes `path` (and what is missing above it) and leaves it readable by this user only: the support folder
// holds template sources (which hold secrets), the site list and the recovered edits. False when it could
// not be made.
bool makePrivateFolder(const QString& path);
// <base>/Recovered/<title>/<UTC date-time>: where kept edits that the site never confirmed go.
QString recoveryFolder(const QString& baseFolder, const QString& title, const QDateTime& when);

} // namespace folvane::paths
