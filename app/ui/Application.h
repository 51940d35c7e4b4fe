#pragma once

#include "GoogleAnalytics.h"
#include "IconFetcher.h"
#include "PreferencesWindow.h"
#include "SiteListWindow.h"
#include "UserPrompts.h"
#include "core/SecretStore.h"
#include "core/SharedPreferences.h"
#include "core/SiteConnections.h"
#include "core/SiteListManager.h"
#include "dialogs/DialogShellPrompts.h"
#include "shell/DeepLinkQueue.h"
#include "shell/StartupSequence.h"
#include "shell/Updater.h"

#include <QMenu>
#include <QObject>
#include <memory>

namespace folvane::shell {
class SingleInstance;
}

namespace folvane::ui {

class StatusItem;

// The running application with its windows: the site list and its connections, the preferences, the status
// item, the start-up checks, deep links, the updater, and the end of every helper at quit.
class Application : public QObject {
    Q_OBJECT
public:
    explicit Application(shell::SingleInstance& instance, QObject* parent = nullptr);
    ~Application() override;

    // Runs the start-up checks; the site list and the windows come once they pass. `deepLink` (may be empty)
    // waits for them. Started at login, the window stays in the tray until the user opens it. The helpers'
    // logs go to standard error only when `showHelperLogs`.
    void start(const QString& deepLink, bool atLogin = false, bool showHelperLogs = false);

private:
    void setupFinished();
    bool atLogin_ = false;
    bool showHelperLogs_ = false;
    void buildMenu();
    void showPreferences();
    void showAbout();
    void toggleUsageData();
    void startAnalytics();
    void quitting();

    shell::SingleInstance& instance_;
    SecretServiceStore secrets_;
    SharedPreferences preferences_;
    GoogleAnalytics analytics_;
    MessageBoxPrompts prompts_;
    IconFetcher icons_;
    // The site list, its connections and the main window come once the start-up
    // checks have passed.
    std::unique_ptr<SiteListManager> sites_;
    std::unique_ptr<SiteConnections> connections_;
    std::unique_ptr<SiteListWindow> window_;
    PreferencesWindow preferencesWindow_;
    shell::DialogShellPrompts shellPrompts_;
    shell::Updater updater_;
    shell::StartupSequence startup_;
    shell::DeepLinkQueue deepLinks_;
    QMenu menu_;
    std::unique_ptr<StatusItem> statusItem_;
};

} // namespace folvane::ui
