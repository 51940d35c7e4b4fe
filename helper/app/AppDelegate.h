#pragma once

#include "HelperArguments.h"
#include "fs/VolumeEvents.h"

#include <QObject>
#include <QVariantMap>
#include <memory>
#include <optional>

namespace folvane {

class DesktopNotifier;
class FileSync;
class FolderSync;
class VolumeEventQueue;
class GoogleAnalytics;
class HttpClient;
class JSONParser;
class LoopbackFS;
class MountSession;
class NotificationBus;
class Recovery;
class TemplateRefresh;
class SiteConnectionHelper;
class WebsiteInUse;

// The helper's application object: runs the start-up steps in order and, however the helper ends,
// the shutdown sequence exactly once.
class AppDelegate : public QObject, public VolumeEvents {
    Q_OBJECT
public:
    AppDelegate(HelperArguments args, WebsiteInUse& site, QObject* parent = nullptr);
    ~AppDelegate() override;

    void applicationDidFinishLaunching();
    // Posts "connection-terminated-", takes the volume down, removes the mirror folder and the mount
    // point, then ends the event loop with `exitCode`.
    void terminate(int exitCode);

    QString mirrorFolder() const;

    void fileCreated(const QString& path) override;
    void fileWritten(const QString& path) override;
    void fileReleased(const QString& path) override;
    void fileRead(const QString& path) override;
    void moved(const QString& from, const QString& to) override;
    void fileRemoved(const QString& path) override;
    void folderMade(const QString& path) override;
    void folderRemoved(const QString& path) override;

    // After the helper itself rewrote the mirror: the kernel forgets what it cached of the volume.
    void refreshMount();

private:
    void applicationWillTerminate();
    void mount();
    void didMount(const QString& mountPoint);
    void mountFailed(const QString& reason);
    void didUnmount();
    void setUpNotifications();

    void refreshTemplates(const QVariantMap& userInfo);
    void moveTemplate(const QVariantMap& userInfo);
    void createNewFileAt(const QVariantMap& userInfo);
    void createDirectoryWithPath(const QVariantMap& userInfo);
    void saveFileData(const QVariantMap& userInfo);
    void deleteTemplateAt(const QVariantMap& userInfo);
    void deleteTemplateGroup(const QVariantMap& userInfo);
    void fileReleased(const QVariantMap& userInfo);
    void getNewTemplateData(const QVariantMap& userInfo);
    // Connects the synchronisation of files and folders and the refresh to the volume.
    void startSynchronising();

    HelperArguments args_;
    WebsiteInUse& site_;
    std::unique_ptr<HttpClient> http_;
    std::unique_ptr<NotificationBus> bus_;
    std::unique_ptr<DesktopNotifier> notifier_;
    std::unique_ptr<GoogleAnalytics> analytics_;
    std::unique_ptr<SiteConnectionHelper> connectionHelper;
    std::unique_ptr<JSONParser> JSONParserInstance;
    std::unique_ptr<VolumeEventQueue> fsEvents_;
    std::unique_ptr<LoopbackFS> loop_;
    std::unique_ptr<MountSession> fs_; // declared after loop_: the volume goes before its filesystem
    std::unique_ptr<FileSync> fileSync_;
    std::unique_ptr<FolderSync> folderSync_;
    std::unique_ptr<Recovery> recovery_;
    std::unique_ptr<TemplateRefresh> templateRefresh_;
    QString baseURL;
    std::optional<bool> openFinderBool;
    bool terminating_ = false;
};

} // namespace folvane
