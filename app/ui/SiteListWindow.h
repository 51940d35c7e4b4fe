#pragma once

#include "SiteListLayout.h"
#include "core/SiteListController.h"
#include "core/SiteListManager.h"

#include <QWidget>
#include <deque>
#include <memory>

namespace folvane {
class BaseWebsite;
class ConnectionControl;
class PendingFilesWatch;
} // namespace folvane

namespace folvane::ui {

class SiteEditor;
class IconFetcher;
class PendingFilesDialog;
class SiteListModel;
class UserPrompts;
class SiteRowWidget;
class SiteListView;

// The main window: the search field, the site list with one row per site, the prompt shown while there is no
// site, the row menu (connect, edit, duplicate, delete) and the site editor. Connecting, refreshing and
// ejecting go through the site list's controller; the rows follow ConnectionControl's signals.
class SiteListWindow : public QWidget, public SiteListManagerDelegate, private SiteListController::Asking {
    Q_OBJECT
public:
    // The turn of a refresh button while its site refreshes.
    static constexpr double refreshTurnSeconds = 2.5;

    SiteListWindow(SiteListManager& sites, ConnectionControl& control, UserPrompts& prompts,
                   IconFetcher& icons, QWidget* parent = nullptr);
    ~SiteListWindow() override;

    // Where the files behind a row's "↑ n" marker come from; without it the marker only counts.
    void setPendingFilesWatch(PendingFilesWatch* watch);
    // The unconfirmed files of a connected site, in their own window.
    void showPendingFiles(const QString& title);
    PendingFilesDialog* pendingFilesDialog() const { return pendingFilesDialog_; }

    // The menu behind the window's menu button (preferences, about, quit …).
    void setApplicationMenu(QMenu* menu);

    // Opens the editor for a new site; an editor already open is only brought to the front.
    void addWebsite();
    void editRowWebsite(int row);
    void editSelectedWebsite();
    void duplicateSelectedWebsite();
    void removeWebsite();
    // Connects the row's site (double click, Return), or opens its volume when it is connected.
    void connectToSite(int row);
    void connectToSelectedSite();
    // The refresh button: starts a refresh, or offers to cancel the running one (which ejects the site).
    void switchRefreshingStates(const QString& title);
    void clickEject(const QString& title);
    void focusOnSearchText();
    void refreshSiteList();
    // Opens the editor for a site that arrived by an "add_site" link; while the editor is open the link
    // waits until it has ended.
    void loadDeepLinkSite(const QString& title, const QString& url, const QString& username);

    std::shared_ptr<BaseWebsite> selectedWebsite() const;

    void didFinishTask(SiteListManager& manager) override;

    SiteListModel& model() const { return *model_; }
    SiteListView* listView() const { return parts_.listView; }
    QLineEdit* searchField() const { return parts_.searchField; }
    QMenu* rowMenu() const { return parts_.rowMenu; }
    SiteEditor* editor() const { return editor_; }
    SiteRowWidget* rowWidgetAt(int row) const;
    bool promptShown() const;
    // The message shown below the list (why a refresh kept the files, a site connected elsewhere); empty
    // when none is shown.
    QString noticeText() const;

private:
    void alert(const QString& message, const QString& informativeText) override;
    bool confirm(const QString& message, const QString& informativeText, const QString& acceptText,
                 const QString& rejectText) override;
    void connectActions();
    void connectSite(const std::shared_ptr<BaseWebsite>& site, ConnectEntryPoint entryPoint);
    void showEditor();
    void raiseEditor();
    // Editing or removing a site whose connection check runs is refused with an alert.
    bool refusedWhileChecking(const BaseWebsite& site);
    void rebuildRowWidgets();
    void restyleRows();
    void showRowMenu(int row, const QPoint& globalPosition);
    void showRefreshing(const QString& title, bool refreshing);
    void showNotice(const QString& text);

    SiteListManager& sites_;
    ConnectionControl& control_;
    UserPrompts& prompts_;
    SiteListModel* model_;
    SiteListLayout parts_;
    SiteListController controller_;
    PendingFilesWatch* pendingFiles_ = nullptr;
    PendingFilesDialog* pendingFilesDialog_ = nullptr;
    SiteEditor* editor_;
    struct DeepLinkSite {
        QString title, url, username;
    };
    std::deque<DeepLinkSite> pendingDeepLinks_;
    QString selectedTitle_;
};

} // namespace folvane::ui
