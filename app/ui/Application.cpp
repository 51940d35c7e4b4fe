#include "Application.h"

#include "ConsoleLog.h"
#include "Paths.h"
#include "StatusItem.h"
#include "dialogs/AboutDialog.h"
#include "shell/MakerLinks.h"
#include "shell/SingleInstance.h"

#include <QApplication>

namespace folvane::ui {

Application::Application(shell::SingleInstance& instance, QObject* parent)
    : QObject(parent), instance_(instance), preferences_(paths::supportFolder()),
      preferencesWindow_(preferences_, NotificationSettings::ofThisSession()), updater_(shellPrompts_),
      startup_(shellPrompts_) {
    buildMenu();
    connect(&preferencesWindow_, &PreferencesWindow::checkAutomaticallyToggled, &updater_,
            &shell::Updater::setCheckAutomatically);
    connect(&preferencesWindow_, &PreferencesWindow::checkNowRequested, &updater_,
            [this] { updater_.checkNow(true); });
    connect(&preferencesWindow_, &PreferencesWindow::usageDataToggled, this, &Application::toggleUsageData);

    connect(&instance_, &shell::SingleInstance::urlReceived, &deepLinks_, &shell::DeepLinkQueue::enqueue);
    connect(&instance_, &shell::SingleInstance::activationRequested, this, [this] {
        if (statusItem_)
            statusItem_->showWindow();
    });
    connect(&deepLinks_, &shell::DeepLinkQueue::addSiteRequested, this,
            [this](const shell::DeepLinkRequest& request) {
                statusItem_->showWindow();
                window_->loadDeepLinkSite(request.title, request.url, request.username);
            });

    connect(&startup_, &shell::StartupSequence::ready, this, &Application::setupFinished);
    connect(&startup_, &shell::StartupSequence::quitRequested, qApp, &QCoreApplication::quit,
            Qt::QueuedConnection);
    connect(qApp, &QCoreApplication::aboutToQuit, this, &Application::quitting);
}

Application::~Application() = default;

void Application::start(const QString& deepLink, bool atLogin, bool showHelperLogs) {
    atLogin_ = atLogin;
    showHelperLogs_ = showHelperLogs;
    if (!deepLink.isEmpty()) {
        logLine(QStringLiteral("Heard deeplink"));
        deepLinks_.enqueue(deepLink);
    }
    startup_.start();
}

void Application::buildMenu() {
    menu_.addAction(tr("Show Folvane 3"), this, [this] { statusItem_->showWindow(); });
    menu_.addAction(tr("Add Site…"), this, [this] {
        statusItem_->showWindow();
        window_->addWebsite();
    });
    menu_.addSeparator();
    menu_.addAction(tr("Preferences…"), this, &Application::showPreferences);
    menu_.addAction(tr("Check for Updates…"), this, [this] { updater_.checkNow(true); });
    menu_.addSeparator();
    menu_.addAction(tr("FAQ"), this, [this] { shellPrompts_.openUrl(shell::faqPage()); });
    menu_.addAction(tr("Support"), this, [this] { shellPrompts_.openUrl(shell::supportPage()); });
    menu_.addAction(tr("Changelog"), this, [this] { shellPrompts_.openUrl(shell::changelogPage()); });
    menu_.addAction(tr("About Folvane 3"), this, &Application::showAbout);
    menu_.addSeparator();
    menu_.addAction(tr("Quit Folvane 3"), qApp, &QCoreApplication::quit);
}

void Application::setupFinished() {
    sites_ = std::make_unique<SiteListManager>(secrets_, paths::supportFolder());
    connections_ = std::make_unique<SiteConnections>(*sites_, preferences_);
    if (showHelperLogs_)
        connect(&connections_->control(), &ConnectionControl::helperSaid, this,
                [](const QString&, const QString& line) { echoLine(line); });
    window_ = std::make_unique<SiteListWindow>(*sites_, connections_->control(), prompts_, icons_);
    window_->setPendingFilesWatch(&connections_->pendingFiles());
    window_->setApplicationMenu(&menu_);
    shellPrompts_.setWindow(window_.get());

    statusItem_ = std::make_unique<StatusItem>(*window_, &menu_);
    // Without a tray the window is the only way in, also at login.
    if (!atLogin_ || !statusItem_->usesTray())
        statusItem_->showWindow();
    if (preferences_.value(SharedPreferences::sendDataUsage) == 1)
        startAnalytics();
    updater_.setCheckAutomatically(preferences_.value(SharedPreferences::autoCheckUpdates) == 1);
    if (!sites_->keptAsidePath().isEmpty())
        prompts_.alert(window_.get(), tr("Your site list could not be read"),
                       tr("It was kept as %1, and the list starts empty.").arg(sites_->keptAsidePath()));
    deepLinks_.setupFinished();
}

void Application::showPreferences() {
    preferencesWindow_.show();
    preferencesWindow_.raise();
    preferencesWindow_.activateWindow();
}

void Application::showAbout() {
    auto* about = new shell::AboutDialog(window_.get());
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->open();
}

void Application::toggleUsageData() {
    if (analytics_.isOn())
        analytics_.stopGoogleAnalytics();
    else
        startAnalytics();
}

void Application::startAnalytics() {
    analytics_.startGoogleAnalytics(StartEvent::launch(static_cast<int>(sites_->siteList().size())));
}

// No volume outlives the application.
void Application::quitting() {
    analytics_.stopGoogleAnalytics();
    if (connections_)
        connections_->control().terminateAllHelpers();
}

} // namespace folvane::ui
