#include "app/editor/panel_geometry.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace ravlin {

using platform::Rect;
using platform::Screen;

namespace {

using M = QNPanelMetrics;

bool contains(const Rect& r, platform::Point p) {
    return p.x >= r.minX() && p.x < r.maxX() && p.y >= r.minY() && p.y < r.maxY();
}

double overlapArea(const Rect& a, const Rect& b) {
    const double w = std::min(a.maxX(), b.maxX()) - std::max(a.minX(), b.minX());
    const double h = std::min(a.maxY(), b.maxY()) - std::max(a.minY(), b.minY());
    return w > 0 && h > 0 ? w * h : 0;
}

}  // namespace

std::optional<Rect> usablePanelAnchor(const std::optional<Rect>& anchor) {
    if (!anchor) {
        return std::nullopt;
    }
    Rect r = *anchor;
    if (r.size.width < 0) {
        r.origin.x += r.size.width;
        r.size.width = -r.size.width;
    }
    if (r.size.height < 0) {
        r.origin.y += r.size.height;
        r.size.height = -r.size.height;
    }
    const bool finite = std::isfinite(r.minX()) && std::isfinite(r.minY()) &&
                        std::isfinite(r.width()) && std::isfinite(r.height());
    if (!finite || !(r.width() >= 0) || !(r.height() > 0)) {
        return std::nullopt;
    }
    return r;
}

std::optional<Screen> panelScreen(const Rect& anchor, const std::vector<Screen>& screens) {
    const platform::Point centre{anchor.minX() + anchor.width() / 2,
                                 anchor.minY() + anchor.height() / 2};
    for (const auto& screen : screens) {
        if (contains(screen.frame, centre)) {
            return screen;
        }
    }
    std::optional<Screen> best;
    double bestArea = 0;
    for (const auto& screen : screens) {
        const double area = overlapArea(screen.frame, anchor);
        if (area > bestArea) {
            best = screen;
            bestArea = area;
        }
    }
    return best;
}

QNPanelPlacement panelPlacement(const std::optional<Rect>& anchor, platform::Size size,
                                const std::vector<Screen>& screens,
                                const std::optional<Screen>& mainScreen) {
    const double w = size.width;
    const double h = size.height;
    const auto a = usablePanelAnchor(anchor);
    std::optional<Screen> screen;
    if (a) {
        screen = panelScreen(*a, screens);
    }
    if (!screen) {
        screen = mainScreen;
    }
    if (!screen && !screens.empty()) {
        screen = screens.front();
    }
    const Rect v = screen ? screen->visibleFrame : M::fallbackVisibleFrame;

    QNPanelPlacement placement;
    double x = 0;
    double y = 0;
    if (!a) {
        placement.anchorEdge = PanelAnchorEdge::top;
        x = v.minX() + v.width() / 2 - w / 2;
        y = v.minY() + v.height() / 2 + h / 2;
    } else {
        const double below = a->minY() - h - M::anchorSpacing;
        const double above = a->maxY() + M::anchorSpacing;
        const double low = v.minY() + M::screenPadding;
        const double high = v.maxY() - M::screenPadding;
        bool goesAbove = false;
        if (below >= low) {
            goesAbove = false;
        } else if (above + h <= high) {
            goesAbove = true;
        } else {
            const double overflowBelow = std::max(0.0, low - below);
            const double overflowAbove = std::max(0.0, above + h - high);
            goesAbove = overflowAbove < overflowBelow;
        }
        y = goesAbove ? above : below;
        placement.anchorEdge = goesAbove ? PanelAnchorEdge::bottom : PanelAnchorEdge::top;
        x = a->minX() - M::horizontalAnchorInset;
    }
    // std::clamp would assert when the bounds cross; here the lower bound simply wins.
    x = std::max(v.minX() + M::screenPadding, std::min(v.maxX() - w - M::screenPadding, x));
    y = std::max(v.minY() + M::screenPadding, std::min(v.maxY() - h - M::screenPadding, y));
    placement.origin = {x, y};
    return placement;
}

double panelTargetHeight(double reportedHeight, double minHeight) {
    return std::max(minHeight, std::min(reportedHeight + M::panelChromeHeight, M::panelMaxHeight));
}

std::optional<Rect> panelResizedFrame(const Rect& frame, double reportedHeight, double minHeight,
                                      const std::optional<PanelAnchorEdge>& anchorEdge) {
    const double target = panelTargetHeight(reportedHeight, minHeight);
    if (std::abs(frame.height() - target) <= 0.5) {
        return std::nullopt;
    }
    const double growth = target - frame.height();
    if (!anchorEdge) {
        return platform::makeRect(frame.minX(), frame.minY() - growth, M::panelWidth, target);
    }
    const double y = *anchorEdge == PanelAnchorEdge::top ? frame.minY() - growth : frame.minY();
    return platform::makeRect(frame.minX(), y, frame.width(), target);
}

QNBeamGeometry beamGeometry(double width, double height,
                            const QNConfigComposerBorderAnimation& config, double phase) {
    QNBeamGeometry g;
    const double w = std::max(0.0, width);
    const double h = std::max(0.0, height);
    g.cornerRadius = std::min(config.cornerRadius, std::min(w, h) / 2);
    const double r = g.cornerRadius;
    g.perimeter =
        2 * std::numbers::pi * r + 2 * std::max(0.0, w - 2 * r) + 2 * std::max(0.0, h - 2 * r);
    if (!(g.perimeter >= 1)) {
        g.perimeter = 1;
    }
    const double p = g.perimeter;
    g.length = std::max(config.minimumBeamLength,
                        std::min(config.beamLengthRatio * p, config.maximumBeamLength));
    g.gap = std::max(1.0, p - g.length);
    g.tail = std::min(0.18 * p, 2.8 * g.length);
    g.rest = std::max(1.0, p - g.tail);
    g.padding = config.glowBlurRadius / 2;
    const double offset = -phase * p;
    g.halo = {config.haloLineWidth,    config.haloOpacity,   g.tail, g.rest,
              0.6 * g.length + offset, config.haloBlurRadius};
    g.glow = {config.glowLineWidth, config.glowOpacity, g.length, g.gap, offset,
              config.glowBlurRadius};
    g.core = {config.lineWidth, config.maxOpacity, g.length, g.gap, offset, 0};
    return g;
}

std::vector<std::pair<double, double>> dashIntervals(double pathLength, double on, double off,
                                                     double phase, std::size_t limit) {
    std::vector<std::pair<double, double>> intervals;
    const double period = on + off;
    if (!(pathLength > 0) || !(on > 0) || !(period > 0) || !std::isfinite(period) ||
        !std::isfinite(phase)) {
        return intervals;
    }
    double position = std::fmod(phase, period);  // where in the pattern the path starts
    if (position < 0) {
        position += period;
    }
    // Distance along the path at which the current period began (may be negative).
    double start = -position;
    while (start < pathLength && intervals.size() < limit) {
        const double from = std::max(0.0, start);
        const double to = std::min(pathLength, start + on);
        if (to > from) {
            intervals.emplace_back(from, to);
        }
        start += period;
    }
    return intervals;
}

}  // namespace ravlin
