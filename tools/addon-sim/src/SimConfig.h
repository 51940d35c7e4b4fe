#pragma once

#include "Json.h"

#include <optional>
#include <string>

namespace folvane::sim {

// How the add-on behaves beyond its site content; tests change it through the control interface.
struct SimConfig {
    std::string status = "ok";
    std::optional<std::string> cmsText;      // replaces "ExpressionEngine" / "Wordpress" in the status answer
    std::optional<std::string> addonVersion; // replaces the site's add-on version
    std::optional<long long> version;        // replaces the site's CMS version number
    bool refuseLogin = false;
    std::optional<std::string> loginMessage;
    bool permissions = true;
    bool omitPermissions = false;
    bool omitLoggedInOnLogout = false;
    bool requireSession = false; // ExpressionEngine: only the current session id in the path is accepted

    // Applies the keys present in `changes`. On the first bad key it returns why and changes nothing.
    std::optional<std::string> merge(const Json& changes);
};

} // namespace folvane::sim
