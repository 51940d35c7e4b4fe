#pragma once

#include "LoggingInError.h"

#include <QObject>
#include <QString>
#include <memory>
#include <set>

namespace folvane {

class BaseWebsite;
class ConnectionControl;
class SiteListManager;

// What the site list does when the user connects, refreshes or ejects a site, without its widgets: which
// sites are being checked and refreshed, the questions asked first, the alerts, and what the window is to
// show (a notice below the list, a folder to open, a refresh button turning).
class SiteListController : public QObject {
    Q_OBJECT
public:
    // The questions and alerts: the window's dialogs, or a test's answers.
    class Asking {
    public:
        virtual ~Asking() = default;
        virtual void alert(const QString& message, const QString& informativeText) = 0;
        // True when the user chose `acceptText`.
        virtual bool confirm(const QString& message, const QString& informativeText,
                             const QString& acceptText, const QString& rejectText) = 0;
    };

    SiteListController(SiteListManager& sites, ConnectionControl& control, Asking& asking,
                       QObject* parent = nullptr);

    bool isChecking(const QString& title) const { return checking_.contains(title); }
    bool isRefreshing(const QString& title) const { return refreshing_.contains(title); }

    // Checks the site and starts its helper, or opens the volume of a connected one. The check keeps the
    // event loop turning; a second request for the same site meanwhile is ignored.
    void connectSite(const std::shared_ptr<BaseWebsite>& site, ConnectEntryPoint entryPoint);
    // Starts a refresh (the answer names `row`), or offers to cancel the running one, which ejects the site.
    void switchRefreshingStates(const QString& title, int row);
    // Ejects a connected site; while files are unconfirmed it asks first.
    void eject(const QString& title);
    // The site is gone from the list: its refresh is forgotten.
    void forget(const QString& title) { refreshing_.erase(title); }

signals:
    void refreshingChanged(const QString& title, bool refreshing);
    // The text below the list; empty when none is shown.
    void noticeChanged(const QString& text);
    void openFolder(const QString& folder);
    // The site has no stored password: its editor should open so the user can enter one.
    void passwordWanted(const QString& title);

private:
    void stopRefreshing(const QString& title);

    SiteListManager& sites_;
    ConnectionControl& control_;
    Asking& asking_;
    std::set<QString> checking_;
    std::set<QString> refreshing_;
};

} // namespace folvane
