#pragma once

#include "addon/LenientJson.h"

namespace folvane {

struct ListSummary {
    int groups = 0;
    int templates = 0;
};

// Counts the template groups (objects with "files") and their templates anywhere in a "list_all" answer.
ListSummary summarizeTemplateList(const Json& list);

} // namespace folvane
