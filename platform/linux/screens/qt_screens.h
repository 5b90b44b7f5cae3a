#pragma once

// The displays as Qt sees them, turned into y-up coordinates from the primary screen's
// bottom-left corner. Everything the seams report about other applications (accessibility
// rectangles) is in X root pixels, so the frames and the mouse are too: where a screen's
// device-pixel ratio is not 1, Qt's logical pixels are scaled here and nowhere else.

#include "platform/screens.h"

namespace ravlin::platform {

// A y-down rectangle (origin at the top-left of the virtual desktop) in the y-up coordinates
// of a desktop whose primary screen has the y-down frame `primary`.
[[nodiscard]] Rect toYUp(const Rect& yDown, const Rect& primary);
[[nodiscard]] Point toYUp(Point yDown, const Rect& primary);

class QtScreens final : public Screens {
  public:
    std::vector<Screen> screens() override;
    std::optional<Screen> mainScreen() override;
    Point mouseLocation() override;
};

}  // namespace ravlin::platform
