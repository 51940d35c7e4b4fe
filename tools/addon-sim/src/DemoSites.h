#pragma once

#include "SiteSeed.h"

namespace folvane::sim {

// The small site served when no seed is given: enough groups, nesting and pseudo-groups to demo and test
// with.
SiteSeed demoSite(Cms cms);

} // namespace folvane::sim
