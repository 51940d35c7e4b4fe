#pragma once

#include "tree/WebsiteInUse.h"

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

} // namespace folvane
