#include "PendingFiles.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <array>
#include <utility>

namespace folvane {

namespace {
constexpr std::array<std::pair<PendingFile::State, const char*>, 5> stateNames{{
    {PendingFile::State::waiting, "waiting"},
    {PendingFile::State::sending, "sending"},
    {PendingFile::State::refused, "refused"},
    {PendingFile::State::retrying, "retrying"},
    {PendingFile::State::changedOnSite, "changed-on-site"},
}};
} // namespace

QString stateName(PendingFile::State state) {
    for (const auto& [known, name] : stateNames)
        if (known == state)
            return QString::fromLatin1(name);
    return {};
}

std::optional<PendingFile::State> stateNamed(const QString& name) {
    for (const auto& [state, known] : stateNames)
        if (name == QLatin1String(known))
            return state;
    return std::nullopt;
}

QJsonObject pendingFileObject(const PendingFile& file) {
    QJsonObject object{{QStringLiteral("path"), file.path},
                       {QStringLiteral("state"), stateName(file.state)},
                       {QStringLiteral("message"), file.message}};
    if (!file.copy.isEmpty())
        object.insert(QStringLiteral("copy"), file.copy);
    if (file.nextTry.isValid())
        object.insert(QStringLiteral("nextTry"), file.nextTry.toUTC().toString(Qt::ISODate));
    return object;
}

QString pendingFilesText(const QList<PendingFile>& files) {
    QJsonArray array;
    for (const PendingFile& file : files)
        array.append(pendingFileObject(file));
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

QList<PendingFile> pendingFilesFrom(const QString& text) {
    QList<PendingFile> files;
    for (const QJsonValue& entry : QJsonDocument::fromJson(text.toUtf8()).array()) {
        const QJsonObject object = entry.toObject();
        const QString path = object.value(QStringLiteral("path")).toString();
        const auto state = stateNamed(object.value(QStringLiteral("state")).toString());
        if (path.isEmpty() || !state)
            continue;
        files.append(
            {path, *state, object.value(QStringLiteral("message")).toString(),
             object.value(QStringLiteral("copy")).toString(),
             QDateTime::fromString(object.value(QStringLiteral("nextTry")).toString(), Qt::ISODate)});
    }
    return files;
}

} // namespace folvane
