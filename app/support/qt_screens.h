#pragma once

// The screens as the toolkit sees them, in the program's y-up coordinates, and the window
// geometry conversions at the toolkit's edge.

#include <QRect>

#include "platform/geometry.h"
#include "platform/screens.h"

namespace ravlin {

// F of platform/screen_flip.h over the toolkit's screens (0 without screens).
[[nodiscard]] double qtFlipEdge();

// A toolkit rectangle (y-down, root coordinates) in y-up coordinates, and back.
[[nodiscard]] platform::Rect yUpRect(const QRect& yDown);
[[nodiscard]] QRect yDownRect(const platform::Rect& yUp);

// The Screens seam over the toolkit: its screens in its order, the primary one as the main
// screen, the cursor for the mouse.
class QtScreens final : public platform::Screens {
  public:
    std::vector<platform::Screen> screens() override;
    std::optional<platform::Screen> mainScreen() override;
    platform::Point mouseLocation() override;
};

}  // namespace ravlin
