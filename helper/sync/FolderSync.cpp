#include "FolderSync.h"

#include "BusNames.h"
#include "ConsoleLog.h"
#include "DesktopNotifier.h"
#include "FileSync.h"
#include "addon/SiteConnectionHelper.h"
#include "tree/PathText.h"
#include "tree/WebsiteInUse.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace folvane {

namespace {

void removeChild(FolderRecord& parent, const QString& child) {
    const QStringList old = parent.paths;
    parent.paths.clear();
    for (const QString& entry : old)
        if (entry != child)
            parent.paths.append(entry);
}
} // namespace

FolderSync::FolderSync(WebsiteInUse& site, SiteConnectionHelper& client, FileSync& files,
                       DesktopNotifier& notifier, QString mirrorFolder, QObject* parent)
    : QObject(parent), site_(site), client_(client), files_(files), notifier_(notifier),
      mirror_(std::move(mirrorFolder)) {}

bool FolderSync::deferUntilGroupReady(const QString& folder, std::function<void()> then) {
    for (QString path = folder; path.size() > mirror_.size(); path = parentOf(path)) {
        if (auto waiting = waitingForGroup_.find(path); waiting != waitingForGroup_.end()) {
            waiting->second.push_back(std::move(then));
            return true;
        }
    }
    return false;
}

void FolderSync::createDirectoryWithPath(const QVariantMap& userInfo) {
    logLine(QStringLiteral("Creating Folder"));
    const std::optional<QString> path = bus::textIn(userInfo, bus::keyPath);
    if (!path)
        return;
    const QString volumePath = *path;
    const QString folder = site(volumePath), parent = parentOf(folder), name = nameOf(folder);
    logLine(name);
    if (deferUntilGroupReady(parent, [this, userInfo] { createDirectoryWithPath(userInfo); }))
        return;
    const QString parentID = site_.withDictionaries([&](PathDictionaries& d) {
        auto record = d.folderDictionary.find(parent);
        if (record == d.folderDictionary.end())
            return QString();
        record->second.paths.append(folder);
        return record->second.templateGroupID.value_or(QString());
    });
    if (name.startsWith(u'.'))
        return;
    waitingForGroup_[folder];
    client_.createTemplateGroupAt(
        name, parentID, [=, this](std::optional<QString> groupID, std::optional<bool> special) {
            logLine(QStringLiteral("templateGroupID: ") + groupID.value_or(QStringLiteral("nil")) +
                    QStringLiteral(", isSpecial: ") +
                    (special ? (*special ? QStringLiteral("true") : QStringLiteral("false"))
                             : QStringLiteral("nil")));
            if (groupID && special && !groupID->isEmpty()) {
                site_.withDictionaries([&](PathDictionaries& d) {
                    d.folderDictionary[folder] = FolderRecord{name, groupID, special, {}};
                });
                if (site_.cms == CMS::expressionEngine) {
                    // Every ExpressionEngine group gets an index template, created like any new file.
                    QFile index(folder + QStringLiteral("/index.php"));
                    if (!index.exists() && index.open(QIODevice::WriteOnly)) {
                        index.close();
                        if (invalidate)
                            invalidate(volumePath);
                        files_.createNewFileAt({{bus::keyPath, volumePath + QStringLiteral("/index.php")}});
                    }
                }
            }
            releaseGroup(folder);
        });
}

void FolderSync::releaseGroup(const QString& folder) {
    const auto waiting = waitingForGroup_.find(folder);
    if (waiting == waitingForGroup_.end())
        return;
    std::vector<std::function<void()>> continuations = std::move(waiting->second);
    waitingForGroup_.erase(waiting);
    for (auto& next : continuations)
        next();
}

void FolderSync::deleteTemplateGroup(const QVariantMap& userInfo) {
    const std::optional<QString> path = bus::textIn(userInfo, bus::keyPath);
    if (!path)
        return;
    const QString folder = site(*path);
    const std::optional<QString> groupID =
        site_.withDictionaries([&](PathDictionaries& d) -> std::optional<QString> {
            std::optional<QString> id;
            if (auto record = d.folderDictionary.find(folder); record != d.folderDictionary.end())
                id = record->second.templateGroupID;
            if (auto parent = d.folderDictionary.find(parentOf(folder)); parent != d.folderDictionary.end())
                removeChild(parent->second, folder);
            d.folderDictionary.erase(folder);
            return id;
        });
    if (groupID)
        client_.deleteTemplateGroupAt(*groupID);
}

void FolderSync::moveFolderEvent(const QString& source, const QString& destination) {
    const QString sourceRelative = source.mid(mirror_.size()),
                  destinationRelative = destination.mid(mirror_.size());
    files_.folderMoved(source, destination);
    if (sourceRelative.count(u'/') == destinationRelative.count(u'/') &&
        parentOf(source) == parentOf(destination))
        renameGroupAt(source, nameOf(destination));
    else
        moveFolder(source, destination, parentOf(source), parentOf(destination));
    files_.refreshGroupIDs();
}

void FolderSync::renameGroupAt(const QString& source, const QString& name) {
    logLine(QStringLiteral("Renaming template group"));
    const QString parent = parentOf(source), destination = parent + u'/' + name;
    const std::optional<QString> oldID =
        site_.withDictionaries([&](PathDictionaries& d) -> std::optional<QString> {
            const auto record = d.folderDictionary.find(source);
            if (record == d.folderDictionary.end())
                return std::nullopt;
            FolderRecord copy = record->second;
            const std::optional<QString> id = copy.templateGroupID;
            d.folderDictionary[destination] = copy;
            return id;
        });
    if (!oldID)
        return;
    const std::optional<QString> parentID =
        site_.withDictionaries([&](PathDictionaries& d) -> std::optional<QString> {
            const auto record = d.folderDictionary.find(parent);
            return record == d.folderDictionary.end() ? std::nullopt : record->second.templateGroupID;
        });
    if (site_.cms == CMS::wordPress && parentID) {
        const QString newID = *parentID + u'/' + name;
        // The parent lists the folder under its new name too, or a later move of it would find it unlisted
        // and leave every record below it behind.
        site_.withDictionaries([&](PathDictionaries& d) {
            d.folderDictionary[destination].templateGroupID = newID;
            if (auto parentRecord = d.folderDictionary.find(parent);
                parentRecord != d.folderDictionary.end()) {
                removeChild(parentRecord->second, source);
                parentRecord->second.paths.append(destination);
            }
        });
        updateMovedPathsRecursive(destination, newID);
    } else {
        const std::optional<QStringList> listing = getFilesAtPath(destination);
        site_.withDictionaries([&](PathDictionaries& d) {
            if (auto parentRecord = d.folderDictionary.find(parent);
                parentRecord != d.folderDictionary.end()) {
                removeChild(parentRecord->second, source);
                parentRecord->second.paths.append(destination);
            }
            if (!listing)
                return;
            FolderRecord& record = d.folderDictionary[destination];
            record.paths.clear();
            for (const QString& entry : *listing) {
                record.paths.append(destination + u'/' + entry);
                if (auto file = d.fileDictionary.find(source + u'/' + entry);
                    file != d.fileDictionary.end()) {
                    FileRecord moved = file->second;
                    d.fileDictionary.erase(file);
                    d.fileDictionary[destination + u'/' + entry] = moved;
                }
            }
        });
    }
    waitingForGroup_[destination];
    client_.renameTemplateGroup(*oldID, name, [this, destination](const SiteConnectionHelper::Outcome&) {
        releaseGroup(destination);
    });
}

void FolderSync::moveFolder(const QString& source, const QString& destination, const QString& sourceParent,
                            const QString& destinationParent) {
    const auto ids = site_.withDictionaries([&](PathDictionaries& d) {
        std::pair<std::optional<QString>, std::optional<QString>> found;
        if (auto s = d.folderDictionary.find(source); s != d.folderDictionary.end())
            found.first = s->second.templateGroupID;
        if (auto p = d.folderDictionary.find(destinationParent); p != d.folderDictionary.end())
            found.second = p->second.templateGroupID;
        else if (destinationParent == mirror_)
            found.second = QString(); // out to the volume's top level: a top-level group
        return found;
    });
    if (!ids.first || !ids.second)
        return;
    waitingForGroup_[destination];
    client_.moveFolder(*ids.first, *ids.second,
                       [=, this](std::optional<bool> success, std::optional<QString> newID) {
                           if (success == true)
                               moved(source, destination, sourceParent, destinationParent, newID);
                           releaseGroup(destination);
                       });
}

void FolderSync::moved(const QString& source, const QString& destination, const QString& sourceParent,
                       const QString& destinationParent, const std::optional<QString>& newID) {
    // The site has moved the group: its records follow whether or not its old parent listed it (nothing
    // lists the top-level folders), or the files below it would no longer reach their templates.
    const bool known = site_.withDictionaries([&](PathDictionaries& d) {
        auto record = d.folderDictionary.find(source);
        if (record == d.folderDictionary.end())
            return false;
        FolderRecord copy = record->second;
        copy.templateGroupID = newID;
        d.folderDictionary[destination] = copy;
        return true;
    });
    if (!known)
        return;
    updateMovedPathsRecursive(destination, newID.value_or(QString()));
    site_.withDictionaries([&](PathDictionaries& d) {
        d.folderDictionary.erase(source);
        if (auto target = d.folderDictionary.find(destinationParent);
            target != d.folderDictionary.end() && !target->second.paths.contains(destination))
            target->second.paths.append(destination);
        if (auto parent = d.folderDictionary.find(sourceParent); parent != d.folderDictionary.end())
            removeChild(parent->second, source);
    });
    files_.refreshGroupIDs();
}

void FolderSync::updateMovedPathsRecursive(const QString& path, const QString& groupID) {
    const QStringList children = site_.withDictionaries([&](PathDictionaries& d) {
        auto record = d.folderDictionary.find(path);
        if (record == d.folderDictionary.end())
            return QStringList();
        const QStringList old = record->second.paths;
        record->second.paths.clear();
        return old;
    });
    for (const QString& child : children) {
        const QString name = nameOf(child), moved = path + u'/' + name;
        const QFileInfo info(moved);
        site_.withDictionaries([&](PathDictionaries& d) {
            if (auto record = d.folderDictionary.find(path); record != d.folderDictionary.end())
                record->second.paths.append(moved);
        });
        if (info.isDir() && !info.isSymLink()) {
            const QString childID = groupID + u'/' + name;
            site_.withDictionaries([&](PathDictionaries& d) {
                if (auto record = d.folderDictionary.find(child); record != d.folderDictionary.end()) {
                    FolderRecord copy = record->second;
                    copy.templateGroupID = childID;
                    d.folderDictionary[moved] = copy;
                }
            });
            updateMovedPathsRecursive(moved, childID);
            site_.withDictionaries([&](PathDictionaries& d) {
                if (child != moved)
                    d.folderDictionary.erase(child);
            });
        } else if (info.isFile()) {
            site_.withDictionaries([&](PathDictionaries& d) {
                if (auto record = d.fileDictionary.find(child); record != d.fileDictionary.end()) {
                    FileRecord copy = record->second;
                    copy.templateGroupID = groupID;
                    d.fileDictionary[moved] = copy;
                }
            });
        }
    }
}

std::optional<QStringList> FolderSync::getFilesAtPath(const QString& path) {
    const QDir folder(path);
    if (!folder.exists()) {
        errorNotification(QStringLiteral("Error"),
                          QStringLiteral("Could not get contents of folder when updated"));
        return std::nullopt;
    }
    return folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

void FolderSync::errorNotification(const QString& title, const QString& informativeText) {
    notifier_.notify(title, informativeText);
}

} // namespace folvane
