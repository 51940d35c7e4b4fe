#pragma once

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QVariantMap>

namespace folvane::shell {

// Installs one package through PackageKit on the system bus: a transaction resolves the name to the
// package id of an available version, a second one installs it. PackageKit asks the user for the rights
// it needs (polkit), so the application itself never runs privileged.
class PackageKitInstaller : public QObject {
    Q_OBJECT
public:
    // Which packages PackageKit may install: only those from signed repositories (always, for users), or
    // any (PackageKit's dummy backend has nothing else).
    enum class Trust { onlyTrusted, any };

    explicit PackageKitInstaller(const QDBusConnection& systemBus = QDBusConnection::systemBus(),
                                 const QString& packageName = QStringLiteral("fuse3"),
                                 Trust trust = Trust::onlyTrusted, QObject* parent = nullptr);

    // Whether PackageKit runs or can be started on the bus.
    bool isAvailable() const;
    // Starts the installation; finished() tells the outcome. One installation at a time: a call while one
    // runs is ignored.
    void install();
    bool isInstalling() const { return step_ != Step::idle; }

signals:
    // 0 to 100, or -1 while PackageKit does not know.
    void progress(int percent);
    // ok false: `reason` says why (PackageKit's error, or that no installable version was found).
    void finished(bool ok, const QString& reason);

private slots:
    void onPackage(uint info, const QString& packageId, const QString& summary);
    void onErrorCode(uint code, const QString& details);
    void onFinished(uint exit, uint runtime);
    void onPropertiesChanged(const QString& interface, const QVariantMap& changed,
                             const QStringList& invalidated);

private:
    enum class Step { idle, resolving, installing };
    void startTransaction(Step step);
    void callOnTransaction(const QString& method, const QList<QVariant>& arguments);
    void watchTransaction(bool watch);
    void finish(bool ok, const QString& reason);

    QDBusConnection bus_;
    QString packageName_;
    Trust trust_;
    Step step_ = Step::idle;
    QString transactionPath_;
    QString availablePackageId_;
    QString errorDetails_;
};

} // namespace folvane::shell
