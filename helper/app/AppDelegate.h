#pragma once

#include "HelperArguments.h"

#include <QObject>
#include <memory>
#include <optional>

namespace folvane {

class DesktopNotifier;
class HttpClient;
class JSONParser;
class NotificationBus;
class SiteConnectionHelper;
class WebsiteInUse;

// The helper's application object: runs the start-up steps in order and, however the helper ends,
// the shutdown sequence exactly once.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    AppDelegate(HelperArguments args, WebsiteInUse& site, QObject* parent = nullptr);
    ~AppDelegate() override;

    void applicationDidFinishLaunching();
    // Posts "connection-terminated-", removes the mirror folder, then ends the event loop with `exitCode`.
    void terminate(int exitCode);

    QString mirrorFolder() const;

private:
    void applicationWillTerminate();

    HelperArguments args_;
    WebsiteInUse& site_;
    std::unique_ptr<HttpClient> http_;
    std::unique_ptr<NotificationBus> bus_;
    std::unique_ptr<DesktopNotifier> notifier_;
    std::unique_ptr<SiteConnectionHelper> connectionHelper;
    std::unique_ptr<JSONParser> JSONParserInstance;
    QString baseURL;
    std::optional<bool> openFinderBool;
    bool terminating_ = false;
};

} // namespace folvane
