#pragma once

#include "CommandLine.h"

#include <optional>

namespace folvane::cli {

// The password for `user`, from standard input or asked on the terminal; reports a missing one.
std::optional<QString> passwordFor(const QString& user);

// Each command gets the words after its own name and the options; returns the exit status.
int sitesList(const CommandLine& command);
int sitesAdd(const CommandLine& command);
int sitesEdit(const CommandLine& command);
int sitesRemove(const CommandLine& command);
int checkSite(const CommandLine& command);
int connectSite(const CommandLine& command);
int refreshSite(const CommandLine& command);
int showStatus(const CommandLine& command);
int ejectSite(const CommandLine& command);
int prefsGet(const CommandLine& command);
int prefsSet(const CommandLine& command);

} // namespace folvane::cli
