#include "SiteConnections.h"

#include "FileManager.h"
#include "SharedPreferences.h"
#include "TextBool.h"

namespace folvane {

SiteConnections::SiteConnections(SiteListManager& sites, SharedPreferences& preferences, HelperSetup setup,
                                 QDBusConnection sessionBus, QDBusConnection systemBus)
    : preferences_(preferences), bus_(sessionBus), notifier_(sessionBus),
      control_(sites, preferences, bus_, http_, std::move(setup)), wake_(sessionBus, std::move(systemBus)) {
    QObject::connect(&wake_, &WakeWatcher::woke, &control_, &ConnectionControl::wakeFromSleep);
    QObject::connect(
        &control_, &ConnectionControl::siteConnected, &control_,
        [this](const QString& title, const QString& mountPoint) { announceConnected(title, mountPoint); });
}

// Only a server that shows the button gets this notification: elsewhere it would say nothing the site's row
// (or the command's output) does not.
void SiteConnections::announceConnected(const QString& title, const QString& mountPoint) {
    if (!textBoolValue(preferences_.strPreferences(SharedPreferences::enableNotifications)) ||
        !notifier_.serverShowsActions())
        return;
    notifier_.notify(QObject::tr("Connected"), QObject::tr("“%1” is mounted at %2").arg(title, mountPoint),
                     false, {{QStringLiteral("open-folder"), QObject::tr("Open folder"), [mountPoint] {
                                  showInFileManager(mountPoint);
                              }}});
}

} // namespace folvane
