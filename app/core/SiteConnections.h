#pragma once

#include "ConnectionControl.h"
#include "DesktopNotifier.h"
#include "HttpClient.h"
#include "NotificationBus.h"
#include "PendingFilesWatch.h"
#include "WakeWatcher.h"

#include <QDBusConnection>

namespace folvane {

class SharedPreferences;
class SiteListManager;

// Everything connecting sites takes, composed the one way both front ends (the windows and the command line)
// use it: the notification bus, the HTTP client of the checks, the connection control with its helper
// processes, the watch of the files each helper has not got confirmed, and the wake watch that logs every
// helper in again. Where the notification server shows actions and notifications are on, a finished
// connection is announced with "Open folder".
class SiteConnections {
public:
    SiteConnections(SiteListManager& sites, SharedPreferences& preferences,
                    HelperSetup setup = HelperSetup::standard(),
                    QDBusConnection sessionBus = QDBusConnection::sessionBus(),
                    QDBusConnection systemBus = QDBusConnection::systemBus());

    NotificationBus& bus() { return bus_; }
    ConnectionControl& control() { return control_; }
    PendingFilesWatch& pendingFiles() { return pendingFiles_; }

private:
    void announceConnected(const QString& title, const QString& mountPoint);

    SharedPreferences& preferences_;
    NotificationBus bus_;
    HttpClient http_{applicationRequestLimit};
    DesktopNotifier notifier_;
    ConnectionControl control_;
    PendingFilesWatch pendingFiles_{bus_};
    WakeWatcher wake_;
};

} // namespace folvane
