#pragma once

#include "HelperCommandLine.h"
#include "PendingFiles.h"

#include <QObject>
#include <QVariantMap>
#include <deque>
#include <memory>

namespace folvane {

class DesktopNotifier;
class GoogleAnalytics;
class HttpAddonClient;
class HttpClient;
class MirrorBuilder;
class LoopbackFS;
class MountSession;
class NotificationBus;
class Recovery;
class SiteLock;
class SyncEngine;
class VolumeEventQueue;
class WebsiteInUse;

// The helper process: logs in, builds the mirror, mounts the volume and connects it to the synchronisation,
// answers the application's requests on the bus, and, however the helper ends, runs the shutdown sequence
// exactly once.
class HelperApp : public QObject {
    Q_OBJECT
public:
    // The exit status of a helper started for a site another helper is serving.
    static constexpr int exitAlreadyConnected = HelperCommandLine::exitAlreadyConnected;

    HelperApp(HelperCommandLine args, WebsiteInUse& site, QObject* parent = nullptr);
    ~HelperApp() override;

    void start();
    // Posts "connection-terminated-", takes the volume down, removes the mirror folder and the mount point,
    // then ends the event loop with `exitCode`. `askedBy` names the request that ends a helper the user
    // wanted to end (an eject, a signal); the announcement carries it.
    void terminate(int exitCode, const QString& askedBy = {});

private:
    QString mirrorFolder() const;
    // One helper per site: false when this one must end (it has then said why).
    bool takeSiteLock();
    // Renames a left-over mirror folder aside and lists every folder set aside (also by earlier starts).
    // False when it could not be set aside: the helper then ends, leaving it where it is.
    bool setLeftOverMirrorsAside(QStringList* leftOver);
    // Fetches the template list and builds the mirror from it as it arrives. A list that did not arrive
    // whole is fetched again a few times, with growing pauses. False when the helper ends instead.
    bool buildMirror();
    // Lets the event loop run for `ms`; false when the helper began to end meanwhile.
    bool pause(int ms);
    // Keeps what the left-over folders hold that the site does not, then removes them.
    void keepLostEdits(const QStringList& leftOver);
    void mount();
    void didMount(const QString& mountPoint);
    void mountFailed(const QString& reason);
    void didUnmount();
    void startSynchronising();
    // "pending-files-": what the site has not confirmed yet, by name.
    void postPendingFiles(const QList<PendingFile>& files);
    // "refresh-": requests that arrive while one runs wait for it, so answers keep their order.
    void refreshRequested(const QVariantMap& userInfo);
    void shutDown(const QString& askedBy);

    HelperCommandLine args_;
    WebsiteInUse& site_;
    std::unique_ptr<SiteLock> lock_;
    std::unique_ptr<HttpClient> http_;
    std::unique_ptr<NotificationBus> bus_;
    std::unique_ptr<DesktopNotifier> notifier_;
    std::unique_ptr<GoogleAnalytics> analytics_;
    std::unique_ptr<HttpAddonClient> client_;
    std::unique_ptr<MirrorBuilder> mirrorBuilder_;
    std::unique_ptr<Recovery> recovery_;
    std::unique_ptr<VolumeEventQueue> volumeEvents_;
    std::unique_ptr<LoopbackFS> loop_;
    std::unique_ptr<MountSession> fs_; // declared after loop_: the volume goes before its filesystem
    std::unique_ptr<SyncEngine> engine_;
    QString baseFolder_;
    std::deque<QVariantMap> refreshRequests_; // waiting for the next refresh
    bool refreshing_ = false;
    bool terminating_ = false;
    // The mirror holds edits that could not be copied aside: the shutdown leaves it for the next start.
    bool mirrorStays_ = false;
};

} // namespace folvane
