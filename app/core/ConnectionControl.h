#pragma once

#include "Cms.h"
#include "ConnectionCheck.h"
#include "HelperCommandLine.h"
#include "LoggingInError.h"

#include <QObject>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <set>

namespace folvane {

class BaseWebsite;
class HelperProcess;
class HttpClient;
class NotificationBus;
class SharedPreferences;
class SiteListManager;

// How a site's row is shown, in order of precedence: a recorded helper that has not announced itself
// yet, one that has, a failed check (shown once), otherwise idle.
enum class ConnectionState { connecting, connected, error, idle };
ConnectionState connectionState(const BaseWebsite& site);

// The helper's command line for a site; its password goes to the helper's standard input.
HelperCommandLine helperCommandLine(const BaseWebsite& site, const SharedPreferences& preferences,
                                    const QString& basePath);

// What starting helpers needs from the machine.
struct HelperSetup {
    QString program;                 // the helper executable
    QProcessEnvironment environment; // the helper's environment
    QString basePath;                // the support folder; the helper keeps its mirror below it
    // $FOLVANE_HELPER when set, else folvane3-fuse-helper next to this program; this process's
    // environment; the support folder.
    static HelperSetup standard();
};

// The helper reports how many of its uploads the site has not confirmed yet: {"title", "count"}.

struct ConnectOutcome {
    enum class Kind { alreadyConnected, checkFailed, launchFailed, launched };
    Kind kind;
    std::optional<LoggingInError> error; // checkFailed
    QString launchError;                 // launchFailed
};

// The application side of a connection: the check, the helper's start, its announcements on the bus,
// the periodic status request that keeps the add-on session warm, re-login after the screens wake,
// refresh and eject. Per site the state lives in its record (siteConnection, finishedConnecting,
// connectingError, pendingUploads).
class ConnectionControl : public QObject {
    Q_OBJECT
public:
    ConnectionControl(SiteListManager& sites, SharedPreferences& preferences, NotificationBus& bus,
                      HttpClient& http, HelperSetup setup = HelperSetup::standard(),
                      QObject* parent = nullptr);

    // Checks the site and, when it passes, starts its helper and the status timer.
    ConnectOutcome connectToSite(BaseWebsite& site);
    std::optional<LoggingInError> tryConnectingToSite(BaseWebsite& site);
    // Starts the helper; nothing (with `error` set) when it does not run.
    std::shared_ptr<HelperProcess> launchHelper(BaseWebsite& site, QString* error = nullptr);

    // Asks the site's helper to download the templates again; refreshFinished() tells the answer.
    void refreshTemplates(const BaseWebsite& site, int row);
    // Ends the site's helper and its status timer. Returns the uploads the helper still had pending.
    int ejectSite(BaseWebsite& site);
    // Quitting: ends every running helper and waits (at most waitMs) until they have unmounted, so no volume
    // outlives the application.
    void terminateAllHelpers(int waitMs = 30'000);
    // Every connected helper logs in again.
    void wakeFromSleep();
    // The status timer's request for one site; its answer is not read.
    void refreshConnection(const QString& url, CMS cms);

    // Period of the status request of a connected site.
    int statusIntervalMs = 1200 * 1000;

signals:
    void siteStateChanged(const QString& title);
    // A recorded helper announced that it connected: its volume is at `mountPoint`.
    void siteConnected(const QString& title, const QString& mountPoint);
    // A recorded helper announced an end it was not asked for ("connection-terminated-"); the row shows the
    // error dot.
    void siteTerminated(const QString& title);
    // The helper answered a refresh; `notRefreshed` is empty when the volume is up to date with the site,
    // else why the helper kept it as it was.
    void refreshFinished(const QString& title, int row, const QString& notRefreshed);
    // The helper started for the site ended at once because another one serves the title: the site is
    // connected already (by another folvane3), its volume at `mountPoint`. Its record here is idle again.
    void alreadyConnected(const QString& title, const QString& mountPoint);
    void pendingUploadsChanged(const QString& title, int count);
    // One line of the log of the site's helper.
    void helperSaid(const QString& title, const QString& line);
    // The helper process ended: its exit status, or none when a signal ended it. A recorded helper that ended
    // by itself has left its site idle by then, with the error dot unless it was asked to end.
    void helperEnded(const QString& title, std::optional<int> exitStatus);

private:
    void observe(const QString& title);
    void didFinishConnectingToSite(const QVariantMap& userInfo);
    void connectionToSiteTerminated(const QVariantMap& userInfo);
    void pendingUploadsReported(const QVariantMap& userInfo);
    // Ends the site's helper and status timer; returns the uploads it still had pending.
    int endHelper(BaseWebsite& site);
    BaseWebsite* siteNamedIn(const QVariantMap& userInfo) const;

    SiteListManager& sites_;
    SharedPreferences& preferences_;
    NotificationBus& bus_;
    HttpClient& http_;
    ConnectionCheck check_;
    HelperSetup setup_;
    std::set<QString> observedTitles_;
    std::set<QString> refreshObservedTitles_;
    std::set<const HelperProcess*> endAsked_; // announced that they were asked to end
};

} // namespace folvane
