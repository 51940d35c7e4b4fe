#pragma once

#include "SiteModel.h"

#include <optional>
#include <string>
#include <vector>

namespace folvane::sim {

struct Options {
    Cms cms = Cms::ExpressionEngine; // a seed's "cms" wins over it
    std::string host = "127.0.0.1";
    int port = 0; // 0 = any free port
    std::optional<std::string> seedPath;
    std::string user = "admin"; // a seed's "user" and "password" win over these
    std::string password = "password";
    bool verbose = false;
    bool help = false;
};

struct CommandLine {
    Options options;
    std::string error; // empty when the arguments are fine
};

// Accepts "--flag value" and "--flag=value"; `args` excludes the program name.
CommandLine parseCommandLine(const std::vector<std::string>& args);

std::string helpText();

} // namespace folvane::sim
