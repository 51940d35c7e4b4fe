#include "SiteIndex.h"

#include <vector>

namespace folvane {

namespace {

// Walks the list's JSON events keeping only names, identifiers and nesting.
class IndexEvents : public nlohmann::json_sax<Json> {
public:
    struct Entry {
        std::optional<QString> id, name;
        std::optional<bool> isSpecial;
        int owner = -1; // the enclosing group's entry, -1 at the top level
    };
    std::vector<Entry> groups, templates;
    bool sawFolders = false;

    bool null() override { return true; }
    bool boolean(bool value) override {
        if (top() == Role::group && frames_.back().key == "is_special")
            groups[frames_.back().entry].isSpecial = value;
        return true;
    }
    bool number_integer(number_integer_t value) override { return text(QString::number(value)); }
    bool number_unsigned(number_unsigned_t value) override { return text(QString::number(value)); }
    bool number_float(number_float_t, const string_t&) override { return true; }
    bool string(string_t& value) override { return text(QString::fromStdString(value)); }
    bool binary(binary_t&) override { return true; }
    bool key(string_t& value) override {
        frames_.back().key = value;
        return true;
    }
    bool start_object(std::size_t) override {
        switch (top()) {
        case Role::none:
            push(Role::root);
            break;
        case Role::groups:
            groups.push_back({{}, {}, {}, frames_.back().entry});
            push(Role::group, static_cast<int>(groups.size()) - 1);
            break;
        case Role::files:
            templates.push_back({{}, {}, {}, frames_.back().entry});
            push(Role::file, static_cast<int>(templates.size()) - 1);
            break;
        default:
            push(Role::skip);
        }
        return true;
    }
    bool end_object() override {
        frames_.pop_back();
        return true;
    }
    bool start_array(std::size_t) override {
        const std::string key = frames_.empty() ? std::string() : frames_.back().key;
        if (top() == Role::root && key == "folders") {
            sawFolders = true;
            push(Role::groups, -1);
        } else if (top() == Role::group && key == "subfolders") {
            push(Role::groups, frames_.back().entry);
        } else if (top() == Role::group && key == "files") {
            push(Role::files, frames_.back().entry);
        } else {
            push(Role::skip);
        }
        return true;
    }
    bool end_array() override {
        frames_.pop_back();
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        return false;
    }

private:
    enum class Role { none, root, groups, group, files, file, skip };
    struct Frame {
        Role role;
        int entry = -1; // the group or template being read, or the group owning an array
        std::string key;
    };
    void push(Role role, int entry = -1) { frames_.push_back(Frame{role, entry, {}}); }
    Role top() const { return frames_.empty() ? Role::none : frames_.back().role; }
    bool text(const QString& value) {
        const Role role = top();
        if (role != Role::group && role != Role::file)
            return true;
        Entry& entry = (role == Role::group ? groups : templates)[frames_.back().entry];
        if (frames_.back().key == "id")
            entry.id = value;
        else if (frames_.back().key == "name")
            entry.name = value;
        return true;
    }
    std::vector<Frame> frames_;
};

} // namespace

std::optional<SiteIndex> SiteIndex::read(std::istream& text) {
    IndexEvents events;
    if (!Json::sax_parse(text, &events) || !events.sawFolders)
        return std::nullopt;
    SiteIndex index;
    const auto ownerID = [&](int owner) {
        return owner < 0 ? QString() : events.groups[owner].id.value_or(QString());
    };
    for (const IndexEvents::Entry& group : events.groups)
        if (group.id && group.name)
            index.groups[*group.id] = Group{*group.name, ownerID(group.owner), group.isSpecial};
    for (const IndexEvents::Entry& entry : events.templates)
        if (entry.id && entry.name)
            index.templates[*entry.id] = Template{*entry.name, ownerID(entry.owner)};
    return index;
}

std::optional<QString> SiteIndex::templateIn(const QString& groupID, const QString& name) const {
    for (const auto& [id, entry] : templates)
        if (entry.groupID == groupID && entry.name == name)
            return id;
    return std::nullopt;
}

std::optional<QString> SiteIndex::groupIn(const QString& parentID, const QString& name) const {
    for (const auto& [id, entry] : groups)
        if (entry.parentID == parentID && entry.name == name)
            return id;
    return std::nullopt;
}

} // namespace folvane
