#pragma once

// Turning rectangles between the y-up screen coordinates used everywhere in the program (origin
// at the primary screen's bottom-left corner) and the y-down coordinates of the X root window and
// of the toolkit (origin at the top-left corner of the root). The flip is its own inverse:
//   y-down = F - y-up - height,  y-up = F - y-down - height,
// where F is the bottom edge, in y-down coordinates, of the screen whose top-left corner is the
// root's (0, 0), else of the primary screen.

#include <optional>
#include <vector>

#include "platform/geometry.h"

namespace ravlin::platform {

// F for screens given by their y-down frames: the bottom edge of the one starting at (0, 0),
// else of `primary`, else 0.
[[nodiscard]] double flipEdge(const std::vector<Rect>& yDownFrames,
                              const std::optional<Rect>& primary);

// `rect` with its vertical origin flipped against `edge` (either way).
[[nodiscard]] constexpr Rect flipped(const Rect& rect, double edge) {
    return makeRect(rect.minX(), edge - rect.minY() - rect.height(), rect.width(), rect.height());
}

[[nodiscard]] constexpr Point flipped(const Point& point, double edge) {
    return Point{point.x, edge - point.y};
}

}  // namespace ravlin::platform
