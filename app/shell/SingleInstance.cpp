#include "shell/SingleInstance.h"

#include "ConsoleLog.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace folvane::shell {

SingleInstance::SingleInstance(const QDBusConnection& sessionBus, QObject* parent)
    : QObject(parent), bus_(sessionBus) {}

SingleInstance::~SingleInstance() {
    if (claimed_) {
        bus_.unregisterObject(objectPath);
        bus_.unregisterService(serviceName);
    }
}

bool SingleInstance::claim() {
    if (claimed_)
        return true;
    if (!bus_.isConnected() || !bus_.interface())
        return false;
    // The object first, so a handover that arrives the moment the name is ours finds it.
    if (!bus_.registerObject(objectPath, this, QDBusConnection::ExportScriptableSlots))
        return false;
    const auto reply =
        bus_.interface()->registerService(serviceName, QDBusConnectionInterface::DontQueueService,
                                          QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        bus_.unregisterObject(objectPath);
        return false;
    }
    claimed_ = true;
    return true;
}

bool SingleInstance::handOver(const QString& url, const QDBusConnection& sessionBus) {
    if (!sessionBus.isConnected())
        return false;
    QDBusMessage call =
        url.isEmpty()
            ? QDBusMessage::createMethodCall(serviceName, objectPath, serviceName, QStringLiteral("Activate"))
            : QDBusMessage::createMethodCall(serviceName, objectPath, serviceName, QStringLiteral("OpenUrl"));
    if (!url.isEmpty())
        call << url;
    const QDBusMessage reply = sessionBus.call(call, QDBus::Block, 10'000);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        logLine(QStringLiteral("Could not reach the running Folvane 3: ") + reply.errorMessage());
        return false;
    }
    return true;
}

void SingleInstance::OpenUrl(const QString& url) {
    logLine(QStringLiteral("Heard deeplink"));
    emit urlReceived(url);
}

void SingleInstance::Activate() {
    emit activationRequested();
}

} // namespace folvane::shell
