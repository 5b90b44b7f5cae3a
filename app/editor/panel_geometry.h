#pragma once

// The Composer panel's geometry and the border beam's, as pure functions in y-up screen
// coordinates (origin at the primary screen's bottom-left corner, y growing upwards). Nothing
// here knows the toolkit: the window converts at its edge (platform/screen_flip.h).

#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

#include "app/preferences/border_animation.h"
#include "platform/geometry.h"
#include "platform/screens.h"

namespace ravlin {

// Which edge of the panel stays put when its height changes: `top` hangs below the anchor,
// `bottom` stands above it.
enum class PanelAnchorEdge { top, bottom };

struct QNPanelMetrics {
    static constexpr double panelWidth = 540;
    static constexpr double panelMinWidth = 360;
    static constexpr double panelAbsoluteMinHeight = 40;
    static constexpr double panelInitialMinHeight = 60;
    static constexpr double panelMaxHeight = 360;
    static constexpr double panelChromeHeight = 0;
    static constexpr double screenPadding = 12;
    static constexpr double anchorSpacing = 2;
    static constexpr double horizontalAnchorInset = 12;
    static constexpr double cornerRadius = 18;
    // The working rectangle when there is no screen at all.
    static constexpr platform::Rect fallbackVisibleFrame = platform::makeRect(0, 0, 1440, 900);
};

struct QNPanelPlacement {
    platform::Point origin;
    PanelAnchorEdge anchorEdge = PanelAnchorEdge::top;
    friend bool operator==(const QNPanelPlacement&, const QNPanelPlacement&) = default;
};

// The anchor standardized (positive size), when usable: finite, width >= 0 and height > 0.
[[nodiscard]] std::optional<platform::Rect> usablePanelAnchor(
    const std::optional<platform::Rect>& anchor);

// The screen for a usable anchor: the first whose full frame holds the anchor's centre, else the
// one overlapping it most (the earlier on a tie); none when nothing overlaps.
[[nodiscard]] std::optional<platform::Screen> panelScreen(
    const platform::Rect& anchor, const std::vector<platform::Screen>& screens);

// Where a panel of `size` goes for `anchor`: below the anchor when it fits, else above, else on
// the side overflowing the margin less (below on a tie); then clamped into the visible frame
// with a 12-point margin, the lower bound winning. Without a usable anchor: centred, its bottom
// half its height above the middle of the main screen (else the first screen).
[[nodiscard]] QNPanelPlacement panelPlacement(const std::optional<platform::Rect>& anchor,
                                              platform::Size size,
                                              const std::vector<platform::Screen>& screens,
                                              const std::optional<platform::Screen>& mainScreen);

// The panel's frame after a content-height report, none when the height moves by 0.5 or less.
// Unanchored: 540 wide, the top edge kept (the window's content size changes). Anchored: x and
// width kept; `top` keeps the top edge, `bottom` the bottom edge.
[[nodiscard]] std::optional<platform::Rect> panelResizedFrame(
    const platform::Rect& frame, double reportedHeight, double minHeight,
    const std::optional<PanelAnchorEdge>& anchorEdge);

// The clamped height for a reported content height.
[[nodiscard]] double panelTargetHeight(double reportedHeight, double minHeight);

// --- The border beam

struct QNBeamStroke {
    double lineWidth = 0;
    double opacity = 0;
    double dashOn = 0;     // points
    double dashOff = 0;    // points
    double dashPhase = 0;  // points; a positive phase starts the pattern that far into it
    double blurRadius = 0;
    friend bool operator==(const QNBeamStroke&, const QNBeamStroke&) = default;
};

struct QNBeamGeometry {
    double cornerRadius = 0;  // of the full size
    double perimeter = 0;
    double length = 0;
    double gap = 0;
    double tail = 0;
    double rest = 0;
    double padding = 0;  // on every side of the full size, for the blur
    QNBeamStroke halo;
    QNBeamStroke glow;
    QNBeamStroke core;
};

// The three strokes of the beam over a view of `width` x `height` at `phase` (0 to 1, one lap):
// lengths come from the full size, the strokes are drawn in the rectangle padded by half the
// glow's blur radius.
[[nodiscard]] QNBeamGeometry beamGeometry(double width, double height,
                                          const QNConfigComposerBorderAnimation& config,
                                          double phase);

// The stretches [start, end) of a path of `pathLength` that a dash pattern of `on` and `off`
// covers, the pattern starting `phase` into itself at the path's start (a negative phase moves
// the dashes forward). At most `limit` stretches.
[[nodiscard]] std::vector<std::pair<double, double>> dashIntervals(double pathLength, double on,
                                                                   double off, double phase,
                                                                   std::size_t limit = 64);

}  // namespace ravlin
