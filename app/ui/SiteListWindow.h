#pragma once

#include "core/LoggingInError.h"
#include "core/SiteListManager.h"

#include <QWidget>
#include <deque>
#include <memory>
#include <set>

class QLabel;
class QLineEdit;
class QMenu;
class QAction;
class QStackedWidget;
class QToolButton;

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
// ejecting go through ConnectionControl; the rows follow its signals.
class SiteListWindow : public QWidget, public SiteListManagerDelegate {
    Q_OBJECT
public:
    // The turn of a refresh button while its site refreshes.
    static constexpr double refreshTurnSeconds = 2.5;
    static inline const QString searchPlaceholder = QStringLiteral("Search              ");

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
    SiteListView* listView() const { return listView_; }
    QLineEdit* searchField() const { return searchField_; }
    QMenu* rowMenu() const { return rowMenu_; }
    SiteEditor* editor() const { return editor_; }
    SiteRowWidget* rowWidgetAt(int row) const;
    bool promptShown() const;
    // The message shown below the list (why a refresh kept the files, a site connected elsewhere); empty
    // when none is shown.
    QString noticeText() const;

private:
    void connectSite(const std::shared_ptr<BaseWebsite>& site, ConnectEntryPoint entryPoint);
    void showEditor();
    void raiseEditor();
    // Editing or removing a site whose connection check runs is refused with an alert.
    bool refusedWhileChecking(const BaseWebsite& site);
    void rebuildRowWidgets();
    void restyleRows();
    void showRowMenu(int row, const QPoint& globalPosition);
    void helperEnded(const QString& title);
    void stopRefreshing(const QString& title);
    void showNotice(const QString& text);

    SiteListManager& sites_;
    ConnectionControl& control_;
    UserPrompts& prompts_;
    SiteListModel* model_;
    QLineEdit* searchField_;
    QToolButton* addWebsiteButton_;
    QToolButton* menuButton_;
    QStackedWidget* stack_;
    SiteListView* listView_;
    QWidget* addNewSitePrompt_;
    QLabel* notice_;
    QMenu* rowMenu_;
    QAction* menuConnectButton_;
    QAction* menuEditButton_;
    QAction* menuDuplicateButton_;
    QAction* menuDeleteButton_;
    QAction* menuPendingButton_;
    PendingFilesWatch* pendingFiles_ = nullptr;
    PendingFilesDialog* pendingFilesDialog_ = nullptr;
    SiteEditor* editor_;
    std::set<QString> refreshing_;
    std::set<QString> checking_;
    struct DeepLinkSite {
        QString title, url, username;
    };
    std::deque<DeepLinkSite> pendingDeepLinks_;
    QString selectedTitle_;
};

} // namespace folvane::ui
