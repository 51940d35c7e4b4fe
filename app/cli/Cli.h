#pragma once

#include <QStringList>

namespace folvane::cli {

// Runs one folvane3 command line (arguments with the program path first); returns the exit status.
int run(const QStringList& arguments);

QString helpText();

} // namespace folvane::cli
