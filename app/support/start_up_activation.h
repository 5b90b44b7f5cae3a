#pragma once

// The activation of a window shown at start-up. Such a window asks to be activated before it is
// mapped; on X11 the window manager grants that once mapping completes, however late: after the
// person has opened the Composer, say. That activation is the program's, not the person's, and
// the Composer may take the keyboard back from it. Any other activation of the window (the person
// asking for it again, clicking it) is the person's.

class QWidget;

namespace ravlin::startUpActivation {

// The window was just shown and asked to be activated at start-up: its next activation is that
// request being granted.
void mark(QWidget* window);
// The person asked for the window: its activations are theirs from now on.
void clear(QWidget* window);
// Whether `window` is active by its start-up request (granted and not lost since).
[[nodiscard]] bool tookTheKeyboardByItself(const QWidget* window);

}  // namespace ravlin::startUpActivation
