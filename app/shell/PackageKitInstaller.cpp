#include "shell/PackageKitInstaller.h"

#include "ConsoleLog.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QLocale>

namespace folvane::shell {

namespace {

const QString service = QStringLiteral("org.freedesktop.PackageKit");
const QString path = QStringLiteral("/org/freedesktop/PackageKit");
const QString transactionInterface = QStringLiteral("org.freedesktop.PackageKit.Transaction");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

// PackageKit's enumerations, as far as they are used here.
constexpr quint64 filterNone = 1u << 1;
constexpr quint64 noFlags = 0;
constexpr quint64 onlyTrusted = 1u << 1;
constexpr uint infoAvailable = 2;
constexpr uint exitSuccess = 1;
constexpr uint percentageUnknown = 101;

} // namespace

PackageKitInstaller::PackageKitInstaller(const QDBusConnection& systemBus, const QString& packageName,
                                         Trust trust, QObject* parent)
    : QObject(parent), bus_(systemBus), packageName_(packageName), trust_(trust) {}

bool PackageKitInstaller::isAvailable() const {
    const QDBusConnectionInterface* daemon = bus_.isConnected() ? bus_.interface() : nullptr;
    if (!daemon)
        return false;
    if (daemon->isServiceRegistered(service))
        return true;
    const QDBusReply<QStringList> activatable = daemon->activatableServiceNames();
    return activatable.isValid() && activatable.value().contains(service);
}

void PackageKitInstaller::install() {
    if (isInstalling())
        return;
    availablePackageId_.clear();
    startTransaction(Step::resolving);
}

void PackageKitInstaller::startTransaction(Step step) {
    step_ = step;
    errorDetails_.clear();
    const QDBusMessage create =
        QDBusMessage::createMethodCall(service, path, service, QStringLiteral("CreateTransaction"));
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(create), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> reply = *call;
        if (reply.isError()) {
            finish(false, reply.error().message());
            return;
        }
        transactionPath_ = reply.value().path();
        watchTransaction(true);
        // "interactive": PackageKit may ask the user for the rights it needs.
        callOnTransaction(
            QStringLiteral("SetHints"),
            {QStringList{QStringLiteral("interactive=true"),
                         QStringLiteral("locale=") + QLocale().name() + QStringLiteral(".UTF-8")}});
        if (step_ == Step::resolving)
            callOnTransaction(QStringLiteral("Resolve"),
                              {QVariant::fromValue(filterNone), QStringList{packageName_}});
        else
            callOnTransaction(QStringLiteral("InstallPackages"),
                              {QVariant::fromValue(trust_ == Trust::onlyTrusted ? onlyTrusted : noFlags),
                               QStringList{availablePackageId_}});
    });
}

void PackageKitInstaller::callOnTransaction(const QString& method, const QList<QVariant>& arguments) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, transactionPath_, transactionInterface, method);
    call.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    const QString transaction = transactionPath_;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, method, transaction](QDBusPendingCallWatcher* reply) {
                reply->deleteLater();
                // A refused call ends the transaction without its Finished signal.
                if (reply->isError() && transaction == transactionPath_)
                    finish(false, method + QStringLiteral(": ") + reply->error().message());
            });
}

void PackageKitInstaller::watchTransaction(bool watch) {
    const auto hook = [&](const QString& interface, const QString& name, const char* slot) {
        if (watch)
            bus_.connect(service, transactionPath_, interface, name, this, slot);
        else
            bus_.disconnect(service, transactionPath_, interface, name, this, slot);
    };
    hook(transactionInterface, QStringLiteral("Package"), SLOT(onPackage(uint, QString, QString)));
    hook(transactionInterface, QStringLiteral("ErrorCode"), SLOT(onErrorCode(uint, QString)));
    hook(transactionInterface, QStringLiteral("Finished"), SLOT(onFinished(uint, uint)));
    hook(propertiesInterface, QStringLiteral("PropertiesChanged"),
         SLOT(onPropertiesChanged(QString, QVariantMap, QStringList)));
}

void PackageKitInstaller::onPackage(uint info, const QString& packageId, const QString&) {
    // A package id is "name;version;arch;repository".
    if (step_ == Step::resolving && info == infoAvailable && availablePackageId_.isEmpty() &&
        packageId.section(u';', 0, 0) == packageName_)
        availablePackageId_ = packageId;
}

void PackageKitInstaller::onErrorCode(uint, const QString& details) {
    errorDetails_ = details;
}

void PackageKitInstaller::onPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                              const QStringList&) {
    if (interface != transactionInterface || !changed.contains(QStringLiteral("Percentage")))
        return;
    const uint percentage = changed.value(QStringLiteral("Percentage")).toUInt();
    if (step_ == Step::installing)
        emit progress(percentage >= percentageUnknown ? -1 : int(percentage));
}

void PackageKitInstaller::onFinished(uint exit, uint) {
    const bool ok = exit == exitSuccess;
    if (ok && step_ == Step::resolving && !availablePackageId_.isEmpty()) {
        watchTransaction(false);
        logLine(QStringLiteral("Installing ") + availablePackageId_);
        emit progress(-1);
        startTransaction(Step::installing);
    } else if (ok && step_ == Step::installing) {
        finish(true, {});
    } else if (ok) {
        finish(false, QStringLiteral("no installable version of %1 was found").arg(packageName_));
    } else {
        finish(false,
               errorDetails_.isEmpty() ? QStringLiteral("PackageKit ended without success") : errorDetails_);
    }
}

void PackageKitInstaller::finish(bool ok, const QString& reason) {
    if (step_ == Step::idle)
        return;
    if (!transactionPath_.isEmpty())
        watchTransaction(false);
    step_ = Step::idle;
    transactionPath_.clear();
    emit finished(ok, reason);
}

} // namespace folvane::shell
