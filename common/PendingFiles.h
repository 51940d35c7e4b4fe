#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>

namespace folvane {

// A file whose content the site has not confirmed yet, as a helper reports it in "pending-files-"; or a
// notice about one (changedOnSite: someone else had changed it on the site, whose version was kept).
struct PendingFile {
    enum class State { waiting, sending, refused, retrying, changedOnSite };
    // A constructor rather than an aggregate, so that lists written before `copy` existed stay complete.
    PendingFile(QString path = {}, State state = State::waiting, QString message = {}, QString copy = {},
                QDateTime nextTry = {})
        : path(std::move(path)), state(state), message(std::move(message)), copy(std::move(copy)),
          nextTry(std::move(nextTry)) {}
    QString path; // below the volume, starting with "/"
    State state = State::waiting;
    QString message;   // refused: what the add-on answered, when it said anything
    QString copy;      // changedOnSite: where the site's version is kept
    QDateTime nextTry; // retrying: when it is sent again, when that is known (UTC)

    bool operator==(const PendingFile&) const = default;
};

// "waiting", "sending", "refused", "retrying", "changed-on-site": the words on the bus and in
// `folvane3 status --json`.
QString stateName(PendingFile::State state);
std::optional<PendingFile::State> stateNamed(const QString& name);

// The list as one text (a JSON array of {"path", "state", "message"}, and "copy" and "nextTry" (ISO 8601,
// UTC) where there is one), so it travels as a D-Bus string.
QString pendingFilesText(const QList<PendingFile>& files);
// Entries without a path or with an unknown state are left out; text that is no array gives none.
QList<PendingFile> pendingFilesFrom(const QString& text);
// One entry as that array holds it (also the form of `folvane3 status --json`).
QJsonObject pendingFileObject(const PendingFile& file);

} // namespace folvane
