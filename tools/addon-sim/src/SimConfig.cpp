#include "SimConfig.h"

#include <functional>
#include <map>

namespace folvane::sim {

namespace {

using Setter = std::function<std::optional<std::string>(SimConfig&, const Json&)>;

std::optional<std::string> wrongType(const std::string& key, const char* expected) {
    return "\"" + key + "\" must be " + expected;
}

// Works for plain and optional text fields alike.
template <class Field> Setter text(Field SimConfig::*field, std::string key) {
    return [field, key](SimConfig& c, const Json& v) -> std::optional<std::string> {
        if (!v.is_string()) {
            return wrongType(key, "a string");
        }
        c.*field = v.get<std::string>();
        return std::nullopt;
    };
}

Setter flag(bool SimConfig::*field, std::string key) {
    return [field, key](SimConfig& c, const Json& v) -> std::optional<std::string> {
        if (!v.is_boolean()) {
            return wrongType(key, "true or false");
        }
        c.*field = v.get<bool>();
        return std::nullopt;
    };
}

std::optional<std::string> setLogin(SimConfig& c, const Json& v) {
    if (v != "ok" && v != "refuse") {
        return wrongType("login", "\"ok\" or \"refuse\"");
    }
    c.refuseLogin = v == "refuse";
    return std::nullopt;
}

std::optional<std::string> setVersion(SimConfig& c, const Json& v) {
    if (!v.is_number_integer()) {
        return wrongType("version", "an integer");
    }
    c.version = v.get<long long>();
    return std::nullopt;
}

const std::map<std::string, Setter, std::less<>>& setters() {
    static const std::map<std::string, Setter, std::less<>> table{
        {"status", text(&SimConfig::status, "status")},
        {"cms_text", text(&SimConfig::cmsText, "cms_text")},
        {"addon_version", text(&SimConfig::addonVersion, "addon_version")},
        {"version", setVersion},
        {"login", setLogin},
        {"login_message", text(&SimConfig::loginMessage, "login_message")},
        {"permissions", flag(&SimConfig::permissions, "permissions")},
        {"omit_permissions", flag(&SimConfig::omitPermissions, "omit_permissions")},
        {"omit_logged_in_on_logout", flag(&SimConfig::omitLoggedInOnLogout, "omit_logged_in_on_logout")},
        {"require_session", flag(&SimConfig::requireSession, "require_session")},
    };
    return table;
}

} // namespace

std::optional<std::string> SimConfig::merge(const Json& changes) {
    if (!changes.is_object()) {
        return "the configuration must be a JSON object";
    }
    SimConfig updated = *this;
    for (const auto& [key, value] : changes.items()) {
        const auto setter = setters().find(key);
        if (setter == setters().end()) {
            return "unknown configuration key \"" + key + "\"";
        }
        if (auto problem = setter->second(updated, value)) {
            return problem;
        }
    }
    *this = std::move(updated);
    return std::nullopt;
}

} // namespace folvane::sim
