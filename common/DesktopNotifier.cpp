#include "DesktopNotifier.h"

#include "ConsoleLog.h"

#include <QDBusMessage>
#include <QDBusVariant>
#include <QStringList>
#include <QVariantMap>

namespace folvane {

namespace {
constexpr int replyTimeoutMs = 3000;
}

DesktopNotifier::DesktopNotifier(QDBusConnection connection) : connection_(std::move(connection)) {}

bool DesktopNotifier::readsMarkup() {
    if (!readsMarkup_) {
        const QDBusMessage reply =
            connection_.call(QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
                                                            QStringLiteral("/org/freedesktop/Notifications"),
                                                            QStringLiteral("org.freedesktop.Notifications"),
                                                            QStringLiteral("GetCapabilities")),
                             QDBus::Block, replyTimeoutMs);
        readsMarkup_ = reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
                       reply.arguments().first().toStringList().contains(QStringLiteral("body-markup"));
    }
    return *readsMarkup_;
}

bool DesktopNotifier::notify(const QString& title, const QString& informativeText, bool critical) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("sound-name"), QStringLiteral("message-new-instant"));
    if (critical)
        hints.insert(QStringLiteral("urgency"), QVariant::fromValue(static_cast<uchar>(2)));
    QString body = informativeText;
    if (readsMarkup())
        body.replace(u'&', QStringLiteral("&amp;"))
            .replace(u'<', QStringLiteral("&lt;"))
            .replace(u'>', QStringLiteral("&gt;"));
    call << appName << static_cast<uint>(0) << appIcon << title << body << QStringList() << hints
         << static_cast<int>(-1);
    const QDBusMessage reply = connection_.call(call, QDBus::Block, replyTimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        logLine(QStringLiteral("Could not show notification \"") + title + QStringLiteral("\": ") +
                reply.errorMessage());
        return false;
    }
    return true;
}

} // namespace folvane
