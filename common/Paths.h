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
// $XDG_RUNTIME_DIR/folvane3 for per-session files such as the helpers' locks; the empty text when there is
// no runtime folder (the temporary folder is no place for them: anyone may make a folder there first).
QString runtimeFolder();
// Makes what is missing of `path` readable by this user only: the support folder holds template sources
// (which hold secrets), the site list and the recovered edits. Folders that exist keep their mode: they
// are the user's, or were made private when they were made. False when it could not be made.
bool makePrivateFolder(const QString& path);
// <base>/Recovered/<title>/<UTC date-time>: where kept edits that the site never confirmed go.
QString recoveryFolder(const QString& baseFolder, const QString& title, const QDateTime& when);

} // namespace folvane::paths
