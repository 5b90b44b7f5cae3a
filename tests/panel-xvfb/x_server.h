#pragma once

// What the X server itself says about windows (kept apart: Xlib's macros clash with the test
// framework's names).

#include <QRect>

namespace ravlin::xserver {

bool open();
void close();
// The window's frame in root coordinates.
QRect geometry(unsigned long window);
unsigned long inputFocus();
void setInputFocus(unsigned long window);
// A mapped window of another X client (this connection's), 200 x 100 at (900, 700).
unsigned long createForeignWindow();
void destroyWindow(unsigned long window);

}  // namespace ravlin::xserver
