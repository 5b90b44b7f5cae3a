#pragma once

// The program: one per user session, no taskbar window, a tray icon where the desktop has a
// tray and otherwise a small window that says it is running and how to quit; it stops cleanly
// (status 0) on SIGTERM and SIGINT.
//
// Standard error carries one line per event a supervisor or a test may wait for:
//   "ravlin: running (pid N)"                 the event loop has started
//   "ravlin: Not connected yet: ..."          seams without a real backend, when there are any
//   "ravlin: asked to come forward"           a second start reached this one
//   "ravlin: already running; asked it to come forward"   (from the second start, which exits 0)
//   "ravlin: stopping (signal N)"

#include <functional>

#include "platform/seams.h"

namespace ravlin {

// Makes the desktop seams; called once, after the Qt application exists.
using SeamsFactory = std::function<platform::Seams()>;

// Runs the program to its end on the seams `desktopSeams` makes (a seam left empty answers
// "unavailable"); returns the process's exit status.
int runProgram(int argc, char** argv, SeamsFactory desktopSeams);

}  // namespace ravlin
