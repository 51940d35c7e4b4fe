#pragma once

#include "shell/FuseCheck.h"

namespace folvane::shell {

// Reads the machine: the kernel's filesystems and module index, `fusermount3 --version`, /dev/fuse.
SystemFacts probeSystem();

} // namespace folvane::shell
