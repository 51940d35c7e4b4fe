#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

namespace folvane::shell {

// One Folvane 3 window per desktop session. The first GUI process owns a name on the session bus; a later
// one hands its deep link (or just the wish to be seen) to it and exits.
class SingleInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.folvane.Folvane3")
public:
    static inline const QString serviceName = QStringLiteral("org.folvane.Folvane3");
    static inline const QString objectPath = QStringLiteral("/org/folvane/Folvane3");

    explicit SingleInstance(const QDBusConnection& sessionBus = QDBusConnection::sessionBus(),
                            QObject* parent = nullptr);
    ~SingleInstance() override;

    // True: this process is the first and now owns the name. False: another owns it, or there is no
    // session bus (then the caller goes on alone).
    bool claim();
    // Gives the running instance this URL (empty: only bring its window up). True when it took it.
    static bool handOver(const QString& url,
                         const QDBusConnection& sessionBus = QDBusConnection::sessionBus());

public slots:
    // Called over D-Bus by a later process.
    Q_SCRIPTABLE void OpenUrl(const QString& url);
    Q_SCRIPTABLE void Activate();

signals:
    void urlReceived(const QString& url);
    void activationRequested();

private:
    QDBusConnection bus_;
    bool claimed_ = false;
};

} // namespace folvane::shell
