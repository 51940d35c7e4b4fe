#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

namespace folvane::shell {

// An alert with fixed texts; buttons in the order they are shown, the first being the default.
struct Alert {
    QString message;
    QString informativeText;
    QStringList buttons;
    bool operator==(const Alert&) const = default;
};

// What the shell needs from the user interface: alerts, the progress of the FUSE installation, and the
// desktop's browser. The start-up checks and the updater talk only through this, so they run the same
// with dialogs (app/ui/dialogs/DialogShellPrompts) and under test.
class ShellPrompts {
public:
    virtual ~ShellPrompts() = default;

    // Shows the alert and waits for the user's choice: the index of the button (0 = first). Closing the
    // alert without a button counts as its last button.
    virtual int runAlert(const Alert& alert) = 0;

    // The progress shown while the FUSE package installs; percent -1 means "not known yet".
    virtual void showProgress(const QString& text) = 0;
    virtual void setProgress(int percent) = 0;
    virtual void hideProgress() = 0;

    // Opens an address in the desktop's browser.
    virtual void openUrl(const QUrl& url) = 0;
};

} // namespace folvane::shell
