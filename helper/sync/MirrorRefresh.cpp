#include "MirrorRefresh.h"

#include "ConsoleLog.h"
#include "fs/VolumeControl.h"
#include "tree/MirrorBuilder.h"
#include "tree/MirrorWrite.h"
#include "tree/PathText.h"
#include "tree/SafeName.h"
#include "tree/TemplateListSpool.h"
#include "tree/WebsiteInUse.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <set>

#include <sys/stat.h>

namespace folvane {

MirrorRefresh::MirrorRefresh(WebsiteInUse& site, MirrorBuilder& parser, VolumeControl& cache,
                             QString mirrorFolder)
    : site_(site), parser_(parser), cache_(cache), mirror_(std::move(mirrorFolder)) {}

bool MirrorRefresh::rebuild(TemplateListSpool& list, const std::set<QString>& kept,
                            std::map<QString, QByteArray>* siteTexts) {
    // The records are rebuilt in place: every one the new list has is written again, and those it no
    // longer has are found afterwards. Setting the old records aside instead would hold a big site's
    // records twice for the whole rebuild.
    parser_.noteRecordedPaths();
    parser_.keepLocalFiles(kept);
    logLine(QStringLiteral("reparsing files"));
    const bool whole = list.buildInto(parser_);
    const std::set<QString> recorded = parser_.takeRecordedPaths();
    *siteTexts = parser_.takeSiteTexts();
    if (!whole) {
        // The list was checked whole before, so its end is missing only when reading it back failed; what
        // the rebuild did not reach is still in the mirror and keeps its record.
        logLine(QStringLiteral("The template list could not be read to its end; nothing is removed"));
        cache_.invalidateAll();
        return false;
    }

    logLine(QStringLiteral("Checking for new files and folders"));
    QStringList goneFiles, goneFolders;
    site_.withRecords([&](RecordTree& records) {
        for (const auto& [path, entry] : records.all())
            if (!recorded.count(path))
                (std::holds_alternative<FileRecord>(entry.record) ? goneFiles : goneFolders) << path;
        for (const QString& path : goneFiles + goneFolders)
            records.erase(path);
    });
    for (const QString& path : std::as_const(goneFiles)) {
        logLine(QStringLiteral("Deleted File Found"));
        if (kept.count(path))
            logLine(QStringLiteral("Keeping ") + path +
                    QStringLiteral(": the site has not confirmed its change"));
        else if (!QFile::remove(path) && QFile::exists(path))
            logLine(QStringLiteral("Could not remove ") + path);
        else
            cache_.invalidate(path.mid(mirror_.size()));
    }
    for (const QString& path : std::as_const(goneFolders)) {
        logLine(QStringLiteral("Delete Folder Found"));
        if (QFileInfo(path).isDir() && !removeAllButLocalOnly(path, kept))
            logLine(QStringLiteral("Keeping ") + path +
                    QStringLiteral(": it holds files that stay on this computer or changes not confirmed"));
        cache_.invalidate(path.mid(mirror_.size()));
    }
    cache_.invalidateAll();
    return true;
}

bool MirrorRefresh::removeAllButLocalOnly(const QString& folder, const std::set<QString>& kept) {
    QDir dir(folder);
    const QFileInfoList entries =
        dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        const QString path = entry.absoluteFilePath();
        if (neverSent(path.mid(mirror_.size())) || kept.count(path))
            continue;
        if (entry.isDir() && !entry.isSymLink())
            removeAllButLocalOnly(path, kept);
        else if (!QFile::remove(path))
            logLine(QStringLiteral("Could not remove ") + path);
    }
    return dir.rmdir(folder);
}

std::optional<MirrorRefresh::SiteVersion> MirrorRefresh::newerVersion(const Json& answer,
                                                                      const QString& file) {
    const Json* item = member(answer, "template");
    const std::optional<QString> name = item ? stringValue(*item, "name") : std::nullopt;
    const std::optional<QString> data = item ? stringValue(*item, "data") : std::nullopt;
    if (!name || !data)
        return std::nullopt;
    logLine(*name);
    const QByteArray encoded = data->toLatin1();
    const bool current = site_.withRecords([&](const RecordTree& records) {
        const FileRecord* record = records.file(file);
        return !record || (record->encodedData == ContentDigest::ofBase64(encoded) && record->name == *name);
    });
    if (current)
        return std::nullopt;
    if (!isSafeComponent(*name)) {
        logLine(QStringLiteral("Ignoring a template name that cannot be a file name: ") + *name);
        return std::nullopt;
    }
    const auto decoded = QByteArray::fromBase64Encoding(encoded, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) {
        logLine(QStringLiteral("Could not create new data to save."));
        return std::nullopt;
    }
    return SiteVersion{*name, encoded, *decoded};
}

QString MirrorRefresh::write(const SiteVersion& version, const QString& file) {
    const QString folder = file.left(file.lastIndexOf(u'/'));
    const QString target = folder + u'/' + version.name;
    if (target != file && QFile::exists(target)) {
        logLine(QStringLiteral("Not renaming ") + file + QStringLiteral(": ") + target +
                QStringLiteral(" exists"));
        return {};
    }
    // The site's text is written beside the file and takes its place only whole: a full disk leaves the file
    // and its record as they were. The user may have put a link in the file's place meanwhile: the rename
    // replaces the link, the text never goes through it.
    const QString part = folder + QStringLiteral("/.folvane-fetch-") + version.name;
    struct stat old {};
    const bool written =
        makeMirrorFolder(mirror_, folder) && writeMirrorFile(part, version.bytes) &&
        (::lstat(QFile::encodeName(file).constData(), &old) != 0 ||
         ::chmod(QFile::encodeName(part).constData(), old.st_mode & 07777) == 0) &&
        ::rename(QFile::encodeName(part).constData(), QFile::encodeName(target).constData()) == 0;
    if (!written) {
        QFile::remove(part);
        logLine(QStringLiteral("Could not write ") + target);
        return {};
    }
    if (target != file)
        QFile::remove(file);
    // The record follows the file at once, so the next save of the renamed file reaches its template.
    site_.withRecords([&](RecordTree& records) {
        if (records.file(file) && records.moveSubtree(file, target)) {
            FileRecord* record = records.file(target);
            record->encodedData = ContentDigest::ofBase64(version.encoded);
            record->name = version.name;
        }
    });
    cache_.invalidate(file.mid(mirror_.size()));
    if (target != file)
        cache_.invalidate(target.mid(mirror_.size()));
    return target;
}

} // namespace folvane
