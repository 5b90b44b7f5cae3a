#pragma once

// The displays in y-up points: the origin is the primary screen's bottom-left corner (the
// primary screen's frame starts at (0, 0)), y grows upwards. The visible frame leaves out
// panels and docks. The mouse location uses the same coordinates.

#include <optional>
#include <vector>

#include "platform/geometry.h"

namespace ravlin::platform {

struct Screen {
    Rect frame;
    Rect visibleFrame;
    friend bool operator==(const Screen&, const Screen&) = default;
};

class Screens {
  public:
    virtual ~Screens() = default;

    // Every screen, in the desktop's order (the primary one is not necessarily first).
    [[nodiscard]] virtual std::vector<Screen> screens() = 0;
    // The screen holding the active window (else the primary); none without screens.
    [[nodiscard]] virtual std::optional<Screen> mainScreen() = 0;
    [[nodiscard]] virtual Point mouseLocation() = 0;
};

// The screen whose frame starts at (0, 0), if any.
[[nodiscard]] std::optional<Screen> primaryScreen(const std::vector<Screen>& screens);

}  // namespace ravlin::platform
