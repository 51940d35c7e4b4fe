#pragma once

#include <QString>

namespace folvane {

// Compares dotted version texts so that runs of digits compare by value: 1.10 > 1.9, 2.0.1 > 2.0.
// Returns a negative number, zero or a positive number as a is less than, equal to or greater than b.
int compareVersions(const QString& a, const QString& b);

} // namespace folvane
