#pragma once

// Whether our rounded windows cut their corners with a shape mask by default: on X11 (and the
// offscreen platform the tests use, which stands for it) a window has no see-through corners
// unless a compositor draws them. A window that knows a compositor is running asks no mask.

namespace ravlin {

[[nodiscard]] bool cutsCornersOnThisPlatform();

}  // namespace ravlin
