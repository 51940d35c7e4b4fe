#include "AppDelegate.h"

#include "BusNames.h"
#include "ConsoleLog.h"
#include "DesktopNotifier.h"
#include "NotificationBus.h"
#include "addon/AnswerWait.h"
#include "addon/HttpClient.h"
#include "addon/SiteConnectionHelper.h"
#include "tree/JSONParser.h"
#include "tree/WebsiteInUse.h"

#include <QCoreApplication>
#include <QDir>

namespace folvane {

AppDelegate::AppDelegate(HelperArguments args, WebsiteInUse& site, QObject* parent)
    : QObject(parent), args_(std::move(args)), site_(site), http_(std::make_unique<HttpClient>()),
      bus_(std::make_unique<NotificationBus>()), notifier_(std::make_unique<DesktopNotifier>()) {}

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
    bus_->post(bus::named(bus::connectionTerminated, title), {{bus::keyTitle, title}});
    bus_->flush();
    if (site_.cachedFolderName) {
        QDir mirror(mirrorFolder());
        if (mirror.exists() && !mirror.removeRecursively())
            logLine(QStringLiteral("Could not remove the mirror folder ") + mirror.path());
    }
}

} // namespace folvane
