#pragma once

#include "LenientJson.h"

#include <QString>
#include <istream>
#include <map>
#include <optional>

namespace folvane {

// What the site holds by identifier, read from a template list: each group's name and parent, each
// template's name and group. Contents are left out: the index answers whether a request whose answer never
// came took effect, and a big site's list runs to hundreds of megabytes.
struct SiteIndex {
    struct Group {
        QString name;
        QString parentID; // empty at the top level
        std::optional<bool> isSpecial;
    };
    struct Template {
        QString name;
        QString groupID;
    };
    std::map<QString, Group> groups;       // by identifier
    std::map<QString, Template> templates; // by identifier

    // Reads a list's JSON text (bad UTF-8 inside names already marked); nothing when it is not one whole
    // JSON object with "folders".
    static std::optional<SiteIndex> read(std::istream& text);

    // The identifier of the template called `name` in the group `groupID`.
    std::optional<QString> templateIn(const QString& groupID, const QString& name) const;
    // The identifier of the group called `name` below `parentID` (empty: the top level).
    std::optional<QString> groupIn(const QString& parentID, const QString& name) const;
};

} // namespace folvane
