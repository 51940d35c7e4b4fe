#include "SiteSeed.h"

#include "Base64.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>

namespace folvane::sim {

namespace {

void rejectUnknownKeys(const Json& object, std::initializer_list<std::string_view> known,
                       const std::string& where) {
    for (const auto& [key, value] : object.items()) {
        if (std::find(known.begin(), known.end(), key) == known.end()) {
            throw SeedError(where + ": unknown key \"" + key + "\"");
        }
    }
}

void requireObject(const Json& value, const std::string& where) {
    if (!value.is_object()) {
        throw SeedError(where + ": expected a JSON object");
    }
}

std::optional<std::string> optionalString(const Json& object, const char* key, const std::string& where) {
    if (!object.contains(key)) {
        return std::nullopt;
    }
    if (!object[key].is_string()) {
        throw SeedError(where + ": \"" + key + "\" must be a string");
    }
    return object[key].get<std::string>();
}

const Json& optionalArray(const Json& object, const char* key, const std::string& where) {
    static const Json empty = Json::array();
    if (!object.contains(key)) {
        return empty;
    }
    if (!object[key].is_array()) {
        throw SeedError(where + ": \"" + key + "\" must be an array");
    }
    return object[key];
}

TemplateSeed readTemplate(const Json& json, const std::string& where) {
    requireObject(json, where);
    rejectUnknownKeys(json, {"name", "content", "data"}, where);
    const auto name = optionalString(json, "name", where);
    if (!name) {
        throw SeedError(where + ": a template needs a \"name\"");
    }
    const auto content = optionalString(json, "content", where);
    const auto data = optionalString(json, "data", where);
    if (content.has_value() == data.has_value()) {
        throw SeedError(where + ": a template needs exactly one of \"content\" (text) and \"data\" (Base64)");
    }
    if (content) {
        return {*name, *content};
    }
    const auto decoded = base64Decode(*data);
    if (!decoded) {
        throw SeedError(where + ": \"data\" is not padded standard Base64");
    }
    return {*name, *decoded};
}

GroupSeed readGroup(const Json& json, const std::string& where) {
    requireObject(json, where);
    rejectUnknownKeys(json, {"name", "is_special", "special", "templates", "subfolders"}, where);
    GroupSeed group;
    const auto name = optionalString(json, "name", where);
    if (!name) {
        throw SeedError(where + ": a group needs a \"name\"");
    }
    group.name = *name;
    if (const auto special = optionalString(json, "special", where)) {
        const auto kind = specialFromKey(*special);
        if (!kind) {
            throw SeedError(where + ": \"special\" must be \"snippets\", \"variables\" or \"\"");
        }
        group.special = *kind;
    }
    // Pseudo-groups are special unless the seed says otherwise.
    group.isSpecial = group.special != Special::None;
    if (json.contains("is_special")) {
        if (!json["is_special"].is_boolean()) {
            throw SeedError(where + ": \"is_special\" must be true or false");
        }
        group.isSpecial = json["is_special"].get<bool>();
    }
    const Json& templates = optionalArray(json, "templates", where);
    for (std::size_t i = 0; i < templates.size(); ++i) {
        group.templates.push_back(
            readTemplate(templates[i], where + ".templates[" + std::to_string(i) + "]"));
    }
    const Json& subfolders = optionalArray(json, "subfolders", where);
    for (std::size_t i = 0; i < subfolders.size(); ++i) {
        group.subfolders.push_back(
            readGroup(subfolders[i], where + ".subfolders[" + std::to_string(i) + "]"));
    }
    return group;
}

void addGroup(SiteModel& model, const GroupSeed& group, const std::string& parentId,
              const std::string& where) {
    if (model.cms() == Cms::WordPress && group.special != Special::None) {
        throw SeedError(where + ": pseudo-groups (\"special\") exist only on ExpressionEngine");
    }
    if (model.cms() == Cms::ExpressionEngine && !group.subfolders.empty()) {
        throw SeedError(where + ": ExpressionEngine template groups cannot have subfolders");
    }
    const Outcome added = model.insertGroup(parentId, group.name, group.isSpecial, group.special);
    if (!added.ok()) {
        throw SeedError(where + ": " + added.refusal);
    }
    for (const TemplateSeed& t : group.templates) {
        model.insertTemplate(added.id, t.name, t.content);
    }
    for (std::size_t i = 0; i < group.subfolders.size(); ++i) {
        addGroup(model, group.subfolders[i], added.id, where + ".subfolders[" + std::to_string(i) + "]");
    }
}

} // namespace

SiteSeed SiteSeed::fromJson(const Json& json) {
    const std::string where = "seed";
    requireObject(json, where);
    rejectUnknownKeys(json, {"cms", "user", "password", "addon_version", "version", "groups"}, where);
    SiteSeed seed;
    if (const auto cms = optionalString(json, "cms", where)) {
        seed.cms = cmsFromKey(*cms);
        if (!seed.cms) {
            throw SeedError(where + ": \"cms\" must be \"ee\" or \"wp\"");
        }
    }
    seed.user = optionalString(json, "user", where);
    seed.password = optionalString(json, "password", where);
    seed.addonVersion = optionalString(json, "addon_version", where);
    if (json.contains("version")) {
        if (!json["version"].is_number_integer()) {
            throw SeedError(where + ": \"version\" must be an integer");
        }
        seed.version = json["version"].get<long long>();
    }
    const Json& groups = optionalArray(json, "groups", where);
    for (std::size_t i = 0; i < groups.size(); ++i) {
        seed.groups.push_back(readGroup(groups[i], "groups[" + std::to_string(i) + "]"));
    }
    return seed;
}

SiteSeed SiteSeed::fromText(std::string_view text) {
    Json json;
    try {
        json = Json::parse(text);
    } catch (const Json::parse_error& e) {
        throw SeedError(std::string("not valid JSON: ") + e.what());
    }
    return fromJson(json);
}

Site SiteSeed::build(const SiteDefaults& defaults) const {
    Site site{SiteModel(cms.value_or(defaults.cms)), {}};
    site.profile.user = user.value_or(defaults.user);
    site.profile.password = password.value_or(defaults.password);
    site.profile.addonVersion = addonVersion.value_or(site.profile.addonVersion);
    site.profile.version = version.value_or(site.profile.version);
    for (std::size_t i = 0; i < groups.size(); ++i) {
        addGroup(site.model, groups[i], {}, "groups[" + std::to_string(i) + "]");
    }
    return site;
}

SiteSeed readSeedFile(const std::string& path) {
    if (std::filesystem::is_directory(path)) {
        throw SeedError("cannot read: it is a folder");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw SeedError(std::string("cannot read: ") + std::strerror(errno));
    }
    std::ostringstream text;
    text << in.rdbuf();
    return SiteSeed::fromText(text.str());
}

} // namespace folvane::sim
