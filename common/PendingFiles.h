#pragma once

#include <QList>
#include <QString>
#include <optional>

namespace folvane {

// A file whose content the site has not confirmed yet, as a helper reports it in "pending-files-".
struct PendingFile {
    enum class State { waiting, sending, refused, retrying };
    QString path; // below the volume, starting with "/"
    State state = State::waiting;
    QString message; // refused: what the add-on answered, when it said anything

    bool operator==(const PendingFile&) const = default;
};

// "waiting", "sending", "refused", "retrying": the words on the bus and in `folvane3 status --json`.
QString stateName(PendingFile::State state);
std::optional<PendingFile::State> stateNamed(const QString& name);

// The list as one text (a JSON array of {"path", "state", "message"}), so it travels as a D-Bus string.
QString pendingFilesText(const QList<PendingFile>& files);
// Entries without a path or with an unknown state are left out; text that is no array gives none.
QList<PendingFile> pendingFilesFrom(const QString& text);

} // namespace folvane
