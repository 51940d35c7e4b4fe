#pragma once

#include <QString>
#include <optional>

namespace folvane::cli {

// What the user of the command line sees. Messages and errors go to the terminal's standard error;
// the console log (the programs' own log lines, the helper's included) goes there too only with
// --verbose. The console log file, when that is switched on, gets it either way.
namespace console {

void setUp(bool verbose);
bool verbose();
// Standard output: results meant for scripts (a mount path, a list).
void out(const QString& line);
void message(const QString& line);
// "folvane3: " and the line.
void error(const QString& line);
// From a terminal: asks with `prompt` and reads without echo. Otherwise: the first line of standard input.
std::optional<QString> readPassword(const QString& prompt);
// From a terminal: asks and takes "y" or "yes". Without a terminal nothing can be confirmed.
bool confirm(const QString& question);

} // namespace console
} // namespace folvane::cli
