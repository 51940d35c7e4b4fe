#include "SiteModel.h"

#include "NameRules.h"

#include <algorithm>
#include <utility>

namespace folvane::sim {

namespace {

std::string quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

} // namespace

std::string_view cmsKey(Cms cms) {
    return cms == Cms::ExpressionEngine ? "ee" : "wp";
}

std::optional<Cms> cmsFromKey(std::string_view key) {
    if (key == "ee") {
        return Cms::ExpressionEngine;
    }
    if (key == "wp") {
        return Cms::WordPress;
    }
    return std::nullopt;
}

std::string_view specialKey(Special special) {
    switch (special) {
    case Special::Snippets:
        return "snippets";
    case Special::Variables:
        return "variables";
    case Special::None:
        break;
    }
    return "";
}

std::optional<Special> specialFromKey(std::string_view key) {
    for (Special special : {Special::None, Special::Snippets, Special::Variables}) {
        if (specialKey(special) == key) {
            return special;
        }
    }
    return std::nullopt;
}

const Group* SiteModel::findGroup(std::string_view id) const {
    const auto it = std::find_if(groups_.begin(), groups_.end(), [id](const Group& g) { return g.id == id; });
    return it == groups_.end() ? nullptr : &*it;
}

const Template* SiteModel::findTemplate(std::string_view id) const {
    const auto it =
        std::find_if(templates_.begin(), templates_.end(), [id](const Template& t) { return t.id == id; });
    return it == templates_.end() ? nullptr : &*it;
}

Group* SiteModel::groupById(std::string_view id) {
    return const_cast<Group*>(std::as_const(*this).findGroup(id));
}

Template* SiteModel::templateById(std::string_view id) {
    return const_cast<Template*>(std::as_const(*this).findTemplate(id));
}

std::vector<const Group*> SiteModel::subgroupsOf(std::string_view parentId) const {
    std::vector<const Group*> found;
    for (const Group& g : groups_) {
        if (g.parentId == parentId) {
            found.push_back(&g);
        }
    }
    return found;
}

std::vector<const Template*> SiteModel::templatesOf(std::string_view groupId) const {
    std::vector<const Template*> found;
    for (const Template& t : templates_) {
        if (t.groupId == groupId) {
            found.push_back(&t);
        }
    }
    return found;
}

std::string SiteModel::idForNewGroup(const std::string& parentId, const std::string& name) {
    if (cms_ == Cms::ExpressionEngine) {
        return std::to_string(nextGroupNumber_++);
    }
    return parentId.empty() ? name : parentId + "/" + name;
}

Outcome SiteModel::insertGroup(const std::string& parentId, const std::string& name, bool isSpecial,
                               Special special) {
    if (!parentId.empty() && !findGroup(parentId)) {
        return Outcome::refused("Parent template group " + quoted(parentId) + " not found.");
    }
    const std::string id =
        special == Special::None ? idForNewGroup(parentId, name) : std::string(specialKey(special));
    if (findGroup(id)) {
        return Outcome::refused("Two template groups would share the id " + quoted(id) + ".");
    }
    groups_.push_back({id, name, parentId, isSpecial, special});
    return Outcome::done(id);
}

std::string SiteModel::insertTemplate(const std::string& groupId, const std::string& name,
                                      std::string content) {
    std::string id = std::to_string(nextTemplateNumber_++);
    templates_.push_back({id, groupId, name, std::move(content)});
    return id;
}

bool SiteModel::siblingNamed(const std::string& parentId, std::string_view name,
                             std::string_view exceptId) const {
    return std::any_of(groups_.begin(), groups_.end(), [&](const Group& g) {
        return g.parentId == parentId && g.name == name && g.id != exceptId;
    });
}

bool SiteModel::templateNamed(const std::string& groupId, std::string_view name,
                              std::string_view exceptId) const {
    return std::any_of(templates_.begin(), templates_.end(), [&](const Template& t) {
        return t.groupId == groupId && t.name == name && t.id != exceptId;
    });
}

bool SiteModel::isWithin(std::string_view id, std::string_view ancestorId) const {
    // Bounded walk: parents always exist before their children, but a bound costs nothing.
    const Group* g = findGroup(id);
    for (std::size_t steps = 0; g && steps <= groups_.size(); ++steps) {
        if (g->id == ancestorId) {
            return true;
        }
        g = g->parentId.empty() ? nullptr : findGroup(g->parentId);
    }
    return false;
}

Outcome SiteModel::locateTemplate(const std::string& groupId, const std::string& templateId) const {
    const Template* t = findTemplate(templateId);
    if (!t) {
        return Outcome::refused("Template " + quoted(templateId) + " not found.");
    }
    if (t->groupId != groupId) {
        return Outcome::refused("Template " + quoted(templateId) + " is not in template group " +
                                quoted(groupId) + ".");
    }
    return Outcome::done(templateId);
}

Outcome SiteModel::createGroup(const std::string& parentId, const std::string& name) {
    if (auto problem = nameProblem(name, "template group name")) {
        return Outcome::refused(*problem);
    }
    if (!parentId.empty()) {
        if (cms_ == Cms::ExpressionEngine) {
            return Outcome::refused("ExpressionEngine template groups cannot be nested.");
        }
        if (!findGroup(parentId)) {
            return Outcome::refused("Parent template group " + quoted(parentId) + " not found.");
        }
    }
    if (siblingNamed(parentId, name, {})) {
        return Outcome::refused("A template group named " + quoted(name) + " already exists.");
    }
    return insertGroup(parentId, name, false, Special::None);
}

Outcome SiteModel::createTemplate(const std::string& groupId, const std::string& name, std::string content) {
    if (!findGroup(groupId)) {
        return Outcome::refused("Template group " + quoted(groupId) + " not found.");
    }
    if (auto problem = nameProblem(name, "template name")) {
        return Outcome::refused(*problem);
    }
    if (templateNamed(groupId, name, {})) {
        return Outcome::refused("A template named " + quoted(name) + " already exists in this group.");
    }
    return Outcome::done(insertTemplate(groupId, name, std::move(content)));
}

Outcome SiteModel::updateTemplate(const std::string& groupId, const std::string& templateId,
                                  std::string content) {
    Outcome located = locateTemplate(groupId, templateId);
    if (located.ok()) {
        templateById(templateId)->content = std::move(content);
    }
    return located;
}

Outcome SiteModel::deleteTemplate(const std::string& groupId, const std::string& templateId) {
    Outcome located = locateTemplate(groupId, templateId);
    if (located.ok()) {
        std::erase_if(templates_, [&](const Template& t) { return t.id == templateId; });
    }
    return located;
}

Outcome SiteModel::deleteGroup(const std::string& groupId) {
    const Group* g = findGroup(groupId);
    if (!g) {
        return Outcome::refused("Template group " + quoted(groupId) + " not found.");
    }
    if (g->special != Special::None) {
        return Outcome::refused("The " + std::string(specialKey(g->special)) + " group cannot be deleted.");
    }
    if (!templatesOf(groupId).empty()) {
        return Outcome::refused("The template group still holds templates.");
    }
    if (!subgroupsOf(groupId).empty()) {
        return Outcome::refused("The template group still holds template groups.");
    }
    std::erase_if(groups_, [&](const Group& other) { return other.id == groupId; });
    return Outcome::done(groupId);
}

Outcome SiteModel::moveTemplate(const std::string& fromGroupId, const std::string& toGroupId,
                                const std::string& templateId, const std::string& name) {
    Outcome located = locateTemplate(fromGroupId, templateId);
    if (!located.ok()) {
        return located;
    }
    if (!findGroup(toGroupId)) {
        return Outcome::refused("Template group " + quoted(toGroupId) + " not found.");
    }
    if (auto problem = nameProblem(name, "template name")) {
        return Outcome::refused(*problem);
    }
    if (templateNamed(toGroupId, name, templateId)) {
        return Outcome::refused("A template named " + quoted(name) + " already exists in that group.");
    }
    Template* t = templateById(templateId);
    t->groupId = toGroupId;
    t->name = name;
    return located;
}

Outcome SiteModel::renameGroup(const std::string& groupId, const std::string& name) {
    const Group* g = findGroup(groupId);
    if (!g) {
        return Outcome::refused("Template group " + quoted(groupId) + " not found.");
    }
    if (g->special != Special::None) {
        return Outcome::refused("The " + std::string(specialKey(g->special)) + " group cannot be renamed.");
    }
    if (auto problem = nameProblem(name, "template group name")) {
        return Outcome::refused(*problem);
    }
    if (siblingNamed(g->parentId, name, groupId)) {
        return Outcome::refused("A template group named " + quoted(name) + " already exists.");
    }
    if (cms_ == Cms::ExpressionEngine) {
        groupById(groupId)->name = name;
        return Outcome::done(groupId);
    }
    return relocate(groupId, g->parentId, name);
}

Outcome SiteModel::moveGroup(const std::string& groupId, const std::string& toParentId) {
    if (cms_ == Cms::ExpressionEngine) {
        return Outcome::refused("ExpressionEngine template groups cannot be moved.");
    }
    const Group* g = findGroup(groupId);
    if (!g) {
        return Outcome::refused("Template group " + quoted(groupId) + " not found.");
    }
    if (g->special != Special::None) {
        return Outcome::refused("The " + std::string(specialKey(g->special)) + " group cannot be moved.");
    }
    if (!toParentId.empty()) {
        if (!findGroup(toParentId)) {
            return Outcome::refused("Template group " + quoted(toParentId) + " not found.");
        }
        if (isWithin(toParentId, groupId)) {
            return Outcome::refused("A template group cannot be moved into itself or one of its subgroups.");
        }
    }
    if (siblingNamed(toParentId, g->name, groupId)) {
        return Outcome::refused("A template group named " + quoted(g->name) + " already exists there.");
    }
    return relocate(groupId, toParentId, g->name);
}

Outcome SiteModel::relocate(const std::string& groupId, const std::string& parentId,
                            const std::string& name) {
    // Old id → new id for the group and every group below it, parents before children.
    std::vector<std::pair<std::string, std::string>> renames{
        {groupId, parentId.empty() ? name : parentId + "/" + name}};
    for (std::size_t k = 0; k < renames.size(); ++k) {
        const auto [oldId, newId] = renames[k];
        for (const Group* child : subgroupsOf(oldId)) {
            renames.emplace_back(child->id, newId + "/" + child->name);
        }
    }
    const auto renamed = [&](std::string_view id) -> const std::string* {
        const auto it =
            std::find_if(renames.begin(), renames.end(), [id](const auto& r) { return r.first == id; });
        return it == renames.end() ? nullptr : &it->second;
    };
    for (const auto& [oldId, newId] : renames) {
        const Group* clash = findGroup(newId);
        if (clash && !renamed(clash->id)) {
            return Outcome::refused("A template group with the id " + quoted(newId) + " already exists.");
        }
    }
    Group* root = groupById(groupId);
    root->parentId = parentId;
    root->name = name;
    for (Group& g : groups_) {
        if (const std::string* newParent = renamed(g.parentId); newParent && &g != root) {
            g.parentId = *newParent;
        }
    }
    for (Group& g : groups_) {
        if (const std::string* newId = renamed(g.id)) {
            g.id = *newId;
        }
    }
    for (Template& t : templates_) {
        if (const std::string* newGroup = renamed(t.groupId)) {
            t.groupId = *newGroup;
        }
    }
    return Outcome::done(renames.front().second);
}

} // namespace folvane::sim
