#pragma once

#include "Json.h"
#include "SiteModel.h"

#include <string>

namespace folvane::sim {

// An id as the add-on sends it: ExpressionEngine numbers as JSON integers (its pseudo-group ids stay text),
// WordPress ids always as text.
Json idJson(Cms cms, const std::string& id);

// The "list_all" answer: {"folders":[group…]}, each group {id, name, is_special, files, subfolders} in that
// order.
Json listAllJson(const SiteModel& model);

// Where the group shows on the mounted volume ("/Partials" for the snippets pseudo-group).
std::string volumePath(const SiteModel& model, const Group& group);

// The whole site for tests: every group and template with string ids and volume paths, sorted by path.
Json stateJson(const SiteModel& model);

// Changes the content of the template at `path` (as on the volume), as the CMS's own editor would.
Outcome editTemplateAt(SiteModel& model, const std::string& path, const std::string& content);

} // namespace folvane::sim
