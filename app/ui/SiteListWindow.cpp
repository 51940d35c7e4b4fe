#include "SiteListWindow.h"

#include "ConsoleLog.h"
#include "PendingFilesDialog.h"
#include "RefreshButton.h"
#include "SiteEditor.h"
#include "SiteListModel.h"
#include "SiteListView.h"
#include "SiteRowWidget.h"
#include "UserPrompts.h"
#include "core/BaseWebsite.h"
#include "core/ConnectionControl.h"
#include "core/PendingFilesWatch.h"

#include <QApplication>
#include <QDesktopServices>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QStackedWidget>
#include <QToolButton>
#include <QUrl>

namespace folvane::ui {

SiteListWindow::SiteListWindow(SiteListManager& sites, ConnectionControl& control, UserPrompts& prompts,
                               IconFetcher& icons, QWidget* parent)
    : QWidget(parent), sites_(sites), control_(control), prompts_(prompts),
      model_(new SiteListModel(sites, this)), parts_(SiteListLayout::build(*this)),
      controller_(sites, control, *this), editor_(new SiteEditor(sites, icons, this)) {
    logLine(QStringLiteral("View Did Load"));
    setWindowTitle(QStringLiteral("Folvane 3"));
    parts_.listView->setModel(model_);
    connectActions();
    sites_.delegate = this;
    rebuildRowWidgets();
    resize(420, 540);
    setMinimumSize(340, 360);
}

void SiteListWindow::connectActions() {
    connect(parts_.menuConnectButton, &QAction::triggered, this, &SiteListWindow::connectToSelectedSite);
    connect(parts_.menuEditButton, &QAction::triggered, this, &SiteListWindow::editSelectedWebsite);
    connect(parts_.menuDuplicateButton, &QAction::triggered, this, &SiteListWindow::duplicateSelectedWebsite);
    connect(parts_.menuPendingButton, &QAction::triggered, this, [this] {
        if (const auto site = selectedWebsite())
            showPendingFiles(site->cleanName);
    });
    connect(parts_.menuDeleteButton, &QAction::triggered, this, &SiteListWindow::removeWebsite);

    SiteListView* list = parts_.listView;
    connect(parts_.searchField, &QLineEdit::textChanged, model_, &SiteListModel::setSearchText);
    connect(parts_.addWebsiteButton, &QToolButton::clicked, this, &SiteListWindow::addWebsite);
    connect(parts_.promptButton, &QPushButton::clicked, this, &SiteListWindow::addWebsite);
    connect(list, &SiteListView::menuRequested, this, &SiteListWindow::showRowMenu);
    connect(list, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex& index) { connectToSite(index.row()); });
    connect(new QShortcut(QKeySequence(Qt::Key_Return), list, nullptr, nullptr, Qt::WidgetShortcut),
            &QShortcut::activated, this, [this, list] { connectToSite(list->currentIndex().row()); });
    connect(new QShortcut(QKeySequence::Delete, list, nullptr, nullptr, Qt::WidgetShortcut),
            &QShortcut::activated, this, &SiteListWindow::removeWebsite);
    connect(new QShortcut(QKeySequence::Find, this), &QShortcut::activated, this,
            &SiteListWindow::focusOnSearchText);
    connect(new QShortcut(QKeySequence::New, this), &QShortcut::activated, this, &SiteListWindow::addWebsite);

    // The rows are rebuilt on every redraw; the selection follows the site, not the row number.
    connect(model_, &QAbstractItemModel::modelAboutToBeReset, this, [this] {
        const auto site = selectedWebsite();
        selectedTitle_ = site ? site->cleanName : QString();
    });
    connect(model_, &QAbstractItemModel::modelReset, this, &SiteListWindow::rebuildRowWidgets);
    connect(model_, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& first, const QModelIndex& last) {
                for (int row = first.row(); row <= last.row(); ++row)
                    if (SiteRowWidget* rowWidget = rowWidgetAt(row)) {
                        rowWidget->showState(model_->stateAt(row));
                        rowWidget->showPendingUploads(
                            model_->siteAt(row)->siteConnection ? model_->siteAt(row)->pendingUploads : 0);
                    }
            });
    connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &SiteListWindow::restyleRows);

    connect(editor_, &QDialog::finished, this, [this](int code) {
        if (code == 1)
            refreshSiteList();
        if (!pendingDeepLinks_.empty()) {
            const DeepLinkSite next = pendingDeepLinks_.front();
            pendingDeepLinks_.pop_front();
            loadDeepLinkSite(next.title, next.url, next.username);
        }
    });
    connect(&control_, &ConnectionControl::siteStateChanged, model_, &SiteListModel::redraw);
    connect(&control_, &ConnectionControl::siteTerminated, model_, &SiteListModel::showTerminated);
    connect(&control_, &ConnectionControl::pendingUploadsChanged, model_,
            [this](const QString& title, int) { model_->siteChanged(title); });
    connect(&controller_, &SiteListController::refreshingChanged, this, &SiteListWindow::showRefreshing);
    connect(&controller_, &SiteListController::noticeChanged, this, &SiteListWindow::showNotice);
    connect(&controller_, &SiteListController::openFolder, this,
            [](const QString& folder) { QDesktopServices::openUrl(QUrl::fromLocalFile(folder)); });
    connect(&controller_, &SiteListController::passwordWanted, this,
            [this](const QString& title) { editRowWebsite(model_->filteredPositionOfSite(title)); });
}

SiteListWindow::~SiteListWindow() {
    if (sites_.delegate == this)
        sites_.delegate = nullptr;
}

void SiteListWindow::setPendingFilesWatch(PendingFilesWatch* watch) {
    pendingFiles_ = watch;
    // A list from a helper that has ended would only mislead.
    connect(&control_, &ConnectionControl::siteStateChanged, this, [this](const QString& title) {
        const auto site = sites_.siteWithTitle(title);
        if (pendingFiles_ && (!site || !site->siteConnection))
            pendingFiles_->forget(title);
    });
}

void SiteListWindow::showPendingFiles(const QString& title) {
    const auto site = sites_.siteWithTitle(title);
    if (!pendingFiles_ || !site || !site->siteConnection)
        return;
    if (!pendingFilesDialog_)
        pendingFilesDialog_ = new PendingFilesDialog(*pendingFiles_, this);
    pendingFilesDialog_->showSite(title);
    pendingFilesDialog_->show();
    pendingFilesDialog_->raise();
}

void SiteListWindow::setApplicationMenu(QMenu* menu) {
    parts_.menuButton->setMenu(menu);
    parts_.menuButton->setVisible(menu != nullptr);
}

void SiteListWindow::didFinishTask(SiteListManager&) {
    refreshSiteList();
}

void SiteListWindow::refreshSiteList() {
    model_->refreshSiteList();
}

bool SiteListWindow::promptShown() const {
    return parts_.stack->currentWidget() == parts_.addNewSitePrompt;
}

SiteRowWidget* SiteListWindow::rowWidgetAt(int row) const {
    return qobject_cast<SiteRowWidget*>(parts_.listView->indexWidget(model_->index(row)));
}

std::shared_ptr<BaseWebsite> SiteListWindow::selectedWebsite() const {
    const QModelIndexList selected = parts_.listView->selectionModel()->selectedRows();
    return selected.isEmpty() ? nullptr : model_->siteAt(selected.first().row());
}

void SiteListWindow::rebuildRowWidgets() {
    parts_.stack->setCurrentWidget(model_->allItems().empty() ? parts_.addNewSitePrompt : parts_.listView);
    for (int row = 0; row < model_->rowCount(); ++row) {
        const std::shared_ptr<BaseWebsite> site = model_->siteAt(row);
        auto* rowWidget = new SiteRowWidget;
        rowWidget->showSite(*site, model_->stateAt(row));
        const QString title = site->cleanName;
        connect(rowWidget, &SiteRowWidget::editClicked, this,
                [this, title] { editRowWebsite(model_->filteredPositionOfSite(title)); });
        connect(rowWidget, &SiteRowWidget::ejectClicked, this, [this, title] { clickEject(title); });
        connect(rowWidget, &SiteRowWidget::refreshClicked, this,
                [this, title] { switchRefreshingStates(title); });
        connect(rowWidget, &SiteRowWidget::pendingClicked, this, [this, title] { showPendingFiles(title); });
        if (controller_.isRefreshing(title))
            rowWidget->refreshButton()->spinClockwise(refreshTurnSeconds);
        parts_.listView->setIndexWidget(model_->index(row), rowWidget);
    }
    const int selectedRow = model_->filteredPositionOfSite(selectedTitle_);
    if (!selectedTitle_.isEmpty() && selectedRow >= 0)
        parts_.listView->setCurrentIndex(model_->index(selectedRow));
    restyleRows();
}

void SiteListWindow::restyleRows() {
    const auto selected = selectedWebsite();
    for (int row = 0; row < model_->rowCount(); ++row)
        if (SiteRowWidget* rowWidget = rowWidgetAt(row))
            rowWidget->setRowSelected(selected && model_->siteAt(row) == selected);
}

void SiteListWindow::showRowMenu(int row, const QPoint& globalPosition) {
    const auto site = model_->siteAt(row);
    if (!site)
        return;
    // A connected site keeps its title and address while its volume is mounted; a site being checked stays
    // until its check has ended.
    const bool checking = controller_.isChecking(site->cleanName);
    parts_.menuEditButton->setEnabled(!site->siteConnection && !checking);
    parts_.menuDeleteButton->setEnabled(!checking);
    parts_.menuConnectButton->setText(site->siteConnection ? tr("Open Folder") : tr("Connect"));
    parts_.menuPendingButton->setVisible(pendingFiles_ && site->siteConnection);
    parts_.rowMenu->popup(globalPosition);
}

void SiteListWindow::focusOnSearchText() {
    parts_.searchField->setFocus(Qt::ShortcutFocusReason);
    parts_.searchField->selectAll();
}

void SiteListWindow::showEditor() {
    editor_->open();
    raiseEditor();
}

void SiteListWindow::raiseEditor() {
    editor_->raise();
    editor_->activateWindow();
}

bool SiteListWindow::refusedWhileChecking(const BaseWebsite& site) {
    if (!controller_.isChecking(site.cleanName))
        return false;
    prompts_.alert(this, tr("“%1” Is Being Checked").arg(site.cleanName),
                   tr("Folvane is checking this site before connecting it. Edit or remove it once the check "
                      "has ended."));
    return true;
}

void SiteListWindow::addWebsite() {
    // An open sheet keeps what the user entered, including a save under way.
    if (editor_->isVisible()) {
        raiseEditor();
        return;
    }
    editor_->prepareToAdd(model_->rowCount());
    showEditor();
}

void SiteListWindow::editRowWebsite(int row) {
    const auto site = model_->siteAt(row);
    // The check goes on with the listed record, which a stored edit would replace.
    if (!site || site->siteConnection || refusedWhileChecking(*site))
        return;
    editor_->prepareToEdit(*site, model_->listPositionOfRow(row));
    showEditor();
}

void SiteListWindow::editSelectedWebsite() {
    const QModelIndexList selected = parts_.listView->selectionModel()->selectedRows();
    if (!selected.isEmpty())
        editRowWebsite(selected.first().row());
}

void SiteListWindow::loadDeepLinkSite(const QString& title, const QString& url, const QString& username) {
    // The sheet in use is not taken away; the link opens once it has ended.
    if (editor_->isVisible()) {
        pendingDeepLinks_.push_back({title, url, username});
        raiseEditor();
        return;
    }
    editor_->prepareDeepLink(title, url, username, model_->rowCount());
    showEditor();
}

void SiteListWindow::duplicateSelectedWebsite() {
    const auto site = selectedWebsite();
    if (!site)
        return;
    BaseWebsite original = *site;
    sites_.loadPassword(original);
    if (!sites_.addNewSite(duplicateSite(original, sites_.siteList())))
        prompts_.alert(this, tr("Duplicating Site Failed"), sites_.lastError());
    refreshSiteList();
}

void SiteListWindow::removeWebsite() {
    const auto site = selectedWebsite();
    if (!site || refusedWhileChecking(*site))
        return;
    bool confirmed = false;
    sites_.dialogDelete = [this, &confirmed](const QString& question, const QString& text) {
        confirmed = prompts_.confirm(this, question, text, tr("Delete"), tr("Cancel"));
        return confirmed;
    };
    const bool removed = sites_.removeSite(*site);
    sites_.dialogDelete = nullptr;
    if (!removed && confirmed)
        prompts_.alert(this, tr("Removing Site Failed"), sites_.lastError());
    if (removed)
        controller_.forget(site->cleanName);
    refreshSiteList();
}

void SiteListWindow::connectToSite(int row) {
    connectSite(model_->siteAt(row), ConnectEntryPoint::connectToSite);
}

void SiteListWindow::connectToSelectedSite() {
    connectSite(selectedWebsite(), ConnectEntryPoint::connectToSelectedSite);
}

void SiteListWindow::connectSite(const std::shared_ptr<BaseWebsite>& site, ConnectEntryPoint entryPoint) {
    QApplication::setOverrideCursor(Qt::BusyCursor);
    controller_.connectSite(site, entryPoint);
    QApplication::restoreOverrideCursor();
}

void SiteListWindow::switchRefreshingStates(const QString& title) {
    controller_.switchRefreshingStates(title, model_->filteredPositionOfSite(title));
}

void SiteListWindow::clickEject(const QString& title) {
    controller_.eject(title);
}

void SiteListWindow::showRefreshing(const QString& title, bool refreshing) {
    SiteRowWidget* rowWidget = rowWidgetAt(model_->filteredPositionOfSite(title));
    if (!rowWidget)
        return;
    if (refreshing)
        rowWidget->refreshButton()->spinClockwise(refreshTurnSeconds);
    else
        rowWidget->refreshButton()->stopAnimations();
}

void SiteListWindow::showNotice(const QString& text) {
    parts_.notice->setText(text);
    parts_.notice->setHidden(text.isEmpty());
}

QString SiteListWindow::noticeText() const {
    return parts_.notice->isHidden() ? QString() : parts_.notice->text();
}

void SiteListWindow::alert(const QString& message, const QString& informativeText) {
    prompts_.alert(this, message, informativeText);
}

bool SiteListWindow::confirm(const QString& message, const QString& informativeText,
                             const QString& acceptText, const QString& rejectText) {
    return prompts_.confirm(this, message, informativeText, acceptText, rejectText);
}

} // namespace folvane::ui
