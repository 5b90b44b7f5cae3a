#pragma once

// The program: one per user session, no taskbar window, a tray icon where the desktop has a
// tray and otherwise a small window that says it is running and how to quit; it stops cleanly
// (status 0) on SIGTERM and SIGINT.
//
// Standard error carries one line per event a supervisor or a test may wait for:
//   "ravlin: running (pid N)"                 the event loop has started
//   "ravlin: Not connected yet: ..."          seams without a real backend, when there are any
//   "ravlin: Settings cannot be saved: ..."   once, when the settings file cannot be used
//   "ravlin: asked to come forward"           a second start reached this one
//   "ravlin: already running; asked it to come forward"   (from the second start, which exits 0)
//   "ravlin: cannot start: ..."               (exits 1) the single-instance lock cannot be used
//   "ravlin: Coordinator started"             start-up is over and the triggers are registered
//   "ravlin: stopping (signal N)"
//
// With XCODE_RUNNING_FOR_PREVIEWS=1 nothing is set up beyond the settings window.

#include <functional>

#include "app/preferences/defaults.h"
#include "platform/seams.h"

namespace ravlin {

// Makes the desktop seams; called once, after the Qt application exists.
using SeamsFactory = std::function<platform::Seams()>;

// Whether the settings are only being drawn for a preview: the variable is exactly "1".
[[nodiscard]] bool isRunningForPreviews(const EnvironmentSnapshot& environment);

// Runs the program to its end on the seams `desktopSeams` makes (a seam left empty answers
// "unavailable"); returns the process's exit status.
int runProgram(int argc, char** argv, SeamsFactory desktopSeams);

}  // namespace ravlin
