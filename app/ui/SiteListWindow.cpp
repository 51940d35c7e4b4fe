#include "SiteListWindow.h"

#include "ConsoleLog.h"
#include "Paths.h"
#include "PendingFilesDialog.h"
#include "RefreshButton.h"
#include "SiteEditor.h"
#include "SiteListModel.h"
#include "SiteListView.h"
#include "SiteRowWidget.h"
#include "UserPrompts.h"
#include "core/BaseWebsite.h"
#include "core/ConnectionControl.h"
#include "core/HelperProcess.h"
#include "core/PendingFilesWatch.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QStackedWidget>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace folvane::ui {

namespace {

QWidget* makePrompt(QWidget* parent, QPushButton* addButton) {
    auto* prompt = new QWidget(parent);
    prompt->setObjectName(QStringLiteral("addNewSitePrompt"));
    prompt->setStyleSheet(QStringLiteral("#addNewSitePrompt { background: #ffffff; }"));
    auto* heading = new QLabel(QObject::tr("No sites yet"), prompt);
    QFont headingFont = heading->font();
    headingFont.setPointSizeF(headingFont.pointSizeF() * 1.3);
    headingFont.setBold(true);
    heading->setFont(headingFont);
    heading->setAlignment(Qt::AlignCenter);
    auto* text =
        new QLabel(QObject::tr("Add the control panel of an ExpressionEngine or WordPress site to work "
                               "on its templates as files."),
                   prompt);
    text->setWordWrap(true);
    text->setAlignment(Qt::AlignCenter);
    text->setStyleSheet(QStringLiteral("QLabel { color: #6b7076; }"));
    auto* layout = new QVBoxLayout(prompt);
    layout->setContentsMargins(40, 0, 40, 0);
    layout->setSpacing(12);
    layout->addStretch(2);
    layout->addWidget(heading);
    layout->addWidget(text);
    layout->addWidget(addButton, 0, Qt::AlignHCenter);
    layout->addStretch(3);
    return prompt;
}

} // namespace

SiteListWindow::SiteListWindow(SiteListManager& sites, ConnectionControl& control, UserPrompts& prompts,
                               IconFetcher& icons, QWidget* parent)
    : QWidget(parent), sites_(sites), control_(control), prompts_(prompts),
      model_(new SiteListModel(sites, this)), searchField_(new QLineEdit(this)),
      addWebsiteButton_(new QToolButton(this)), menuButton_(new QToolButton(this)),
      stack_(new QStackedWidget(this)), listView_(new SiteListView(this)), rowMenu_(new QMenu(this)),
      editor_(new SiteEditor(sites, icons, this)) {
    logLine(QStringLiteral("View Did Load"));
    setWindowTitle(QStringLiteral("Folvane 3"));

    searchField_->setPlaceholderText(searchPlaceholder);
    searchField_->setClearButtonEnabled(true);
    addWebsiteButton_->setText(QStringLiteral("+"));
    addWebsiteButton_->setToolTip(tr("Add a site (Ctrl+N)"));
    menuButton_->setText(QStringLiteral("☰"));
    menuButton_->setToolTip(tr("Menu"));
    menuButton_->setPopupMode(QToolButton::InstantPopup);
    menuButton_->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));
    for (QToolButton* button : {addWebsiteButton_, menuButton_}) {
        button->setAutoRaise(true);
        button->setFixedSize(30, 30);
        QFont font = button->font();
        font.setPointSizeF(font.pointSizeF() * 1.3);
        button->setFont(font);
    }
    menuButton_->hide();

    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(10, 10, 10, 10);
    bar->setSpacing(6);
    bar->addWidget(searchField_, 1);
    bar->addWidget(addWebsiteButton_);
    bar->addWidget(menuButton_);

    listView_->setModel(model_);
    auto* promptButton = new QPushButton(tr("Add a Site…"), this);
    promptButton->setMinimumSize(140, 32);
    addNewSitePrompt_ = makePrompt(this, promptButton);
    stack_->addWidget(listView_);
    stack_->addWidget(addNewSitePrompt_);

    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setStyleSheet(QStringLiteral("QFrame { color: #dcdcdc; }"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(bar);
    layout->addWidget(line);
    layout->addWidget(stack_, 1);
    notice_ = new QLabel(this);
    notice_->setObjectName(QStringLiteral("notice"));
    notice_->setWordWrap(true);
    notice_->setContentsMargins(10, 8, 10, 8);
    notice_->setStyleSheet(QStringLiteral("QLabel { background: #fff6d9; color: #4a3b00; }"));
    notice_->hide();
    layout->addWidget(notice_);

    menuConnectButton_ = rowMenu_->addAction(tr("Connect"), this, &SiteListWindow::connectToSelectedSite);
    menuEditButton_ = rowMenu_->addAction(tr("Edit…"), this, &SiteListWindow::editSelectedWebsite);
    menuDuplicateButton_ =
        rowMenu_->addAction(tr("Duplicate"), this, &SiteListWindow::duplicateSelectedWebsite);
    menuPendingButton_ = rowMenu_->addAction(tr("Unconfirmed Files…"), this, [this] {
        if (const auto site = selectedWebsite())
            showPendingFiles(site->cleanName);
    });
    rowMenu_->addSeparator();
    menuDeleteButton_ = rowMenu_->addAction(tr("Delete…"), this, &SiteListWindow::removeWebsite);

    connect(searchField_, &QLineEdit::textChanged, model_, &SiteListModel::setSearchText);
    connect(addWebsiteButton_, &QToolButton::clicked, this, &SiteListWindow::addWebsite);
    connect(promptButton, &QPushButton::clicked, this, &SiteListWindow::addWebsite);
    connect(listView_, &SiteListView::menuRequested, this, &SiteListWindow::showRowMenu);
    connect(listView_, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex& index) { connectToSite(index.row()); });
    connect(new QShortcut(QKeySequence(Qt::Key_Return), listView_, nullptr, nullptr, Qt::WidgetShortcut),
            &QShortcut::activated, this, [this] { connectToSite(listView_->currentIndex().row()); });
    connect(new QShortcut(QKeySequence::Delete, listView_, nullptr, nullptr, Qt::WidgetShortcut),
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
    connect(listView_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
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
    connect(&control_, &ConnectionControl::refreshFinished, this,
            [this](const QString& title, int, const QString& notRefreshed) {
                stopRefreshing(title);
                if (!notRefreshed.isEmpty())
                    showNotice(tr("“%1” was not refreshed: %2. Its files are as they were; try again in a "
                                  "moment.")
                                   .arg(title, notRefreshed));
            });
    connect(&control_, &ConnectionControl::alreadyConnected, this,
            [this](const QString& title, const QString& mountPoint) {
                showNotice(tr("“%1” is already connected by another Folvane window or command; its files "
                              "are at %2.")
                               .arg(title, mountPoint));
                if (QDir(mountPoint).exists())
                    QDesktopServices::openUrl(QUrl::fromLocalFile(mountPoint));
            });
    connect(&control_, &ConnectionControl::helperEnded, this,
            [this](const QString& title, std::optional<int>) { helperEnded(title); });

    sites_.delegate = this;
    rebuildRowWidgets();
    resize(420, 540);
    setMinimumSize(340, 360);
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
    menuButton_->setMenu(menu);
    menuButton_->setVisible(menu != nullptr);
}

void SiteListWindow::didFinishTask(SiteListManager&) {
    refreshSiteList();
}

void SiteListWindow::refreshSiteList() {
    model_->refreshSiteList();
}

bool SiteListWindow::promptShown() const {
    return stack_->currentWidget() == addNewSitePrompt_;
}

SiteRowWidget* SiteListWindow::rowWidgetAt(int row) const {
    return qobject_cast<SiteRowWidget*>(listView_->indexWidget(model_->index(row)));
}

std::shared_ptr<BaseWebsite> SiteListWindow::selectedWebsite() const {
    const QModelIndexList selected = listView_->selectionModel()->selectedRows();
    return selected.isEmpty() ? nullptr : model_->siteAt(selected.first().row());
}

void SiteListWindow::rebuildRowWidgets() {
    stack_->setCurrentWidget(model_->allItems().empty() ? addNewSitePrompt_ : listView_);
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
        if (refreshing_.contains(title))
            rowWidget->refreshButton()->spinClockwise(refreshTurnSeconds);
        listView_->setIndexWidget(model_->index(row), rowWidget);
    }
    const int selectedRow = model_->filteredPositionOfSite(selectedTitle_);
    if (!selectedTitle_.isEmpty() && selectedRow >= 0)
        listView_->setCurrentIndex(model_->index(selectedRow));
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
    const bool checking = checking_.contains(site->cleanName);
    menuEditButton_->setEnabled(!site->siteConnection && !checking);
    menuDeleteButton_->setEnabled(!checking);
    menuConnectButton_->setText(site->siteConnection ? tr("Open Folder") : tr("Connect"));
    menuPendingButton_->setVisible(pendingFiles_ && site->siteConnection);
    rowMenu_->popup(globalPosition);
}

void SiteListWindow::focusOnSearchText() {
    searchField_->setFocus(Qt::ShortcutFocusReason);
    searchField_->selectAll();
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
    if (!checking_.contains(site.cleanName))
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
    const QModelIndexList selected = listView_->selectionModel()->selectedRows();
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
        refreshing_.erase(site->cleanName);
    refreshSiteList();
}

void SiteListWindow::connectToSite(int row) {
    connectSite(model_->siteAt(row), ConnectEntryPoint::connectToSite);
}

void SiteListWindow::connectToSelectedSite() {
    connectSite(selectedWebsite(), ConnectEntryPoint::connectToSelectedSite);
}

void SiteListWindow::connectSite(const std::shared_ptr<BaseWebsite>& site, ConnectEntryPoint entryPoint) {
    if (!site || checking_.contains(site->cleanName))
        return;
    if (site->siteConnection) {
        const QString mountPoint = QDir::cleanPath(paths::mountPointFor(site->cleanName));
        if (QDir(mountPoint).exists())
            QDesktopServices::openUrl(QUrl::fromLocalFile(mountPoint));
        return;
    }
    const QString title = site->cleanName;
    if (!sites_.loadPassword(*site)) {
        prompts_.alert(
            this, tr("No Password Stored"),
            tr("Folvane has no password for “%1”. Enter it here, save, and connect again.").arg(title));
        editRowWebsite(model_->filteredPositionOfSite(title));
        return;
    }
    // The check keeps the event loop turning; a second request for the same site meanwhile is ignored.
    notice_->hide();
    checking_.insert(title);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    const ConnectOutcome outcome = control_.connectToSite(*site);
    // The helper has its own copy; the next connection reads it again.
    site->password.clear();
    QApplication::restoreOverrideCursor();
    checking_.erase(title);
    if (outcome.kind == ConnectOutcome::Kind::checkFailed && outcome.error)
        prompts_.alert(this, tr("Mount Failed"), alertText(*outcome.error, site->dirtyURL, entryPoint));
    else if (outcome.kind == ConnectOutcome::Kind::launchFailed)
        prompts_.alert(this, tr("Mount Failed"),
                       tr("Folvane could not start its helper program: %1").arg(outcome.launchError));
}

void SiteListWindow::switchRefreshingStates(const QString& title) {
    const int row = model_->filteredPositionOfSite(title);
    const auto site = model_->siteAt(row);
    if (!site || !site->siteConnection)
        return;
    if (!refreshing_.contains(title)) {
        notice_->hide();
        refreshing_.insert(title);
        if (SiteRowWidget* rowWidget = rowWidgetAt(row))
            rowWidget->refreshButton()->spinClockwise(refreshTurnSeconds);
        control_.refreshTemplates(*site, row);
        return;
    }
    if (!prompts_.confirm(
            this, tr("Cancel Template Refreshing?"),
            tr("Stopping the refreshing of files midway will disrupt behaviour, and the site will "
               "be ejected."),
            tr("Yes"), tr("Cancel")))
        return;
    stopRefreshing(title);
    control_.ejectSite(*site);
}

void SiteListWindow::showNotice(const QString& text) {
    notice_->setText(text);
    notice_->show();
}

QString SiteListWindow::noticeText() const {
    return notice_->isHidden() ? QString() : notice_->text();
}

void SiteListWindow::stopRefreshing(const QString& title) {
    refreshing_.erase(title);
    if (SiteRowWidget* rowWidget = rowWidgetAt(model_->filteredPositionOfSite(title)))
        rowWidget->refreshButton()->stopAnimations();
}

void SiteListWindow::clickEject(const QString& title) {
    const auto site = sites_.siteWithTitle(title);
    if (!site || !site->siteConnection)
        return;
    if (site->pendingUploads > 0 &&
        !prompts_.confirm(
            this, tr("Eject “%1”?").arg(title),
            tr("%n change(s) on the volume have not been confirmed by the site yet. If you eject "
               "now, they are kept in the folder “Recovered” of Folvane's data folder.",
               nullptr, site->pendingUploads),
            tr("Eject"), tr("Cancel")))
        return;
    stopRefreshing(title);
    control_.ejectSite(*site);
}

// A helper that ended by itself (mount failure, volume unmounted from outside) leaves its site idle, so it
// can be connected again; the row shows the error dot once.
void SiteListWindow::helperEnded(const QString& title) {
    const auto site = sites_.siteWithTitle(title);
    if (!site || !site->siteConnection || site->siteConnection->isRunning())
        return;
    stopRefreshing(title);
    site->connectingError = true;
    control_.ejectSite(*site);
}

} // namespace folvane::ui
