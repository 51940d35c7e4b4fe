#pragma once

#include <QProcessEnvironment>
#include <QStringList>

namespace folvane::ui {

// Whether folvane3 starts its windows: with no arguments, only a folvane:// link, or only the autostart
// entry's argument (each may follow "-v"/"--verbose"), on a desktop (DISPLAY,
// WAYLAND_DISPLAY or QT_QPA_PLATFORM set). Everything else is the command line.
bool wantsGui(const QStringList& arguments, const QProcessEnvironment& environment);

// Runs the application with its windows until it quits; returns the exit status.
int runGui(int& argc, char** argv);

} // namespace folvane::ui
