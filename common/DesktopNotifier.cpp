#include "DesktopNotifier.h"

#include "ConsoleLog.h"

#include <QDBusMessage>
#include <QDBusVariant>
#include <QStringList>
#include <QVariantMap>

namespace folvane {

namespace {
constexpr int replyTimeoutMs = 3000;
const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");
} // namespace

DesktopNotifier::DesktopNotifier(QDBusConnection connection, QObject* parent)
    : QObject(parent), connection_(std::move(connection)) {}

const QStringList& DesktopNotifier::capabilities() {
    if (!capabilities_) {
        const QDBusMessage reply = connection_.call(
            QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("GetCapabilities")),
            QDBus::Block, replyTimeoutMs);
        capabilities_ = reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
                            ? reply.arguments().constFirst().toStringList()
                            : QStringList();
        if (capabilities_->contains(QStringLiteral("actions"))) {
            connection_.connect(service, path, interface, QStringLiteral("ActionInvoked"), this,
                                SLOT(actionInvoked(uint, QString)));
            connection_.connect(service, path, interface, QStringLiteral("NotificationClosed"), this,
                                SLOT(notificationClosed(uint, uint)));
        }
    }
    return *capabilities_;
}

bool DesktopNotifier::serverShowsActions() {
    return capabilities().contains(QStringLiteral("actions"));
}

bool DesktopNotifier::notify(const QString& title, const QString& informativeText, bool critical,
                             std::vector<NotificationAction> actions) {
    if (!offeringActions_ || (!actions.empty() && !serverShowsActions()))
        actions.clear();
    QStringList actionList;
    for (const NotificationAction& action : actions)
        actionList << action.key << action.label;
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("sound-name"), QStringLiteral("message-new-instant"));
    if (critical)
        hints.insert(QStringLiteral("urgency"), QVariant::fromValue(static_cast<uchar>(2)));
    QString body = informativeText;
    if (capabilities().contains(QStringLiteral("body-markup")))
        body.replace(u'&', QStringLiteral("&amp;"))
            .replace(u'<', QStringLiteral("&lt;"))
            .replace(u'>', QStringLiteral("&gt;"));
    call << appName << static_cast<uint>(0) << appIcon << title << body << actionList << hints
         << static_cast<int>(-1);
    const QDBusMessage reply = connection_.call(call, QDBus::Block, replyTimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        logLine(QStringLiteral("Could not show notification \"") + title + QStringLiteral("\": ") +
                reply.errorMessage());
        return false;
    }
    if (!actions.empty() && !reply.arguments().isEmpty())
        waiting_[reply.arguments().constFirst().toUInt()] = std::move(actions);
    return true;
}

void DesktopNotifier::actionInvoked(uint id, const QString& key) {
    const auto it = waiting_.find(id);
    if (it == waiting_.end())
        return;
    for (const NotificationAction& action : it->second)
        if (action.key == key && action.run)
            action.run();
}

void DesktopNotifier::notificationClosed(uint id, uint) {
    waiting_.erase(id);
}

} // namespace folvane
