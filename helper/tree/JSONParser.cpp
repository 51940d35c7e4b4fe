#include "JSONParser.h"

#include "ConsoleLog.h"
#include "SafeName.h"

#include <QDir>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace folvane {

namespace {
// Deeper nesting than this is no template tree; it is skipped rather than walked.
constexpr int maxDepth = 200;
thread_local int depth = 0;

struct DepthGuard {
    DepthGuard() { ++depth; }
    ~DepthGuard() { --depth; }
    bool tooDeep() const { return depth > maxDepth; }
};

QString quoted(const std::optional<QString>& text) {
    return text ? QStringLiteral("\"") + *text + u'"' : QStringLiteral("nil");
}

QString describe(const FolderRecord& record) {
    return QStringLiteral("(name: %1, templateGroupID: %2, isSpecial: %3, paths: %4)")
        .arg(record.name, quoted(record.templateGroupID),
             record.isSpecial ? (*record.isSpecial ? QStringLiteral("true") : QStringLiteral("false"))
                              : QStringLiteral("nil"),
             QString::number(record.paths.size()));
}

bool isPseudoGroupID(const std::optional<QString>& id) {
    return id && (*id == QLatin1String("variables") || *id == QLatin1String("snippets"));
}
} // namespace

JSONParser::JSONParser(std::shared_ptr<Json> rootJSON, const QString& basePath, WebsiteInUse& site)
    : mirror_(mirrorFolderPath(basePath, site.cachedFolderName.value_or(QString()))),
      rootJSON_(std::move(rootJSON)), cachedFolderName_(site.cachedFolderName), site_(site) {
    logLine(QStringLiteral("..."));
    logLine(QStringLiteral("Checking if cache exists"));
    logLine(basePath);
    basePath_ = basePath + Constants::cache;
    if (!QDir().mkpath(basePath_)) {
        logLine(QStringLiteral("Failed to make dir"));
        return;
    }
    // The mirror folder always starts empty; it exists even for an empty list so the volume has a root.
    QDir mirror(mirrorFolder());
    if ((mirror.exists() && !mirror.removeRecursively()) || !QDir().mkpath(mirror.path()))
        logLine(QStringLiteral("Failed to del dir"));
}

QString JSONParser::mirrorFolder() const {
    return mirror_;
}

void JSONParser::startParser() {
    checkedFolders_.clear();
    if (rootJSON_)
        startAtBaseJSON(*rootJSON_);
}

void JSONParser::startAtBaseJSON(Json& root) {
    if (!root.is_structured() || root.empty())
        return;
    if (!refreshing_) {
        basePath_ = mirrorFolder();
        logLine(QStringLiteral("newBasePath: ") + basePath_);
    }
    logLine(QStringLiteral("usedPath: ") + basePath_);
    for (Json& value : root)
        getSubJSONs(value, basePath_);
}

void JSONParser::getSubFolders(Json& collection, const QString& usedPath) {
    if (!collection.is_structured())
        return;
    for (Json& value : collection)
        getSubJSONs(value, usedPath);
}

void JSONParser::getSubJSONs(Json& value, const QString& usedPath) {
    const DepthGuard guard;
    if (guard.tooDeep()) {
        logLine(QStringLiteral("Skipping a template list nested too deeply below ") + usedPath);
        return;
    }
    if (value.is_array()) {
        for (Json& item : value)
            getSubJSONs(item, usedPath);
        return;
    }
    if (!value.is_object())
        return;

    const std::optional<QString> name = stringValue(value, "name");
    for (const auto& item : value.items()) {
        const std::string& key = item.key();
        Json& child = item.value();
        if (name && key == "subfolders") {
            logLine(QStringLiteral("Going into subfolders"));
            if (!isSafeComponent(*name)) {
                logLine(QStringLiteral("Skipping the subfolders of a group with an unusable name: ") + *name);
                continue;
            }
            getSubFolders(child, usedPath + u'/' + *name);
        } else if (key == "files") {
            if (site_.cms == CMS::default_)
                continue; // a site whose CMS is not known gets no folders at all
            logLine(QStringLiteral("Creating Folder2"));
            logLine(QStringLiteral("usedPath: ") + usedPath);
            const std::optional<QString> textID = stringValue(value, "id");
            const std::optional<bool> isSpecial = boolValue(value, "is_special");
            std::optional<QString> folderName;
            std::optional<QString> groupID;
            std::optional<bool> special;
            if (isPseudoGroupID(textID)) {
                folderName = *textID == QLatin1String("snippets") ? QStringLiteral("Partials") : name;
                groupID = textID;
                special = isSpecial;
                if (!special)
                    folderName.reset();
            } else if (site_.cms == CMS::expressionEngine) {
                if (const auto number = integerValue(value, "id"); number && isSpecial) {
                    folderName = name;
                    groupID = QString::number(*number);
                    special = isSpecial;
                }
            } else if (site_.cms == CMS::wordPress) {
                if (textID) {
                    folderName = name;
                    groupID = textID;
                    special = false;
                }
            }
            if (!folderName || !groupID) {
                logLine(QStringLiteral("Skipping a template group without the fields it needs below ") +
                        usedPath);
                continue;
            }
            if (!isSafeComponent(*folderName)) {
                logLine(QStringLiteral("Skipping a template group with an unusable name: ") + *folderName);
                continue;
            }
            createFolder(usedPath, u'/' + *folderName, groupID, special);
            createFiles(usedPath + u'/' + *folderName + u'/', child, *groupID);
        } else {
            getSubJSONs(child, usedPath);
        }
    }
}

void JSONParser::createFolder(const QString& parent, const QString& name,
                              const std::optional<QString>& templateGroupID, std::optional<bool> isSpecial) {
    logLine(QStringLiteral("Creating Folder"));
    const QString folder = parent + name; // `name` starts with "/"
    if (!makeFolder(folder)) {
        logLine(QStringLiteral("Failed to make dir"));
        return;
    }
    logLine(QStringLiteral("Dictionary entry for location ") + folder);
    site_.withDictionaries([&](PathDictionaries& d) {
        d.folderDictionary[folder] = FolderRecord{name, templateGroupID, isSpecial, {}};
        const auto parentRecord = d.folderDictionary.find(parent);
        logLine(QStringLiteral("path: ") + parent + QStringLiteral(", dictLookup: ") +
                (parentRecord == d.folderDictionary.end() ? QStringLiteral("nil")
                                                          : describe(parentRecord->second)));
        if (parentRecord != d.folderDictionary.end())
            parentRecord->second.paths.append(folder);
    });
}

void JSONParser::createFiles(const QString& folderPath, Json& templates, const QString& templateGroupID) {
    if (!templates.is_structured())
        return;
    const QString folder = folderPath.chopped(1);
    for (Json& entry : templates) {
        const std::optional<QString> data = stringValue(entry, "data");
        const std::optional<QString> name = stringValue(entry, "name");
        std::optional<QString> templateID;
        if (site_.cms == CMS::expressionEngine) {
            const auto number = integerValue(entry, "id");
            templateID = number ? QString::number(*number) : QString();
        } else if (site_.cms == CMS::wordPress) {
            templateID = stringValue(entry, "id");
        }
        if (!data || !name || !templateID)
            continue;
        if (!isSafeComponent(*name)) {
            logLine(QStringLiteral("Skipping a template with an unusable name in ") + folder +
                    QStringLiteral(": ") + *name);
            continue;
        }
        const auto decoded =
            QByteArray::fromBase64Encoding(data->toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        const QString path = folderPath + *name;
        site_.withDictionaries([&](PathDictionaries& d) {
            d.fileDictionary[path] = FileRecord{*name, templateGroupID, *templateID, data->toLatin1()};
            if (const auto parent = d.folderDictionary.find(folder); parent != d.folderDictionary.end())
                parent->second.paths.append(path);
        });
        writeFile(path, decoded ? *decoded : QByteArray());
        entry["data"] = Json(); // the record holds it now; a large site's list would otherwise be kept twice
    }
}

bool JSONParser::makeFolder(const QString& path) {
    // Folder by folder from the mirror down, never through a link: whatever is in the mirror already
    // (a link made on the volume, say) cannot lead a write outside it.
    const QString mirror = mirrorFolder();
    if (path != mirror && !path.startsWith(mirror + u'/'))
        return false;
    QString current = mirror;
    const QStringList parts = path.mid(mirror.size()).split(u'/', Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        current += u'/' + part;
        if (checkedFolders_.count(current))
            continue;
        const QByteArray native = QFile::encodeName(current);
        struct stat info {};
        if (::lstat(native.constData(), &info) != 0) {
            if (errno != ENOENT || (::mkdir(native.constData(), 0755) != 0 && errno != EEXIST))
                return false;
            if (::lstat(native.constData(), &info) != 0)
                return false;
        }
        if (!S_ISDIR(info.st_mode))
            return false;
        checkedFolders_.insert(current);
    }
    return true;
}

void JSONParser::writeFile(const QString& path, const QByteArray& bytes) {
    if (!makeFolder(path.left(path.lastIndexOf(u'/'))))
        return;
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        logLine(QStringLiteral("Failed to write ") + path);
        return;
    }
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n =
            ::write(fd, bytes.constData() + written, static_cast<size_t>(bytes.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            logLine(QStringLiteral("Failed to write ") + path);
            break;
        }
        written += n;
    }
    ::close(fd);
}

} // namespace folvane
