#include "MirrorRefresh.h"

#include "ConsoleLog.h"
#include "fs/VolumeControl.h"
#include "fs/VolumeEvents.h"
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

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace folvane {

MirrorRefresh::MirrorRefresh(WebsiteInUse& site, MirrorBuilder& parser, VolumeControl& cache,
                             QString mirrorFolder)
    : site_(site), parser_(parser), cache_(cache), mirror_(std::move(mirrorFolder)) {}

bool MirrorRefresh::rebuild(TemplateListSpool& list, const std::set<QString>& kept,
                            std::map<QString, QByteArray>* siteTexts) {
    // The records are rebuilt in place: every one the new list has is written again, and those it no
    // longer has are found afterwards. Setting the old records aside instead would hold a big site's
    // records twice for the whole rebuild.
    const auto began = std::chrono::system_clock::now();
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
        cache_.invalidateChangedSince(began);
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
    cache_.invalidateChangedSince(began);
    return true;
}

bool MirrorRefresh::removeAllButLocalOnly(const QString& folder, const std::set<QString>& kept) {
    QDir dir(folder);
    const QFileInfoList entries =
        dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        const QString path = entry.absoluteFilePath();
        if ((neverSent(path.mid(mirror_.size())) && !isRemovedOpenFile(path)) || kept.count(path))
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

namespace {

// Opens the file for writing (made where it is missing, never through a link or into a FIFO) with room for
// `size` bytes taken on its disk; -1, leaving nothing behind, when either failed.
int openWithRoom(const QString& path, qsizetype size) {
    const QByteArray native = QFile::encodeName(path);
    struct stat info {};
    const bool existed = ::lstat(native.constData(), &info) == 0;
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd == -1 || size == 0 || ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, size) == 0 || errno == EOPNOTSUPP)
        return fd;
    ::close(fd);
    if (!existed)
        ::unlink(native.constData());
    return -1;
}

} // namespace

QString MirrorRefresh::write(const SiteVersion& version, const QString& file) {
    const QString folder = parentOf(file);
    const QString target = folder + u'/' + version.name;
    if (target != file && QFile::exists(target)) {
        logLine(QStringLiteral("Not renaming ") + file + QStringLiteral(": ") + target +
                QStringLiteral(" exists"));
        return {};
    }
    // The file keeps its inode (a handle another program holds goes on writing into it), and the room for
    // the site's text is taken before anything changes: a full disk leaves the file, its name and its record
    // as they were.
    const int fd = makeMirrorFolder(mirror_, folder) ? openWithRoom(file, version.bytes.size()) : -1;
    if (fd == -1 || (target != file && !QFile::rename(file, target))) {
        logLine(QStringLiteral("Could not write ") + target);
        if (fd != -1)
            ::close(fd);
        return {};
    }
    // The record follows the file at once, so the next save of the renamed file reaches its template.
    site_.withRecords([&](RecordTree& records) {
        if (records.file(file) && records.moveSubtree(file, target)) {
            FileRecord* record = records.file(target);
            record->encodedData = ContentDigest::ofBase64(version.encoded);
            record->name = version.name;
        }
    });
    // Written from the start of the file just opened, then cut to the text's length.
    const bool written = writeAll(fd, version.bytes) && ::ftruncate(fd, version.bytes.size()) == 0;
    if (::close(fd) != 0 || !written)
        logLine(QStringLiteral("Could not write ") + target);
    cache_.invalidate(file.mid(mirror_.size()));
    if (target != file)
        cache_.invalidate(target.mid(mirror_.size()));
    return target;
}

} // namespace folvane
