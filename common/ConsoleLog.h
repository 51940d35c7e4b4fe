#pragma once

#include <QString>

namespace folvane {

// Plain log lines without level or prefix, written whole to standard error.
void logLine(const QString& line);

// Reopens standard error in append mode on the console log file (diagnostic builds, or when
// FOLVANE_CONSOLE_LOG=1). When the file cannot be opened the previous standard error stays.
void redirectConsoleLogWhenWanted();

} // namespace folvane
