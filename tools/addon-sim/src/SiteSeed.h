#pragma once

#include "Json.h"
#include "SiteModel.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace folvane::sim {

class SeedError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TemplateSeed {
    std::string name;
    std::string content; // raw bytes
};

struct GroupSeed {
    std::string name;
    bool isSpecial = false;
    Special special = Special::None;
    std::vector<TemplateSeed> templates;
    std::vector<GroupSeed> subfolders;
};

// What the simulator logs in with and reports about itself.
struct SiteProfile {
    std::string user;
    std::string password;
    std::string addonVersion = "3.0.0";
    long long version = 7;
};

// Fallbacks for whatever a seed leaves out (from the command line).
struct SiteDefaults {
    Cms cms = Cms::ExpressionEngine;
    std::string user = "admin";
    std::string password = "password";
};

struct Site {
    SiteModel model;
    SiteProfile profile;
};

// A site description, as a seed file or the control interface delivers it. Values present in the seed win
// over the defaults.
struct SiteSeed {
    std::optional<Cms> cms;
    std::optional<std::string> user;
    std::optional<std::string> password;
    std::optional<std::string> addonVersion;
    std::optional<long long> version;
    std::vector<GroupSeed> groups;

    // Both throw SeedError with a message that points at the offending entry.
    static SiteSeed fromJson(const Json& json);
    static SiteSeed fromText(std::string_view text);

    // Throws SeedError when the groups do not fit the CMS (nesting on ExpressionEngine, pseudo-groups on
    // WordPress, two groups with one id).
    Site build(const SiteDefaults& defaults) const;
};

// Throws SeedError; the message leaves naming the file to the caller.
SiteSeed readSeedFile(const std::string& path);

} // namespace folvane::sim
