#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QUrl>
#include <optional>

namespace folvane::shell {

// One release in the update feed (an RSS "appcast").
struct AppcastItem {
    QString version; // sparkle:shortVersionString, else sparkle:version, of the item or its enclosure
    QString title;
    QUrl downloadPage; // the item's link, else its enclosure's url
};

// The newest release of the feed; nothing when the feed is not RSS or names no release with a version.
// Items without a version or address are skipped.
std::optional<AppcastItem> newestRelease(const QByteArray& feed);

// Whether the release is newer than the running version (numeric comparison, so 3.10 is above 3.9).
bool isNewerRelease(const AppcastItem& release, const QString& runningVersion);

// Automatic checks run once a day: due when the last one is unknown, a day old, or in the future (a
// clock that was set back).
bool updateCheckDue(const QDateTime& lastCheck, const QDateTime& now);

} // namespace folvane::shell
