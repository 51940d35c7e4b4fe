#include "NameRules.h"

namespace folvane::sim {

std::optional<std::string> nameProblem(std::string_view name, std::string_view what) {
    const std::string subject = "The " + std::string(what);
    if (name.empty()) {
        return subject + " must not be empty.";
    }
    if (name == "." || name == "..") {
        return subject + " must not be \".\" or \"..\".";
    }
    if (name.find('/') != std::string_view::npos) {
        return subject + " must not contain \"/\".";
    }
    if (name.find('\0') != std::string_view::npos) {
        return subject + " must not contain a NUL character.";
    }
    return std::nullopt;
}

} // namespace folvane::sim
