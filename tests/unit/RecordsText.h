#pragma once

#include "tree/WebsiteInUse.h"

#include <QFile>
#include <filesystem>
#include <map>
#include <string>

namespace folvane {

// The records, one line each in path order, with keys and children relative to `base`: two builds into
// different folders are compared by this text.
inline std::string recordsText(WebsiteInUse& site, const QString& base) {
    std::string text;
    const auto relative = [&](const QString& path) { return path.mid(base.size()).toStdString(); };
    site.withRecords([&](const RecordTree& records) {
        for (const auto& [path, entry] : records.all()) {
            if (const auto* r = std::get_if<FolderRecord>(&entry.record)) {
                text += "folder " + relative(path) + " " + r->name.toStdString() + " " +
                        r->templateGroupID.value_or("nil").toStdString() + " " +
                        (r->isSpecial ? std::to_string(*r->isSpecial) : "nil") + " [";
                for (const QString& child : records.children(path))
                    text += relative(child) + ";";
                text += "]\n";
            } else {
                const auto& f = std::get<FileRecord>(entry.record);
                text += "file " + relative(path) + " " + f.name.toStdString() + " " +
                        f.templateGroupID.toStdString() + " " + f.templateID.toStdString() + " " +
                        f.encodedData.toHex().toStdString() + "\n";
            }
        }
    });
    return text;
}

// Every entry below `folder`, never through a link, by its path relative to it: a file's content, "<folder>"
// or "<other>" (a link or a special file).
inline std::map<std::string, std::string> entriesBelow(const std::filesystem::path& folder) {
    namespace fs = std::filesystem;
    std::map<std::string, std::string> found;
    std::error_code error;
    for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const fs::file_status status = it->symlink_status();
        const std::string relative = it->path().string().substr(folder.string().size());
        if (fs::is_directory(status)) {
            found[relative] = "<folder>";
        } else if (fs::is_regular_file(status)) {
            QFile file(QString::fromStdString(it->path().string()));
            found[relative] = file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : "<unreadable>";
        } else {
            found[relative] = "<other>";
        }
    }
    return found;
}

} // namespace folvane
