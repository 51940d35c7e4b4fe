#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QVariantMap>

// Console-log lines that the end-to-end tests and the tools that follow a helper read to learn what it did
// (mounted where, how big the site is, which volume changes it handled in which order). Their wording is
// an interface: keep every line here exactly as it is.
namespace folvane::logline {

inline const QString mountedAt = QStringLiteral("Mounted at ");
inline const QString didMount = QStringLiteral("Got didMount notification.");
inline const QString didUnmount = QStringLiteral("Got didUnmount notification.");
inline const QString mountFailed = QStringLiteral("Got mountFailed notification.");
inline const QString mountError = QStringLiteral("kGMUserFileSystem Error: ");
inline const QString detachingStaleMount = QStringLiteral("Detaching a mount left at ");
inline QString foundTemplates(qsizetype groups, qsizetype templates, const QString& mirror) {
    return QStringLiteral("Found %1 template groups and %2 templates in %3")
        .arg(groups)
        .arg(templates)
        .arg(mirror);
}

// One line per event the helper handles (each volume change, each refresh request): the event's name and
// the site title, then its details as compact JSON (keys in alphabetical order).
inline const QString fileCreated = QStringLiteral("createfile-");
inline const QString folderMade = QStringLiteral("createddirectory-");
inline const QString fileWritten = QStringLiteral("writingfile-");
inline const QString moved = QStringLiteral("movefile-");
inline const QString fileRemoved = QStringLiteral("deletefile-");
inline const QString folderRemoved = QStringLiteral("deletefolder-");
inline QString eventLine(const QString& name, const QString& title, const QVariantMap& details) {
    return name + title + u' ' +
           QString::fromUtf8(
               QJsonDocument(QJsonObject::fromVariantMap(details)).toJson(QJsonDocument::Compact));
}

// One line for each upload the site has answered for good, in words for a person: what a quiet front end
// shows of the log ("Saved news/index.html", "Could not save news/index.html: <the add-on's message>").
inline const QString saved = QStringLiteral("Saved ");
inline const QString notSaved = QStringLiteral("Could not save ");
inline QString uploadOutcome(const QString& volumePath, bool accepted, const QString& refusal) {
    const QString shown = volumePath.startsWith(u'/') ? volumePath.mid(1) : volumePath;
    if (accepted)
        return saved + shown;
    return notSaved + shown + QStringLiteral(": ") +
           (refusal.isEmpty() ? QStringLiteral("the site refused it without a reason") : refusal);
}
inline bool isUploadOutcome(const QString& line) {
    return line.startsWith(saved) || line.startsWith(notSaved);
}

} // namespace folvane::logline
