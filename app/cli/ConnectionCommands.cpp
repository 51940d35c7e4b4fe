#include "Commands.h"
#include "Console.h"
#include "SiteStore.h"

#include "AnswerWait.h"
#include "ConsoleLog.h"
#include "Counted.h"
#include "GoogleAnalytics.h"
#include "HttpClient.h"
#include "LogLines.h"
#include "MountTable.h"
#include "Paths.h"
#include "SignalWatcher.h"
#include "core/ConnectionCheck.h"
#include "core/ConnectionControl.h"
#include "core/HelperProcess.h"
#include "core/SharedPreferences.h"
#include "core/SiteConnections.h"

#include <QDBusConnection>
#include <QDir>
#include <QEventLoop>
#include <QTimer>

namespace folvane::cli {

namespace {

constexpr int defaultRefreshTimeoutSeconds = 120;

QString mountPointOf(const QString& title) {
    return QDir::cleanPath(paths::mountPointFor(title));
}

QString endedText(const std::optional<int>& exitStatus) {
    if (!exitStatus)
        return QStringLiteral("a signal ended it");
    switch (*exitStatus) {
    case 1:
        return QStringLiteral("it could not connect to the site or mount it");
    case 2:
        return QStringLiteral("it did not accept its arguments");
    default:
        return QStringLiteral("exit status %1").arg(*exitStatus);
    }
}

// The test of an address and user that are not in the list yet.
int testAddress(const CommandLine& command) {
    const auto url = command.value(QStringLiteral("url"));
    const auto user = command.value(QStringLiteral("user"));
    if (!url || !user || !command.words.isEmpty()) {
        console::error(QStringLiteral("check takes a TITLE, or --url and --user (see folvane3 --help)"));
        return exitUsage;
    }
    if (passwordTravelsUnencrypted(*url))
        console::message(unencryptedPasswordNotice);
    const std::optional<QString> password = passwordFor(*user);
    if (!password)
        return exitUsage;
    HttpClient http(applicationRequestLimit);
    ConnectionCheck check(http);
    const std::optional<CheckState> state = check.testConnectionToSite(nullptr, *url, *user, *password);
    if (state && state->isOkay()) {
        console::message(QStringLiteral("The add-on at %1 answers and accepts the login.").arg(*url));
        return exitOk;
    }
    if (state && !state->certificateProblem.isEmpty()) {
        console::error(state->certificateProblem);
        return exitFailed;
    }
    console::error(
        QStringLiteral("the add-on at %1 did not answer as expected or refused the login").arg(*url));
    return exitFailed;
}

} // namespace

int checkSite(const CommandLine& command) {
    if (command.value(QStringLiteral("url")) || command.value(QStringLiteral("user")) ||
        command.words.size() != 1)
        return testAddress(command);
    SiteStore store;
    const auto site = store.named(command.words.at(0));
    if (!site)
        return exitRejected;
    const QString title = site->cleanName;
    if (passwordTravelsUnencrypted(site->dirtyURL))
        console::message(QStringLiteral("\"%1\": ").arg(title) + unencryptedPasswordNotice);
    if (!store.loadPassword(*site))
        return exitFailed;
    HttpClient http(applicationRequestLimit);
    ConnectionCheck check(http);
    if (const auto error = check.tryConnectingToSite(*site)) {
        console::error(QStringLiteral("\"%1\": ").arg(title) + alertText(*error, site->dirtyURL));
        return exitFailed;
    }
    console::message(QStringLiteral("\"%1\" is ready to connect (%2 add-on).").arg(title, cmsTag(site->cms)));
    return exitOk;
}

int connectSite(const CommandLine& command) {
    SiteStore store;
    const auto site = store.named(command.words.at(0));
    if (!site)
        return exitRejected;
    const QString title = site->cleanName;
    const QString mountPoint = mountPointOf(title);
    const auto alreadyConnected = [&] {
        console::error(
            QStringLiteral("\"%1\" is already connected: it is mounted at %2").arg(title, mountPoint));
        return exitRejected;
    };
    // A live volume there belongs to another folvane3; a dead one the new helper clears away itself.
    if (MountTable::hasFuseMountAt(mountPoint) && QDir(mountPoint).exists())
        return alreadyConnected();
    if (!store.loadPassword(*site))
        return exitFailed;
    if (!QDBusConnection::sessionBus().isConnected()) {
        console::error(
            QStringLiteral("no session bus (DBUS_SESSION_BUS_ADDRESS): the helper could not report back"));
        return exitFailed;
    }
    SharedPreferences preferences(paths::supportFolder());
    SiteConnections connections(store.manager, preferences);
    ConnectionControl& control = connections.control();
    GoogleAnalytics analytics;
    if (preferences.value(SharedPreferences::sendDataUsage) == 1)
        analytics.startGoogleAnalytics(StartEvent::launch(static_cast<int>(store.manager.siteList().size())));

    QEventLoop loop;
    bool interrupted = false;
    bool mounted = false;
    std::optional<std::optional<int>> ended;
    SignalWatcher signalWatcher;
    QObject::connect(&signalWatcher, &SignalWatcher::terminationRequested, &loop, [&] {
        interrupted = true;
        // A check still waiting for the site gives up at once.
        AnswerWait::abandonAll();
        loop.quit();
    });
    QObject::connect(&control, &ConnectionControl::siteStateChanged, &loop, [&] {
        if (site->finishedConnecting && !mounted) {
            mounted = true;
            console::out(mountPoint);
            console::message(
                QStringLiteral("\"%1\" is mounted at %2; Ctrl-C (or folvane3 eject \"%1\" elsewhere) "
                               "ejects it.")
                    .arg(title, mountPoint));
        }
    });
    QObject::connect(
        &control, &ConnectionControl::pendingUploadsChanged, &loop, [&](const QString&, int count) {
            console::message(count > 0 ? QStringLiteral("\"%1\": %2 waiting for the site to confirm them")
                                             .arg(title, counted(count, QStringLiteral("upload"),
                                                                 QStringLiteral("uploads")))
                                       : QStringLiteral("\"%1\": every upload confirmed").arg(title));
        });
    // The helper's whole log with --verbose; else only what its uploads came to (the helper's own lines
    // rather than the pending-files notices: those come at most every 200 ms, so a save the site confirms
    // between two of them never shows there).
    QObject::connect(&control, &ConnectionControl::helperSaid, &loop,
                     [](const QString&, const QString& line) {
                         if (console::verbose())
                             echoLine(line);
                         else if (logline::isUploadOutcome(line))
                             console::message(line);
                     });
    QObject::connect(&control, &ConnectionControl::helperEnded, &loop,
                     [&](const QString&, std::optional<int> status) {
                         ended = status;
                         loop.quit();
                     });

    const ConnectOutcome outcome = control.connectToSite(*site);
    // The helper has its own copy.
    site->password.clear();
    if (interrupted && outcome.kind != ConnectOutcome::Kind::launched) {
        console::error(QStringLiteral("connecting \"%1\" was cancelled").arg(title));
        return exitFailed;
    }
    if (outcome.kind == ConnectOutcome::Kind::checkFailed) {
        console::error(QStringLiteral("\"%1\": ").arg(title) + alertText(*outcome.error, site->dirtyURL));
        return exitFailed;
    }
    if (outcome.kind != ConnectOutcome::Kind::launched) {
        console::error(QStringLiteral("cannot start the helper: ") + outcome.launchError);
        return exitFailed;
    }
    // Kept here so that its end is still heard after the eject has let go of it.
    const std::shared_ptr<HelperProcess> helper = site->siteConnection;
    if (!interrupted)
        loop.exec();
    if (!ended) {
        if (const int pending = control.ejectSite(*site); pending > 0)
            console::message(
                QStringLiteral("%1 to \"%2\" %3 not confirmed yet; what the site does not confirm is kept "
                               "in %4")
                    .arg(counted(pending, QStringLiteral("upload"), QStringLiteral("uploads")), title,
                         pending == 1 ? QStringLiteral("was") : QStringLiteral("were"),
                         paths::supportFolder() + QStringLiteral("/Recovered/") + title));
        console::message(QStringLiteral("Ejecting \"%1\"…").arg(title));
        while (!ended)
            loop.exec();
        if (mounted)
            return exitOk;
        console::error(QStringLiteral("\"%1\" was ejected before it was mounted").arg(title));
        return exitFailed;
    }
    // Another helper serves the title (one still connecting, say, so nothing was mounted yet above).
    if (*ended == HelperCommandLine::exitAlreadyConnected)
        return alreadyConnected();
    if (mounted && *ended == 0) {
        console::message(QStringLiteral("\"%1\" was ejected.").arg(title));
        return exitOk;
    }
    console::error(QStringLiteral("the helper of \"%1\" ended: %2").arg(title, endedText(*ended)));
    return exitFailed;
}

int refreshSite(const CommandLine& command) {
    int timeoutSeconds = defaultRefreshTimeoutSeconds;
    if (const auto given = command.value(QStringLiteral("timeout"))) {
        bool ok = false;
        timeoutSeconds = given->toInt(&ok);
        if (!ok || timeoutSeconds <= 0) {
            console::error(
                QStringLiteral("--timeout takes a number of seconds above 0, not \"%1\"").arg(*given));
            return exitUsage;
        }
    }
    SiteStore store;
    const auto site = store.named(command.words.at(0));
    if (!site)
        return exitRejected;
    const QString title = site->cleanName;
    const QString mountPoint = mountPointOf(title);
    if (!MountTable::hasFuseMountAt(mountPoint)) {
        console::error(
            QStringLiteral("\"%1\" is not connected (nothing is mounted at %2)").arg(title, mountPoint));
        return exitRejected;
    }
    SharedPreferences preferences(paths::supportFolder());
    SiteConnections connections(store.manager, preferences);
    ConnectionControl& control = connections.control();
    const int row = store.manager.positionOfSite(title);
    QEventLoop loop;
    bool answered = false;
    QString notRefreshed;
    QObject::connect(&control, &ConnectionControl::refreshFinished, &loop,
                     [&](const QString&, int answeredRow, const QString& why) {
                         answered = answeredRow == row;
                         if (answered) {
                             notRefreshed = why;
                             loop.quit();
                         }
                     });
    QTimer::singleShot(timeoutSeconds * 1000, &loop, &QEventLoop::quit);
    control.refreshTemplates(*site, row);
    loop.exec();
    if (!answered) {
        console::error(QStringLiteral("the helper of \"%1\" did not answer the refresh within %2 s")
                           .arg(title)
                           .arg(timeoutSeconds));
        return exitNoAnswer;
    }
    if (!notRefreshed.isEmpty()) {
        console::error(QStringLiteral("\"%1\" was not refreshed: %2").arg(title, notRefreshed));
        return exitFailed;
    }
    console::message(QStringLiteral("Refreshed \"%1\".").arg(title));
    return exitOk;
}

} // namespace folvane::cli
