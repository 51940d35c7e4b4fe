#pragma once

#include "tree/WebsiteInUse.h"

#include <string>

namespace folvane {

// The records, one line each, with keys and child paths relative to `base`: two builds into different
// folders are compared by this text.
inline std::string recordsText(WebsiteInUse& site, const QString& base) {
    std::string text;
    const auto relative = [&](const QString& path) { return path.mid(base.size()).toStdString(); };
    site.withDictionaries([&](const PathDictionaries& d) {
        for (const auto& [path, r] : d.folderDictionary) {
            text += "folder " + relative(path) + " " + r.name.toStdString() + " " +
                    r.templateGroupID.value_or("nil").toStdString() + " " +
                    (r.isSpecial ? std::to_string(*r.isSpecial) : "nil") + " [";
            for (const QString& child : r.paths)
                text += relative(child) + ";";
            text += "]\n";
        }
        for (const auto& [path, r] : d.fileDictionary)
            text += "file " + relative(path) + " " + r.name.toStdString() + " " +
                    r.templateGroupID.toStdString() + " " + r.templateID.toStdString() + " " +
                    r.encodedData.toHex().toStdString() + "\n";
    });
    return text;
}

} // namespace folvane
