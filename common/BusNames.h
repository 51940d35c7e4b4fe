#pragma once

#include <QString>
#include <QVariantMap>
#include <optional>

// Names of the notifications exchanged between the application and its helpers, and inside a helper.
// Each name is one of these prefixes followed directly by the site title.
namespace folvane::bus {

// helper -> application
inline const QString finishedConnecting = QStringLiteral("finishedconnecting-");
inline const QString connectionTerminated = QStringLiteral("connection-terminated-");
inline const QString refreshDone = QStringLiteral("refresh-done-");
// {"title", "count"}: uploads the helper still has to make or have confirmed, on every change.
inline const QString pendingUploads = QStringLiteral("pending-uploads-");
// {"title", "files"}: the files behind that count, by name and state (see PendingFiles.h), on every change
// and in answer to "list-pending-".
inline const QString pendingFiles = QStringLiteral("pending-files-");
// application -> helper
inline const QString refresh = QStringLiteral("refresh-");
inline const QString newSessionID = QStringLiteral("newSessionID-");
// {}: the helper answers with "pending-files-".
inline const QString listPending = QStringLiteral("list-pending-");
// {"path"}: the helper sends that refused file to the site again.
inline const QString retry = QStringLiteral("retry-");
// {}: the helper ends as on SIGTERM (uploads still out get their grace, unconfirmed files are kept).
inline const QString eject = QStringLiteral("eject-");

// Every prefix above.
inline const QString allPrefixes[] = {
    finishedConnecting, connectionTerminated, refreshDone, pendingUploads, pendingFiles, refresh,
    newSessionID,       listPending,          retry,       eject};

// A prefix that is another one followed by more text lets two titles share a name: "refresh-" + "done-X"
// is "refresh-done-" + "X". Returns the start (such as "done-") that `title` must not have, or nothing.
inline std::optional<QString> clashingTitleStart(const QString& title) {
    for (const QString& shorter : allPrefixes)
        for (const QString& longer : allPrefixes)
            if (longer.size() > shorter.size() && longer.startsWith(shorter) &&
                title.startsWith(QStringView(longer).mid(shorter.size())))
                return longer.mid(shorter.size());
    return std::nullopt;
}

// User-information keys.
inline const QString keyTitle = QStringLiteral("title");
inline const QString keyRow = QStringLiteral("row");
inline const QString keyCount = QStringLiteral("count");
inline const QString keyFiles = QStringLiteral("files");
inline const QString keyPath = QStringLiteral("path");
// In "refresh-done-": present (with the reason as text) when the helper kept the volume as it was.
inline const QString keyNotRefreshed = QStringLiteral("notRefreshed");
// In "connection-terminated-": present when the helper ended because it was asked to, naming the request
// ("eject-", "signal 15"); absent after a mount failure or an unmount from outside.
inline const QString keyAskedBy = QStringLiteral("askedBy");

// The D-Bus shape every notification travels in.
inline const QString objectPath = QStringLiteral("/org/folvane/Bus");
inline const QString interfaceName = QStringLiteral("org.folvane.Bus");
inline const QString member = QStringLiteral("Notification");

inline QString named(const QString& prefix, const QString& title) {
    return prefix + title;
}

// A text value of a notification's user information; nothing when it is absent or not text.
inline std::optional<QString> textIn(const QVariantMap& userInfo, const QString& key) {
    const QVariant value = userInfo.value(key);
    return value.typeId() == QMetaType::QString ? std::optional(value.toString()) : std::nullopt;
}

} // namespace folvane::bus
