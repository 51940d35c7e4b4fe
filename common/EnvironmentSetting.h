#pragma once

#include <QtGlobal>
#include <optional>

namespace folvane {

// A positive integer from the environment (the tests' way to tighten a limit), or nothing: nothing too,
// with a log line, when the value is unusable.
std::optional<qint64> positiveSetting(const char* name);

} // namespace folvane
