#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace folvane::sim {

// Why a template or group name cannot be used as one file or folder name, or nothing when it can.
// `what` names the thing in the message ("template name", "template group name").
std::optional<std::string> nameProblem(std::string_view name, std::string_view what);

} // namespace folvane::sim
