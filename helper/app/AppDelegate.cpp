#include "AppDelegate.h"

#include "AnswerWait.h"
#include "BusNames.h"
#include "ConsoleLog.h"
#include "DesktopNotifier.h"
#include "GoogleAnalytics.h"
#include "NotificationBus.h"
#include "Paths.h"
#include "addon/HttpClient.h"
#include "addon/SiteConnectionHelper.h"
#include "fs/LoopbackFS.h"
#include "fs/MountSession.h"
#include "fs/VolumeEventQueue.h"
#include "sync/FileSync.h"
#include "sync/FolderSync.h"
#include "sync/Recovery.h"
#include "sync/TemplateRefresh.h"
#include "tree/JSONParser.h"
#include "tree/WebsiteInUse.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace folvane {

namespace {
constexpr int shutdownGraceMs = 3000;
}

namespace {
// One line per event: its full name, then its payload as compact JSON.
void logEvent(const QString& name, const QVariantMap& userInfo) {
    logLine(name + u' ' +
            QString::fromUtf8(
                QJsonDocument(QJsonObject::fromVariantMap(userInfo)).toJson(QJsonDocument::Compact)));
}
} // namespace

AppDelegate::AppDelegate(HelperArguments args, WebsiteInUse& site, QObject* parent)
    : QObject(parent), args_(std::move(args)), site_(site), http_(std::make_unique<HttpClient>()),
      bus_(std::make_unique<NotificationBus>()), notifier_(std::make_unique<DesktopNotifier>()),
      analytics_(std::make_unique<GoogleAnalytics>()) {}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching() {
    redirectConsoleLogWhenWanted();

    site_.url = args_.url;
    site_.dirtyURL = args_.dirtyURL;
    site_.cleanName = args_.title;
    site_.login = args_.login;
    site_.password = args_.password;
    baseURL = QDir::cleanPath(args_.baseFolder);
    site_.cachedFolderName = stableHashText(args_.title.isEmpty() ? args_.url : args_.title);
    site_.cms = cmsFromTag(args_.cmsTag);
    if (args_.usageData) {
        logLine(QStringLiteral("on"));
        analytics_->startGoogleAnalytics(StartEvent::connect(cmsName(site_.cms)));
    }
    openFinderBool = args_.openFinder;

    connectionHelper = std::make_unique<SiteConnectionHelper>(args_.all, site_, *http_, *bus_, *notifier_);

    logLine(QStringLiteral("Starting JSON init"));
    std::shared_ptr<Json> templates = connectionHelper->requestSite();
    if (terminating_)
        return;
    if (!templates) {
        logLine(QStringLiteral("Could not log in to ") + args_.url + QStringLiteral("; ending"));
        terminate(1);
        return;
    }
    JSONParserInstance = std::make_unique<JSONParser>(std::move(templates), baseURL, site_);
    logLine(QStringLiteral("Parsing"));
    JSONParserInstance->startParser();
    // Nothing reads the list once the tree stands; a large site's list is worth giving back.
    JSONParserInstance->setJSON(nullptr);
    connectionHelper->templateJSON.reset();
    const auto [groups, files] = site_.withDictionaries([](const PathDictionaries& d) {
        return std::pair{d.folderDictionary.size(), d.fileDictionary.size()};
    });
    logLine(QStringLiteral("Found %1 template groups and %2 templates in %3")
                .arg(groups)
                .arg(files)
                .arg(mirrorFolder()));

    mount();
    startSynchronising();
    setUpNotifications();
}

void AppDelegate::startSynchronising() {
    const QString title = site_.title();
    fileSync_ = std::make_unique<FileSync>(site_, *connectionHelper, mirrorFolder());
    connect(fileSync_.get(), &FileSync::pendingCountChanged, this, [this, title](int count) {
        bus_->post(bus::named(bus::pendingUploads, title), {{bus::keyTitle, title}, {bus::keyCount, count}});
    });
    folderSync_ = std::make_unique<FolderSync>(site_, *connectionHelper, *fileSync_, mirrorFolder());
    fileSync_->deferUntilGroupReady = [this](quint64 order, const QString& folder,
                                             std::function<void()> then) {
        return folderSync_->deferUntilGroupReady(order, folder, std::move(then));
    };
    recovery_ = std::make_unique<Recovery>(baseURL, title, mirrorFolder(), *notifier_);
    templateRefresh_ = std::make_unique<TemplateRefresh>(site_, *connectionHelper, *JSONParserInstance,
                                                         *fileSync_, *recovery_, *bus_, mirrorFolder());
    const auto invalidate = [this](const QString& volumePath) {
        if (!fs_)
            return;
        if (volumePath.isEmpty())
            fs_->refreshMount();
        else
            fs_->invalidate(volumePath);
    };
    folderSync_->invalidate = invalidate;
    templateRefresh_->invalidate = invalidate;
    fileSync_->recordPathOf = [this](const QString& path) { return folderSync_->recordPathOf(path); };
    templateRefresh_->changesPending = [this] {
        return fileSync_->pendingCount() > 0 || folderSync_->hasPendingChanges();
    };
    fsEvents_->setReceiver(this);
}

void AppDelegate::mount() {
    const QString title = site_.title();
    fsEvents_ = std::make_unique<VolumeEventQueue>();
    LoopbackFS::CachePolicy cache;
    cache.keepPageCache = connectionHelper->cachingBool;
    loop_ = std::make_unique<LoopbackFS>(mirrorFolder(), *fsEvents_, cache);
    fs_ = std::make_unique<MountSession>(*loop_, title, paths::mountPointFor(title));
    connect(fs_.get(), &MountSession::mounted, this, &AppDelegate::didMount);
    connect(fs_.get(), &MountSession::mountFailed, this, &AppDelegate::mountFailed);
    connect(fs_.get(), &MountSession::unmountedFromOutside, this, &AppDelegate::didUnmount);
    fs_->mount();
}

void AppDelegate::refreshMount() {
    if (fs_)
        fs_->refreshMount();
}

void AppDelegate::didMount(const QString& mountPoint) {
    logLine(QStringLiteral("Got didMount notification."));
    logLine(QStringLiteral("Mounted at ") + mountPoint);
    if (openFinderBool.value_or(false) && qEnvironmentVariable("FOLVANE_NO_OPEN") != QLatin1String("1") &&
        !QProcess::startDetached(QStringLiteral("xdg-open"), {mountPoint}))
        logLine(QStringLiteral("Could not open the file browser on ") + mountPoint);
}

void AppDelegate::mountFailed(const QString& reason) {
    logLine(QStringLiteral("Got mountFailed notification."));
    logLine(QStringLiteral("kGMUserFileSystem Error: ") + reason);
    // Shown whatever the notification preference says: the helper is about to end.
    notifier_->notify(QStringLiteral("Mount Failed"), reason, true);
    terminate(1);
}

// The helper's refresh never unmounts, so an unmount it did not ask for always came from outside.
void AppDelegate::didUnmount() {
    logLine(QStringLiteral("Got didUnmount notification."));
    terminate(0);
}

void AppDelegate::setUpNotifications() {
    const QString title = site_.title();
    bus_->subscribe(bus::named(bus::refresh, title),
                    [this](const QVariantMap& info) { refreshTemplates(info); });
    bus_->post(bus::named(bus::finishedConnecting, title), {{bus::keyTitle, title}});
}

void AppDelegate::refreshTemplates(const QVariantMap& userInfo) {
    logEvent(bus::named(bus::refresh, site_.title()), userInfo);
    templateRefresh_->refreshTemplates(userInfo);
}

void AppDelegate::moveTemplate(const QVariantMap& userInfo) {
    logEvent(bus::named(bus::moveFile, site_.title()), userInfo);
    const auto source = bus::textIn(userInfo, bus::keySource),
               destination = bus::textIn(userInfo, bus::keyDestination);
    if (!source || !destination)
        return;
    const QString from = mirrorFolder() + *source, to = mirrorFolder() + *destination;
    const QFileInfo target(to);
    if (target.isDir() && !target.isSymLink())
        folderSync_->moveFolderEvent(from, to);
    else
        fileSync_->moveTemplate(from, to);
}

void AppDelegate::createNewFileAt(const QVariantMap& userInfo) {
    logEvent(bus::named(bus::createFile, site_.title()), userInfo);
    fileSync_->createNewFileAt(userInfo);
}

void AppDelegate::createDirectoryWithPath(const QVariantMap& userInfo) {
    logEvent(bus::named(bus::createdDirectory, site_.title()), userInfo);
    folderSync_->createDirectoryWithPath(userInfo);
}

void AppDelegate::saveFileData(const QVariantMap& userInfo) {
    logEvent(bus::named(bus::writingFile, site_.title()), userInfo);
    fileSync_->saveFileData(userInfo);
}

void AppDelegate::deleteTemplateAt(const QVariantMap& userInfo) {
    logEvent(bus::named(bus::deleteFile, site_.title()), userInfo);
    fileSync_->deleteTemplateAt(userInfo);
}

void AppDelegate::deleteTemplateGroup(const QVariantMap& userInfo) {
    logEvent(bus::named(bus::deleteFolder, site_.title()), userInfo);
    folderSync_->deleteTemplateGroup(userInfo);
}

void AppDelegate::fileReleased(const QVariantMap& userInfo) {
    fileSync_->fileReleased(userInfo);
}

void AppDelegate::getNewTemplateData(const QVariantMap& userInfo) {
    templateRefresh_->getNewTemplateData(userInfo);
}

void AppDelegate::fileCreated(const QString& path) {
    createNewFileAt({{bus::keyPath, path}});
}
void AppDelegate::fileWritten(const QString& path) {
    saveFileData({{bus::keyPath, path}});
}
void AppDelegate::fileReleased(const QString& path) {
    fileReleased(QVariantMap{{bus::keyPath, path}});
}
void AppDelegate::fileRead(const QString& path) {
    if (!connectionHelper->cachingBool)
        getNewTemplateData({{bus::keyPath, path}});
}
void AppDelegate::moved(const QString& from, const QString& to) {
    moveTemplate({{bus::keySource, from}, {bus::keyDestination, to}});
}
void AppDelegate::fileRemoved(const QString& path) {
    deleteTemplateAt({{bus::keyPath, path}});
}
void AppDelegate::folderMade(const QString& path) {
    createDirectoryWithPath({{bus::keyPath, path}});
}
void AppDelegate::folderRemoved(const QString& path) {
    deleteTemplateGroup({{bus::keyPath, path}});
}

QString AppDelegate::mirrorFolder() const {
    return mirrorFolderPath(baseURL, site_.cachedFolderName.value_or(QString()));
}

void AppDelegate::terminate(int exitCode) {
    if (terminating_)
        return;
    terminating_ = true;
    AnswerWait::abandonAll();
    applicationWillTerminate();
    QCoreApplication::exit(exitCode);
}

void AppDelegate::applicationWillTerminate() {
    const QString title = site_.title();
    if (analytics_->isOn())
        analytics_->stopGoogleAnalytics();
    if (fileSync_) {
        // Uploads still out get a moment to be confirmed; whatever the site has not confirmed by then
        // is kept before the mirror goes.
        fileSync_->settle(shutdownGraceMs);
        recovery_->keep(fileSync_->unconfirmedFiles());
    }
    bus_->post(bus::named(bus::connectionTerminated, title), {{bus::keyTitle, title}});
    bus_->flush();
    // The volume goes first, so no one sees the mirror's files vanish mid-operation; nothing is left
    // mounted even when removing the mirror fails.
    if (fs_ && !fs_->unmount())
        logLine(QStringLiteral("Could not unmount ") + fs_->mountPoint());
    if (site_.cachedFolderName) {
        QDir mirror(mirrorFolder());
        if (mirror.exists() && !mirror.removeRecursively())
            logLine(QStringLiteral("Could not remove the mirror folder ") + mirror.path());
    }
}

} // namespace folvane
