#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace folvane {

// A button on a notification, where the notification server offers them.
struct NotificationAction {
    QString key;   // what the server reports back when it is chosen
    QString label; // what the button says
    std::function<void()> run;
};

// Shows desktop notifications through org.freedesktop.Notifications. Whether a notification should be
// shown at all (the user's preference) is the caller's decision. A missing notification service is
// logged, never fatal.
class DesktopNotifier : public QObject {
    Q_OBJECT
public:
    explicit DesktopNotifier(QDBusConnection connection = QDBusConnection::sessionBus(),
                             QObject* parent = nullptr);

    // Returns whether the notification service accepted it. Waits for the service's reply (briefly)
    // so a notification sent just before the program ends is not lost. The text is shown as it is: a
    // service that reads bodies as markup gets "&", "<" and ">" as entities. The actions are offered only
    // where the server lists the "actions" capability (and while actions are offered at all); a chosen
    // one runs here for as long as this object lives.
    bool notify(const QString& title, const QString& informativeText, bool critical = false,
                std::vector<NotificationAction> actions = {});
    // Whether the server shows actions; asked once.
    bool serverShowsActions();
    // A program about to end offers no action it could not answer.
    void stopOfferingActions() { offeringActions_ = false; }

    static inline const QString appName = QStringLiteral("Folvane 3");
    static inline const QString appIcon = QStringLiteral("folvane3");

private slots:
    void actionInvoked(uint id, const QString& key);
    void notificationClosed(uint id, uint reason);

private:
    // The service's capabilities ("actions", "body-markup", ...); asked once.
    const QStringList& capabilities();

    QDBusConnection connection_;
    std::optional<QStringList> capabilities_;
    bool offeringActions_ = true;
    std::map<uint, std::vector<NotificationAction>> waiting_; // by notification id, until chosen or closed
};

} // namespace folvane
