#include "PrivateMemory.h"

#include <sys/prctl.h>
#include <sys/resource.h>

namespace folvane {

void keepMemoryPrivate() {
    ::prctl(PR_SET_DUMPABLE, 0);
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
}

} // namespace folvane
