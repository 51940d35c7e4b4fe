#include "SiteJson.h"

#include "Base64.h"

#include <algorithm>

namespace folvane::sim {

namespace {

Json groupJson(const SiteModel& model, const Group& group) {
    Json files = Json::array();
    for (const Template* t : model.templatesOf(group.id)) {
        files.push_back(
            {{"id", idJson(model.cms(), t->id)}, {"name", t->name}, {"data", base64Encode(t->content)}});
    }
    Json subfolders = Json::array();
    for (const Group* child : model.subgroupsOf(group.id)) {
        subfolders.push_back(groupJson(model, *child));
    }
    return {{"id", idJson(model.cms(), group.id)},
            {"name", group.name},
            {"is_special", group.isSpecial},
            {"files", std::move(files)},
            {"subfolders", std::move(subfolders)}};
}

void sortByPath(Json& entries) {
    std::stable_sort(entries.begin(), entries.end(), [](const Json& a, const Json& b) {
        return a["path"].get_ref<const std::string&>() < b["path"].get_ref<const std::string&>();
    });
}

} // namespace

Json idJson(Cms cms, const std::string& id) {
    const bool numeric = !id.empty() && id.size() < 19 &&
                         std::all_of(id.begin(), id.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (cms == Cms::ExpressionEngine && numeric) {
        return std::stoll(id);
    }
    return id;
}

Json listAllJson(const SiteModel& model) {
    Json folders = Json::array();
    for (const Group* group : model.subgroupsOf("")) {
        folders.push_back(groupJson(model, *group));
    }
    return {{"folders", std::move(folders)}};
}

std::string volumePath(const SiteModel& model, const Group& group) {
    const std::string folder = group.special == Special::Snippets ? std::string("Partials") : group.name;
    const Group* parent = group.parentId.empty() ? nullptr : model.findGroup(group.parentId);
    return (parent ? volumePath(model, *parent) : std::string()) + "/" + folder;
}

Json stateJson(const SiteModel& model) {
    Json groups = Json::array();
    for (const Group& g : model.groups()) {
        groups.push_back({{"id", g.id},
                          {"name", g.name},
                          {"parent_id", g.parentId},
                          {"is_special", g.isSpecial},
                          {"special", std::string(specialKey(g.special))},
                          {"path", volumePath(model, g)}});
    }
    Json templates = Json::array();
    for (const Template& t : model.templates()) {
        const Group* group = model.findGroup(t.groupId);
        templates.push_back({{"id", t.id},
                             {"group_id", t.groupId},
                             {"name", t.name},
                             {"path", (group ? volumePath(model, *group) : std::string()) + "/" + t.name},
                             {"content", t.content},
                             {"data", base64Encode(t.content)}});
    }
    sortByPath(groups);
    sortByPath(templates);
    return {{"cms", std::string(cmsKey(model.cms()))},
            {"groups", std::move(groups)},
            {"templates", std::move(templates)}};
}

Outcome editTemplateAt(SiteModel& model, const std::string& path, const std::string& content) {
    const Json state = stateJson(model);
    for (const Json& t : state["templates"])
        if (t["path"] == path)
            return model.updateTemplate(t["group_id"].get<std::string>(), t["id"].get<std::string>(),
                                        content);
    return Outcome::refused("no template at " + path);
}

} // namespace folvane::sim
