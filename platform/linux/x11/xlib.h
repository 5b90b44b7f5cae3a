#pragma once

// Xlib for the backends' sources. Include it after every other header: Xlib defines macros
// (Status, None, Bool, True, False...) that clash with our own names and Qt's.

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

// Xlib's `Status` is a plain int; ours is platform::Status.
#undef Status
