#pragma once

namespace folvane {

// For a process that holds a password: no core file, and no other process of the user's (a debugger, a
// reader of /proc/<pid>/mem) may read its memory.
void keepMemoryPrivate();

} // namespace folvane
