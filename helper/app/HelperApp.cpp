#include "HelperApp.h"

#include "AnswerWait.h"
#include "BusNames.h"
#include "ConsoleLog.h"
#include "Counted.h"
#include "DesktopNotifier.h"
#include "FileManager.h"
#include "GoogleAnalytics.h"
#include "HttpClient.h"
#include "LogLines.h"
#include "NotificationBus.h"
#include "Paths.h"
#include "PreferenceKeys.h"
#include "PreferenceSwitch.h"
#include "SiteLock.h"
#include "addon/HttpAddonClient.h"
#include "fs/LoopbackFS.h"
#include "fs/MountSession.h"
#include "fs/VolumeEventQueue.h"
#include "sync/Recovery.h"
#include "sync/SyncEngine.h"
#include "tree/MirrorBuilder.h"
#include "tree/WebsiteInUse.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace folvane {

namespace {
constexpr int shutdownGraceMs = 3000;
// A helper of the same site that is ending (an eject followed at once by a connect) gets this long.
constexpr int lockWaitMs = 8000;
// A mirror folder left by a run that did not end cleanly waits beside the new one under this suffix.
const QString leftOverSuffix = QStringLiteral(".left-over-");
} // namespace

HelperApp::HelperApp(HelperCommandLine args, WebsiteInUse& site, QObject* parent)
    : QObject(parent), args_(std::move(args)), site_(site),
      http_(std::make_unique<HttpClient>(helperRequestLimit, AnswerLimits::fromEnvironment())),
      bus_(std::make_unique<NotificationBus>()), notifier_(std::make_unique<DesktopNotifier>()),
      analytics_(std::make_unique<GoogleAnalytics>()) {}

HelperApp::~HelperApp() {
    if (volumeEvents_)
        volumeEvents_->setReceiver(nullptr);
}

void HelperApp::start() {
    openConsoleLogFileWhenWanted();
    baseFolder_ = QDir::cleanPath(args_.baseFolder);
    // Before anything touches the mirror folder or the mount point, which belong to a helper already serving
    // the site. Such a helper is left alone: nothing is posted for the title, and no shutdown runs.
    if (!takeSiteLock())
        return;

    site_.typedUrl = args_.typedUrl;
    site_.cleanUrl = args_.cleanUrl;
    site_.cleanName = args_.title;
    site_.login = args_.login;
    site_.password = args_.password;
    site_.cachedFolderName = stableHashText(args_.title.isEmpty() ? args_.typedUrl : args_.title);
    site_.cms = args_.cms;
    if (args_.usageData) {
        logLine(QStringLiteral("on"));
        analytics_->startGoogleAnalytics(StartEvent::connect(cmsName(site_.cms)));
    }

    client_ = std::make_unique<HttpAddonClient>(
        site_, *http_, *bus_, *notifier_,
        HttpAddonClient::Options{.notifications = args_.notifications,
                                 .defaultGroupAlert = args_.defaultGroupAlert});

    logLine(QStringLiteral("Starting JSON init"));
    // A mirror folder that is still there was left by a run that did not end cleanly (a clean end removes it,
    // and the lock says no helper serves it now): it may hold the only copy of edits the site never got.
    // Set aside before the list arrives, because the tree is built while it does: a large site's list is
    // never held whole. Should the start not get that far, the folder set aside is found again at the next.
    QStringList leftOver;
    if (!setLeftOverMirrorsAside(&leftOver) || !buildMirror())
        return;
    const auto [groups, files] = site_.withRecords([this](const RecordTree& records) {
        client_->checkDefaultGroup(records);
        return std::pair{records.folderCount(), records.fileCount()};
    });
    logLine(logline::foundTemplates(groups, files, mirrorFolder()));
    keepLostEdits(leftOver);

    mount();
    startSynchronising();
    const QString title = site_.title();
    bus_->subscribe(bus::named(bus::refresh, title),
                    [this](const QVariantMap& info) { refreshRequested(info); });
    bus_->subscribe(bus::named(bus::listPending, title),
                    [this](const QVariantMap&) { postPendingFiles(engine_->pendingFiles()); });
    bus_->subscribe(bus::named(bus::retry, title), [this](const QVariantMap& info) {
        if (const auto path = bus::textIn(info, bus::keyPath))
            engine_->tryAgain(*path);
    });
    bus_->subscribe(bus::named(bus::eject, title), [this](const QVariantMap&) {
        logLine(QStringLiteral("Asked to eject; shutting down"));
        terminate(0, bus::eject);
    });
    // "finishedconnecting-" follows once the volume is up (didMount).
}

bool HelperApp::takeSiteLock() {
    // Where only this user can write: a lock another user could remove would let two helpers serve one
    // site. The runtime folder when there is one, else beside the mirror folders.
    const QString runtime = paths::runtimeFolder();
    lock_ = std::make_unique<SiteLock>(args_.title.isEmpty() ? args_.typedUrl : args_.title,
                                       runtime.isEmpty() ? baseFolder_ + Constants::cache : runtime);
    QString why;
    switch (lock_->acquire(lockWaitMs, &why)) {
    case SiteLock::Outcome::acquired:
        return true;
    case SiteLock::Outcome::heldByAnother:
        logLine(
            QStringLiteral("\"%1\" is already connected: another helper serves it; ending").arg(args_.title));
        terminating_ = true;
        QCoreApplication::exit(exitAlreadyConnected);
        return false;
    case SiteLock::Outcome::unavailable:
        break;
    }
    // Without the lock another helper may be serving the site: its mirror and volume are not this one's to
    // touch, so the shutdown does not run either.
    logLine(QStringLiteral("Could not make sure that no other helper serves \"%1\": %2; ending")
                .arg(args_.title, why));
    notifier_->notify(QStringLiteral("Could Not Connect"),
                      QStringLiteral("\"%1\" was not connected: %2.").arg(args_.title, why), true);
    terminating_ = true;
    QCoreApplication::exit(1);
    return false;
}

bool HelperApp::buildMirror() {
    constexpr int attempts = 4;
    constexpr int firstPauseMs = 1000;
    for (int attempt = 1;; ++attempt) {
        // Every attempt starts from an empty mirror and no records: nothing of a broken list stays.
        site_.withRecords([](RecordTree& records) { records = {}; });
        mirrorBuilder_ = std::make_unique<MirrorBuilder>(baseFolder_, site_);
        logLine(QStringLiteral("Parsing"));
        const auto transfer = client_->streamTemplateList([this](QByteArrayView chunk) {
            if (!terminating_)
                mirrorBuilder_->feed(chunk);
        });
        const bool whole = mirrorBuilder_->finish();
        if (terminating_)
            return false;
        if (transfer == HttpAddonClient::ListTransfer::notLoggedIn) {
            logLine(QStringLiteral("Could not log in to ") + args_.typedUrl + QStringLiteral("; ending"));
            terminate(1);
            return false;
        }
        if (whole && transfer == HttpAddonClient::ListTransfer::arrived)
            return true;
        if (attempt == attempts)
            break;
        const int pauseMs = firstPauseMs << (attempt - 1);
        logLine(
            QStringLiteral("The template list did not arrive whole (attempt %1 of %2); asking again in %3 ms")
                .arg(attempt)
                .arg(attempts)
                .arg(pauseMs));
        if (!pause(pauseMs))
            return false;
    }
    // Part of the site shown as the site would have the user recreate what exists.
    logLine(QStringLiteral("The template list did not arrive whole in %1 attempts; ending without mounting")
                .arg(attempts));
    notifier_->notify(QStringLiteral("Could Not Connect"),
                      QStringLiteral("The template list of \"%1\" did not arrive whole in %2 attempts, so "
                                     "nothing was mounted. Try again later.")
                          .arg(site_.title())
                          .arg(attempts),
                      true);
    terminate(1);
    return false;
}

bool HelperApp::pause(int ms) {
    AnswerWait wait;
    QTimer timer;
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, this, [&wait] { wait.signal(); });
    timer.start(ms);
    return wait.wait() && !terminating_;
}

void HelperApp::mount() {
    const QString title = site_.title();
    volumeEvents_ = std::make_unique<VolumeEventQueue>();
    LoopbackFS::CachePolicy cache;
    cache.keepPageCache = args_.caching;
    loop_ = std::make_unique<LoopbackFS>(mirrorFolder(), *volumeEvents_, cache);
    fs_ = std::make_unique<MountSession>(*loop_, title, paths::mountPointFor(title));
    connect(fs_.get(), &MountSession::mounted, this, &HelperApp::didMount);
    connect(fs_.get(), &MountSession::mountFailed, this, &HelperApp::mountFailed);
    connect(fs_.get(), &MountSession::unmountedFromOutside, this, &HelperApp::didUnmount);
    fs_->mount();
}

void HelperApp::startSynchronising() {
    const QString title = site_.title();
    recovery_ = std::make_unique<Recovery>(baseFolder_, title, mirrorFolder(), *notifier_);
    engine_ = std::make_unique<SyncEngine>(
        site_, *client_, *mirrorBuilder_, *fs_, *recovery_, mirrorFolder(),
        SyncEngine::Options{.fetchOnOpen = !args_.caching, .checkSiteBeforeSave = [this] {
                                return preferenceSwitch(baseFolder_, prefkeys::checkSiteBeforeSave, true);
                            }});
    connect(engine_.get(), &SyncEngine::pendingCountChanged, this, [this, title](int count) {
        bus_->post(bus::named(bus::pendingUploads, title), {{bus::keyTitle, title}, {bus::keyCount, count}});
    });
    connect(engine_.get(), &SyncEngine::pendingFilesChanged, this, &HelperApp::postPendingFiles);
    volumeEvents_->setReceiver(engine_.get());
}

void HelperApp::postPendingFiles(const QList<PendingFile>& files) {
    const QString title = site_.title();
    bus_->post(bus::named(bus::pendingFiles, title),
               {{bus::keyTitle, title}, {bus::keyFiles, pendingFilesText(files)}});
}

void HelperApp::didMount(const QString& mountPoint) {
    logLine(logline::didMount);
    logLine(logline::mountedAt + mountPoint);
    const QString title = site_.title();
    bus_->post(bus::named(bus::finishedConnecting, title), {{bus::keyTitle, title}});
    if (args_.openFolder && qEnvironmentVariable("FOLVANE_NO_OPEN") != QLatin1String("1"))
        showInFileManager(mountPoint);
}

void HelperApp::mountFailed(const QString& reason) {
    logLine(logline::mountFailed);
    logLine(logline::mountError + reason);
    // Shown whatever the notification preference says: the helper is about to end.
    notifier_->notify(QStringLiteral("Mount Failed"), reason, true);
    terminate(1);
}

// The helper's refresh never unmounts, so an unmount it did not ask for always came from outside.
void HelperApp::didUnmount() {
    logLine(logline::didUnmount);
    terminate(0);
}

void HelperApp::refreshRequested(const QVariantMap& userInfo) {
    logLine(logline::eventLine(bus::refresh, site_.title(), userInfo));
    // The site is asked while events keep flowing, so more requests can arrive meanwhile: they wait for the
    // running refresh, and all that waited are answered, in order, by one refresh after it (a flood of
    // requests costs two downloads, not one each).
    refreshRequests_.push_back(userInfo);
    if (refreshing_)
        return;
    refreshing_ = true;
    while (!refreshRequests_.empty() && !AnswerWait::abandoned()) {
        const std::deque<QVariantMap> answered = std::exchange(refreshRequests_, {});
        QString why;
        const SyncEngine::RefreshOutcome outcome = engine_->refresh(&why);
        if (outcome == SyncEngine::RefreshOutcome::abandoned)
            break; // the helper is ending and its mirror is going
        for (QVariantMap answer : answered) {
            if (outcome == SyncEngine::RefreshOutcome::keptVolume)
                answer.insert(bus::keyNotRefreshed, why);
            bus_->post(bus::named(bus::refreshDone, site_.title()), answer);
        }
    }
    refreshRequests_.clear();
    refreshing_ = false;
}

bool HelperApp::setLeftOverMirrorsAside(QStringList* leftOver) {
    const QString mirror = mirrorFolder();
    const QFileInfo info(mirror);
    if (QDir(mirror).exists() && !QDir(mirror).isEmpty()) {
        const QString aside =
            mirror + leftOverSuffix +
            QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmsszzz"));
        if (::rename(QFile::encodeName(mirror).constData(), QFile::encodeName(aside).constData()) != 0) {
            // The new mirror is built where the old one is: going on would wipe edits it may hold.
            const QString why = QString::fromLocal8Bit(std::strerror(errno));
            logLine(QStringLiteral("Could not set the left-over mirror folder %1 aside (%2); ending")
                        .arg(mirror, why));
            notifier_->notify(
                QStringLiteral("Could Not Connect"),
                QStringLiteral("\"%1\" was not connected: the folder %2, left by an earlier "
                               "connection that did not end cleanly, could not be set aside (%3). "
                               "It may hold edits the site does not have.")
                    .arg(site_.title(), mirror, why),
                true);
            mirrorStays_ = true;
            terminate(1);
            return false;
        }
    }
    for (const QFileInfo& entry : info.dir().entryInfoList({info.fileName() + leftOverSuffix + u'*'},
                                                           QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden))
        *leftOver << entry.filePath();
    return true;
}

void HelperApp::keepLostEdits(const QStringList& leftOver) {
    for (const QString& earlier : leftOver) {
        const QStringList lost = Recovery::lostEdits(earlier, mirrorFolder());
        logLine(QStringLiteral("A run that did not end cleanly left %1; %2 of it the site does not have")
                    .arg(earlier, counted(lost.size(), QStringLiteral("file"), QStringLiteral("files"))));
        if (!Recovery(baseFolder_, site_.title(), earlier, *notifier_).keep(lost).safe())
            continue; // not everything could be kept: the folder stays for the next start
        if (!QDir(earlier).removeRecursively())
            logLine(QStringLiteral("Could not remove ") + earlier);
    }
}

QString HelperApp::mirrorFolder() const {
    return mirrorFolderPath(baseFolder_, site_.cachedFolderName.value_or(QString()));
}

void HelperApp::terminate(int exitCode, const QString& askedBy) {
    if (terminating_)
        return;
    terminating_ = true;
    AnswerWait::abandonAll();
    shutDown(askedBy);
    QCoreApplication::exit(exitCode);
}

void HelperApp::shutDown(const QString& askedBy) {
    const QString title = site_.title();
    if (analytics_->isOn())
        analytics_->stopGoogleAnalytics();
    notifier_->stopOfferingActions(); // no one would be here to answer them
    if (engine_ && !engine_->finish(shutdownGraceMs))
        mirrorStays_ = true;
    QVariantMap announcement{{bus::keyTitle, title}};
    if (!askedBy.isEmpty())
        announcement.insert(bus::keyAskedBy, askedBy);
    bus_->post(bus::named(bus::connectionTerminated, title), announcement);
    bus_->flush();
    // The volume goes first, so no one sees the mirror's files vanish mid-operation; nothing is left
    // mounted even when removing the mirror fails.
    if (fs_ && !fs_->unmount())
        logLine(QStringLiteral("Could not unmount ") + fs_->mountPoint());
    if (!site_.cachedFolderName)
        return;
    QDir mirror(mirrorFolder());
    if (mirrorStays_) {
        // The next start sets it aside and keeps what the site does not have.
        logLine(QStringLiteral("The mirror folder %1 stays for the next start").arg(mirror.path()));
        if (engine_)
            notifier_->notify(
                QStringLiteral("Unsaved changes not copied"),
                QStringLiteral("Edits of \"%1\" that the site did not confirm could not be "
                               "copied aside; they stay in %2 and are kept at the next connect.")
                    .arg(title, mirror.path()),
                true);
        return;
    }
    if (mirror.exists() && !mirror.removeRecursively())
        logLine(QStringLiteral("Could not remove the mirror folder ") + mirror.path());
}

} // namespace folvane
