#include "SiteListController.h"

#include "BaseWebsite.h"
#include "ConnectionControl.h"
#include "Paths.h"
#include "SiteListManager.h"

#include <QDir>

namespace folvane {

SiteListController::SiteListController(SiteListManager& sites, ConnectionControl& control, Asking& asking,
                                       QObject* parent)
    : QObject(parent), sites_(sites), control_(control), asking_(asking) {
    connect(&control_, &ConnectionControl::refreshFinished, this,
            [this](const QString& title, int, const QString& notRefreshed) {
                stopRefreshing(title);
                if (!notRefreshed.isEmpty())
                    emit noticeChanged(
                        tr("“%1” was not refreshed: %2. Its files are as they were; try again in a "
                           "moment.")
                            .arg(title, notRefreshed));
            });
    connect(&control_, &ConnectionControl::alreadyConnected, this,
            [this](const QString& title, const QString& mountPoint) {
                emit noticeChanged(
                    tr("“%1” is already connected by another Folvane window or command; its files "
                       "are at %2.")
                        .arg(title, mountPoint));
                if (QDir(mountPoint).exists())
                    emit openFolder(mountPoint);
            });
    connect(&control_, &ConnectionControl::helperEnded, this, [this](const QString& title) {
        const auto site = sites_.siteWithTitle(title);
        if (!site || !site->siteConnection)
            stopRefreshing(title);
    });
}

void SiteListController::connectSite(const std::shared_ptr<BaseWebsite>& site, ConnectEntryPoint entryPoint) {
    if (!site || isChecking(site->cleanName))
        return;
    if (site->siteConnection) {
        const QString mountPoint = QDir::cleanPath(paths::mountPointFor(site->cleanName));
        if (QDir(mountPoint).exists())
            emit openFolder(mountPoint);
        return;
    }
    const QString title = site->cleanName;
    if (!sites_.loadPassword(*site)) {
        asking_.alert(tr("No Password Stored"),
                      tr("Folvane has no password for “%1”. Enter it here, save, and connect again.").arg(title));
        emit passwordWanted(title);
        return;
    }
    emit noticeChanged(QString());
    checking_.insert(title);
    const ConnectOutcome outcome = control_.connectToSite(*site);
    // The helper has its own copy; the next connection reads it again.
    site->password.clear();
    checking_.erase(title);
    if (outcome.kind == ConnectOutcome::Kind::checkFailed && outcome.error)
        asking_.alert(tr("Mount Failed"), alertText(*outcome.error, site->dirtyURL, entryPoint));
    else if (outcome.kind == ConnectOutcome::Kind::launchFailed)
        asking_.alert(tr("Mount Failed"),
                      tr("Folvane could not start its helper program: %1").arg(outcome.launchError));
}

void SiteListController::switchRefreshingStates(const QString& title, int row) {
    const auto site = sites_.siteWithTitle(title);
    if (!site || !site->siteConnection)
        return;
    if (!isRefreshing(title)) {
        emit noticeChanged(QString());
        refreshing_.insert(title);
        emit refreshingChanged(title, true);
        control_.refreshTemplates(*site, row);
        return;
    }
    if (!asking_.confirm(tr("Cancel Template Refreshing?"),
                         tr("Stopping the refreshing of files midway will disrupt behaviour, and the site "
                            "will be ejected."),
                         tr("Yes"), tr("Cancel")))
        return;
    stopRefreshing(title);
    control_.ejectSite(*site);
}

void SiteListController::eject(const QString& title) {
    const auto site = sites_.siteWithTitle(title);
    if (!site || !site->siteConnection)
        return;
    const int pending = site->pendingUploads;
    if (pending > 0 &&
        !asking_.confirm(
            tr("Eject “%1”?").arg(title),
            pending == 1
                ? tr("1 change on the volume has not been confirmed by the site yet. If you eject now, it is "
                     "kept in the folder “Recovered” of Folvane's data folder.")
                : tr("%1 changes on the volume have not been confirmed by the site yet. If you eject now, "
                     "they are kept in the folder “Recovered” of Folvane's data folder.")
                      .arg(pending),
            tr("Eject"), tr("Cancel")))
        return;
    stopRefreshing(title);
    control_.ejectSite(*site);
}

void SiteListController::stopRefreshing(const QString& title) {
    if (refreshing_.erase(title) > 0)
        emit refreshingChanged(title, false);
}

} // namespace folvane
