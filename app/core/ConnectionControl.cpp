#include "ConnectionControl.h"

#include "AddonUrls.h"
#include "BaseWebsite.h"
#include "BusNames.h"
#include "ConsoleLog.h"
#include "HelperProcess.h"
#include "HttpClient.h"
#include "NotificationBus.h"
#include "Paths.h"
#include "SharedPreferences.h"
#include "SiteListManager.h"
#include "TextBool.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>

namespace folvane {

ConnectionState connectionState(const BaseWebsite& site) {
    if (site.siteConnection)
        return site.finishedConnecting ? ConnectionState::connected : ConnectionState::connecting;
    return site.connectingError ? ConnectionState::error : ConnectionState::idle;
}

HelperCommandLine helperCommandLine(const BaseWebsite& site, const SharedPreferences& preferences,
                                    const QString& basePath) {
    // The helper reads the switches' text this way; reading it here gives it the same answers.
    const auto on = [&preferences](const QString& title) {
        return textBoolValue(preferences.strPreferences(title));
    };
    HelperCommandLine commandLine;
    commandLine.typedUrl = site.dirtyURL;
    commandLine.login = site.login;
    commandLine.baseFolder = basePath;
    commandLine.title = site.cleanName;
    commandLine.notifications = on(SharedPreferences::enableNotifications);
    commandLine.openFolder = on(SharedPreferences::openFinderWindowOnConnect);
    commandLine.defaultGroupAlert = on(SharedPreferences::alertDefaultGroupNotSet);
    commandLine.caching = on(SharedPreferences::enableCaching);
    commandLine.usageData = on(SharedPreferences::sendDataUsage);
    commandLine.cleanUrl = site.url;
    commandLine.cms = site.cms;
    return commandLine;
}

HelperSetup HelperSetup::standard() {
    const QString configured = qEnvironmentVariable("FOLVANE_HELPER");
    return {configured.isEmpty()
                ? QCoreApplication::applicationDirPath() + QStringLiteral("/folvane3-fuse-helper")
                : configured,
            QProcessEnvironment::systemEnvironment(), paths::supportFolder()};
}

ConnectionControl::ConnectionControl(SiteListManager& sites, SharedPreferences& preferences,
                                     NotificationBus& bus, HttpClient& http, HelperSetup setup,
                                     QObject* parent)
    : QObject(parent), sites_(sites), preferences_(preferences), bus_(bus), http_(http), check_(http),
      setup_(std::move(setup)) {}

std::optional<LoggingInError> ConnectionControl::tryConnectingToSite(BaseWebsite& site) {
    return check_.tryConnectingToSite(site);
}

ConnectOutcome ConnectionControl::connectToSite(BaseWebsite& site) {
    if (site.siteConnection)
        return {ConnectOutcome::Kind::alreadyConnected, std::nullopt, {}};
    if (const auto error = tryConnectingToSite(site)) {
        site.connectingError = true;
        emit siteStateChanged(site.cleanName);
        return {ConnectOutcome::Kind::checkFailed, error, {}};
    }
    QString launchError;
    std::shared_ptr<HelperProcess> helper = launchHelper(site, &launchError);
    if (!helper)
        return {ConnectOutcome::Kind::launchFailed, std::nullopt, launchError};
    site.siteConnection = helper;
    site.siteConnectionRefresher = std::make_shared<QTimer>();
    connect(site.siteConnectionRefresher.get(), &QTimer::timeout, this,
            [this, url = site.dirtyURL, cms = site.cms] { refreshConnection(url, cms); });
    site.siteConnectionRefresher->start(statusIntervalMs);
    emit siteStateChanged(site.cleanName);
    return {ConnectOutcome::Kind::launched, std::nullopt, {}};
}

std::shared_ptr<HelperProcess> ConnectionControl::launchHelper(BaseWebsite& site, QString* error) {
    // Subscribed before the start, so that no announcement of the new helper can be missed.
    observe(site.cleanName);
    auto helper = std::make_shared<HelperProcess>();
    if (!helper->start(setup_.program, helperCommandLine(site, preferences_, setup_.basePath).arguments(),
                       site.password, setup_.environment, error))
        return nullptr;
    connect(helper.get(), &HelperProcess::said, this,
            [this, title = site.cleanName](const QString& line) { emit helperSaid(title, line); });
    connect(helper.get(), &HelperProcess::ended, this,
            [this, title = site.cleanName, process = helper.get()](std::optional<int> status) {
                const bool asked = endAsked_.erase(process) > 0;
                const auto record = sites_.siteWithTitle(title);
                const bool recorded = record && record->siteConnection.get() == process;
                if (status == HelperCommandLine::exitAlreadyConnected) {
                    if (recorded)
                        endHelper(*record);
                    emit alreadyConnected(title, QDir::cleanPath(paths::mountPointFor(title)));
                } else if (recorded) {
                    // It ended without this program's eject: the error dot shows once, unless the helper
                    // was asked to end (an eject from the command line, a signal).
                    record->connectingError = !asked;
                    endHelper(*record);
                }
                emit helperEnded(title, status);
            });
    return helper;
}

void ConnectionControl::observe(const QString& title) {
    if (!observedTitles_.insert(title).second)
        return;
    bus_.subscribe(bus::named(bus::finishedConnecting, title),
                   [this](const QVariantMap& userInfo) { didFinishConnectingToSite(userInfo); });
    bus_.subscribe(bus::named(bus::connectionTerminated, title),
                   [this](const QVariantMap& userInfo) { connectionToSiteTerminated(userInfo); });
    bus_.subscribe(bus::named(bus::pendingUploads, title),
                   [this](const QVariantMap& userInfo) { pendingUploadsReported(userInfo); });
}

BaseWebsite* ConnectionControl::siteNamedIn(const QVariantMap& userInfo) const {
    const std::optional<QString> title = bus::textIn(userInfo, bus::keyTitle);
    return title ? sites_.siteWithTitle(*title).get() : nullptr;
}

void ConnectionControl::didFinishConnectingToSite(const QVariantMap& userInfo) {
    BaseWebsite* site = siteNamedIn(userInfo);
    if (!site)
        return;
    const bool announced = site->siteConnection && !site->finishedConnecting;
    site->finishedConnecting = true;
    emit siteStateChanged(site->cleanName);
    if (announced)
        emit siteConnected(site->cleanName, QDir::cleanPath(paths::mountPointFor(site->cleanName)));
}

void ConnectionControl::connectionToSiteTerminated(const QVariantMap& userInfo) {
    BaseWebsite* site = siteNamedIn(userInfo);
    // Every helper announces its end, also the one this program ejected: only a recorded helper matters.
    if (!site || !site->siteConnection)
        return;
    // A helper asked to end (from the command line, say) is no failure; it stays recorded until it has
    // unmounted. Only a connected helper can have been asked: one still connecting is a new helper, and
    // the announcement came from the one before it.
    if (bus::textIn(userInfo, bus::keyAskedBy)) {
        if (site->finishedConnecting)
            endAsked_.insert(site->siteConnection.get());
        return;
    }
    site->finishedConnecting = false;
    emit siteTerminated(site->cleanName);
}

void ConnectionControl::pendingUploadsReported(const QVariantMap& userInfo) {
    BaseWebsite* site = siteNamedIn(userInfo);
    const QVariant count = userInfo.value(bus::keyCount);
    if (!site || count.typeId() != QMetaType::Int)
        return;
    site->pendingUploads = count.toInt();
    emit pendingUploadsChanged(site->cleanName, site->pendingUploads);
}

void ConnectionControl::refreshTemplates(const BaseWebsite& site, int row) {
    logLine(QStringLiteral("REFRESHING"));
    const QString title = site.cleanName;
    if (refreshObservedTitles_.insert(title).second)
        bus_.subscribe(bus::named(bus::refreshDone, title), [this, title](const QVariantMap& userInfo) {
            const QVariant answeredRow = userInfo.value(bus::keyRow);
            if (answeredRow.typeId() == QMetaType::Int)
                emit refreshFinished(title, answeredRow.toInt(),
                                     bus::textIn(userInfo, bus::keyNotRefreshed).value_or(QString()));
        });
    bus_.post(bus::named(bus::refresh, title), {{bus::keyRow, row}});
}

int ConnectionControl::ejectSite(BaseWebsite& site) {
    logLine(QStringLiteral("Disconnecting"));
    return endHelper(site);
}

int ConnectionControl::endHelper(BaseWebsite& site) {
    const int pending = site.pendingUploads;
    if (site.siteConnection)
        site.siteConnection->terminate();
    site.siteConnection.reset();
    site.siteConnectionRefresher.reset();
    site.pendingUploads = 0;
    // The next helper has not connected yet: until it says so, the row shows it connecting.
    site.finishedConnecting = false;
    emit siteStateChanged(site.cleanName);
    return pending;
}

void ConnectionControl::terminateAllHelpers(int waitMs) {
    std::vector<std::shared_ptr<HelperProcess>> helpers;
    for (const auto& site : sites_.siteList())
        if (site->siteConnection) {
            helpers.push_back(site->siteConnection);
            logLine(QStringLiteral("disconnecting"));
            endHelper(*site);
        }
    // A helper unmounts and keeps unconfirmed edits before it ends. Were the application to end first, its
    // process objects would kill the helpers outright and leave their volumes behind.
    const auto anyRunning = [&helpers] {
        return std::any_of(helpers.begin(), helpers.end(),
                           [](const auto& helper) { return helper->isRunning(); });
    };
    if (!anyRunning())
        return;
    QEventLoop loop;
    for (const auto& helper : helpers)
        connect(helper.get(), &HelperProcess::ended, &loop, [&] {
            if (!anyRunning())
                loop.quit();
        });
    QTimer::singleShot(waitMs, &loop, &QEventLoop::quit);
    loop.exec();
}

void ConnectionControl::wakeFromSleep() {
    for (const auto& site : sites_.siteList())
        if (site->siteConnection)
            bus_.post(bus::named(bus::newSessionID, site->cleanName));
}

void ConnectionControl::refreshConnection(const QString& url, CMS cms) {
    logLine(QStringLiteral("Refreshing Site Connection"));
    http_.get(actionUrl(url, queryDividerFor(cms), QStringLiteral("status")), [](const HttpAnswer&) {});
}

} // namespace folvane
