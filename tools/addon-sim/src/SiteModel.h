#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace folvane::sim {

enum class Cms { ExpressionEngine, WordPress };

// ExpressionEngine's two pseudo-groups; ordinary groups are None.
enum class Special { None, Snippets, Variables };

std::string_view cmsKey(Cms cms); // "ee" / "wp"
std::optional<Cms> cmsFromKey(std::string_view key);
std::string_view specialKey(Special special); // "" / "snippets" / "variables"
std::optional<Special> specialFromKey(std::string_view key);

struct Group {
    std::string id;
    std::string name;
    std::string parentId; // empty at the top level
    bool isSpecial = false;
    Special special = Special::None;
};

struct Template {
    std::string id;
    std::string groupId;
    std::string name;
    std::string content; // raw bytes
};

// Result of an operation: the id it created or ended with, or the add-on's reason for refusing.
struct Outcome {
    std::string id;
    std::string refusal;

    bool ok() const { return refusal.empty(); }
    static Outcome done(std::string id = {}) { return {std::move(id), {}}; }
    static Outcome refused(std::string why) { return {{}, std::move(why)}; }
};

// The template groups and templates of one site, with the id rules of its CMS:
// ExpressionEngine numbers groups and templates and keeps groups flat; WordPress names a group by its path
// (parent id + "/" + name), so renaming or moving one re-keys everything below it, while template ids are
// opaque and never change.
class SiteModel {
public:
    explicit SiteModel(Cms cms) : cms_(cms) {}

    Cms cms() const { return cms_; }
    const std::vector<Group>& groups() const { return groups_; }
    const std::vector<Template>& templates() const { return templates_; }
    const Group* findGroup(std::string_view id) const;
    const Template* findTemplate(std::string_view id) const;
    std::vector<const Group*> subgroupsOf(std::string_view parentId) const;
    std::vector<const Template*> templatesOf(std::string_view groupId) const;
    // The template's id, or the refusal when it does not exist or lives in another group.
    Outcome locateTemplate(const std::string& groupId, const std::string& templateId) const;

    // Seeding takes names as they come (tests need hostile ones); only ids must stay unique.
    Outcome insertGroup(const std::string& parentId, const std::string& name, bool isSpecial,
                        Special special);
    std::string insertTemplate(const std::string& groupId, const std::string& name, std::string content);

    // The add-on's operations, checked the way a careful add-on checks them.
    Outcome createGroup(const std::string& parentId, const std::string& name);
    Outcome createTemplate(const std::string& groupId, const std::string& name, std::string content);
    Outcome updateTemplate(const std::string& groupId, const std::string& templateId, std::string content);
    Outcome deleteTemplate(const std::string& groupId, const std::string& templateId);
    Outcome deleteGroup(const std::string& groupId);
    // A rename is a move within one group.
    Outcome moveTemplate(const std::string& fromGroupId, const std::string& toGroupId,
                         const std::string& templateId, const std::string& name);
    Outcome renameGroup(const std::string& groupId, const std::string& name);
    Outcome moveGroup(const std::string& groupId, const std::string& toParentId);

private:
    std::string idForNewGroup(const std::string& parentId, const std::string& name);
    Group* groupById(std::string_view id);
    Template* templateById(std::string_view id);
    bool siblingNamed(const std::string& parentId, std::string_view name, std::string_view exceptId) const;
    bool templateNamed(const std::string& groupId, std::string_view name, std::string_view exceptId) const;
    bool isWithin(std::string_view id, std::string_view ancestorId) const;
    // WordPress: gives the group a new parent and name, re-keying its subtree; refuses id collisions.
    Outcome relocate(const std::string& groupId, const std::string& parentId, const std::string& name);

    Cms cms_;
    std::vector<Group> groups_;
    std::vector<Template> templates_;
    long long nextGroupNumber_ = 1;
    long long nextTemplateNumber_ = 1;
};

} // namespace folvane::sim
