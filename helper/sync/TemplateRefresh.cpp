#include "TemplateRefresh.h"

#include "AnswerWait.h"
#include "BusNames.h"
#include "ConsoleLog.h"
#include "FileSync.h"
#include "NotificationBus.h"
#include "Recovery.h"
#include "addon/SiteConnectionHelper.h"
#include "tree/JSONParser.h"
#include "tree/SafeName.h"
#include "tree/WebsiteInUse.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSaveFile>

namespace folvane {

TemplateRefresh::TemplateRefresh(WebsiteInUse& site, SiteConnectionHelper& client, JSONParser& parser,
                                 FileSync& files, Recovery& recovery, NotificationBus& bus,
                                 QString mirrorFolder, QObject* parent)
    : QObject(parent), site_(site), client_(client), parser_(parser), files_(files), recovery_(recovery),
      bus_(bus), mirror_(std::move(mirrorFolder)) {}

void TemplateRefresh::refreshTemplates(const QVariantMap& userInfo) {
    // The site is asked while events keep flowing, so a second request can arrive meanwhile: it waits for
    // the first to end, and the answers go out in the order they were asked for.
    waiting_.push_back(userInfo);
    if (waiting_.size() > 1)
        return;
    while (!waiting_.empty() && !AnswerWait::abandoned()) {
        refreshOnce(waiting_.front());
        waiting_.pop_front();
    }
    waiting_.clear();
}

void TemplateRefresh::refreshOnce(const QVariantMap& userInfo) {
    const auto answer = [&] { bus_.post(bus::named(bus::refreshDone, site_.title()), userInfo); };
    const auto keepVolume = [&](const QString& why) {
        logLine(QStringLiteral("Refresh: ") + why + QStringLiteral("; keeping the volume as it is"));
        answer();
    };
    // The list must show the site after the user's changes: they go first, and a change made while the list
    // is on its way makes it stale (rebuilding from it would also replace the records those changes need).
    files_.settle(settleMs);
    if (!waitUntilQuiet(settleMs))
        return keepVolume(QStringLiteral("changes are still on their way to the site"));
    const quint64 changesBefore = files_.lastOrder();
    const std::shared_ptr<Json> list = client_.requestSite();
    if (AnswerWait::abandoned())
        return; // the helper is ending and its mirror is going
    if (!list || !member(*list, "folders"))
        return keepVolume(QStringLiteral("the template list could not be fetched"));
    // Changes the volume made while the list was on its way may still be on their way to this thread.
    QCoreApplication::processEvents();
    if (files_.lastOrder() != changesBefore || !waitUntilQuiet(0))
        return keepVolume(QStringLiteral("the volume changed while the list was fetched"));
    recovery_.keep(files_.unconfirmedFiles());

    const PathDictionaries old = site_.withDictionaries([](PathDictionaries& d) {
        PathDictionaries copy = std::move(d);
        d = PathDictionaries{};
        return copy;
    });
    parser_.setRefreshing(true);
    parser_.setJSON(list);
    logLine(QStringLiteral("reparsing files"));
    parser_.startParser();
    parser_.setJSON(nullptr);
    client_.templateJSON.reset();

    logLine(QStringLiteral("Checking for new files and folders"));
    const PathDictionaries fresh = site_.withDictionaries([](PathDictionaries& d) { return d; });
    for (const auto& [path, record] : old.fileDictionary) {
        if (fresh.fileDictionary.count(path))
            continue;
        logLine(QStringLiteral("Deleted File Found"));
        if (!QFile::remove(path) && QFile::exists(path))
            logLine(QStringLiteral("Could not remove ") + path);
        else if (invalidate)
            invalidate(path.mid(mirror_.size()));
    }
    for (const auto& [path, record] : old.folderDictionary) {
        if (fresh.folderDictionary.count(path))
            continue;
        logLine(QStringLiteral("Delete Folder Found"));
        QDir folder(path);
        if (folder.exists() && !folder.removeRecursively())
            logLine(QStringLiteral("Could not remove ") + path);
        else if (invalidate)
            invalidate(path.mid(mirror_.size()));
    }
    files_.forgetAll();
    if (invalidate)
        invalidate(QString());
    parser_.setRefreshing(false);
    answer();
}

bool TemplateRefresh::waitUntilQuiet(int ms) {
    const QDeadlineTimer deadline(ms);
    while (changesPending && changesPending() && !deadline.hasExpired() && !AnswerWait::abandoned())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    return !(changesPending && changesPending());
}

void TemplateRefresh::getNewTemplateData(const QVariantMap& userInfo) {
    logLine(QStringLiteral("Getting new template data"));
    const std::optional<QString> path = bus::textIn(userInfo, bus::keyPath);
    if (!path)
        return;
    const QString lookup = mirror_ + *path;
    logLine(lookup);
    const std::optional<FileRecord> record =
        site_.withDictionaries([&](PathDictionaries& d) -> std::optional<FileRecord> {
            const auto found = d.fileDictionary.find(lookup);
            return found == d.fileDictionary.end() ? std::nullopt : std::optional(found->second);
        });
    if (!record)
        return;
    logLine(QStringLiteral("templateGroupID: ") + record->templateGroupID + QStringLiteral(", templateID: ") +
            record->templateID);
    client_.getTemplate(record->templateGroupID, record->templateID,
                        [this, lookup](const Json& answer) { updateTemplate(answer, lookup); });
}

void TemplateRefresh::updateTemplate(const Json& answer, const QString& lookup) {
    const Json* item = member(answer, "template");
    const std::optional<QString> name = item ? stringValue(*item, "name") : std::nullopt;
    const std::optional<QString> data = item ? stringValue(*item, "data") : std::nullopt;
    if (!name || !data)
        return;
    logLine(*name);
    const QByteArray encoded = data->toLatin1();
    const bool current = site_.withDictionaries([&](PathDictionaries& d) {
        const auto record = d.fileDictionary.find(lookup);
        return record == d.fileDictionary.end() ||
               (record->second.encodedData == encoded && record->second.name == *name);
    });
    if (current)
        return;
    const FileSync::LocalState local = files_.localState(lookup);
    if (local == FileSync::LocalState::pending)
        return; // the user's newer content is on its way to the site
    if (local == FileSync::LocalState::unconfirmed)
        recovery_.keep({lookup});
    if (!isSafeComponent(*name)) {
        logLine(QStringLiteral("Ignoring a template name that cannot be a file name: ") + *name);
        return;
    }
    const auto decoded = QByteArray::fromBase64Encoding(encoded, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) {
        logLine(QStringLiteral("Could not create new data to save."));
        return;
    }
    const QString target = lookup.left(lookup.lastIndexOf(u'/') + 1) + *name;
    if (target != lookup && QFile::exists(target)) {
        logLine(QStringLiteral("Not renaming ") + lookup + QStringLiteral(": ") + target +
                QStringLiteral(" exists"));
        return;
    }
    if (target != lookup && !QFile::rename(lookup, target)) {
        logLine(QStringLiteral("Could not rename ") + lookup + QStringLiteral(" to ") + target);
        return;
    }
    // The record follows the file at once, so the next save of the renamed file reaches its template.
    site_.withDictionaries([&](PathDictionaries& d) {
        if (FileRecord* record = d.moveFileRecord(lookup, target)) {
            record->encodedData = encoded;
            record->name = *name;
        }
    });
    QSaveFile file(target);
    file.setDirectWriteFallback(true);
    const QByteArray bytes = *decoded;
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        logLine(QStringLiteral("Could not write ") + target);
    files_.forgetAll();
    if (invalidate) {
        invalidate(lookup.mid(mirror_.size()));
        if (target != lookup)
            invalidate(target.mid(mirror_.size()));
    }
}

} // namespace folvane
