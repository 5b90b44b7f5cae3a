#pragma once

// Points, sizes and rectangles in points (doubles), as the accessibility and screen seams report
// them. Which way y grows is the caller's contract: accessibility positions are y-down from the
// primary screen's top-left corner; screen frames and the mouse are y-up from its bottom-left.

namespace ravlin::platform {

struct Point {
    double x = 0;
    double y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
    double width = 0;
    double height = 0;
    friend bool operator==(const Size&, const Size&) = default;
};

struct Rect {
    Point origin;
    Size size;

    [[nodiscard]] constexpr double minX() const { return origin.x; }
    [[nodiscard]] constexpr double minY() const { return origin.y; }
    [[nodiscard]] constexpr double maxX() const { return origin.x + size.width; }
    [[nodiscard]] constexpr double maxY() const { return origin.y + size.height; }
    [[nodiscard]] constexpr double width() const { return size.width; }
    [[nodiscard]] constexpr double height() const { return size.height; }
    friend bool operator==(const Rect&, const Rect&) = default;
};

[[nodiscard]] constexpr Rect makeRect(double x, double y, double width, double height) {
    return Rect{{x, y}, {width, height}};
}

}  // namespace ravlin::platform
