#include "ListSummary.h"

namespace folvane {

namespace {
void walk(const Json& value, ListSummary& summary) {
    if (!value.is_structured())
        return;
    if (value.is_object()) {
        if (const Json* files = member(value, "files"); files && files->is_structured()) {
            ++summary.groups;
            summary.templates += static_cast<int>(files->size());
        }
    }
    for (const Json& child : value) {
        if (value.is_object() && &child == member(value, "files"))
            continue;
        walk(child, summary);
    }
}
} // namespace

ListSummary summarizeTemplateList(const Json& list) {
    ListSummary summary;
    walk(list, summary);
    return summary;
}

} // namespace folvane
