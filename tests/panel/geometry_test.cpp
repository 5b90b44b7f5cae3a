// The panel's placement and resize rule, the heads-up's position, the y-up flip and the beam's
// geometry, as pure functions.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

#include "app/editor/panel_geometry.h"
#include "app/target/quick_fix_hud.h"
#include "panel_support.h"
#include "platform/screen_flip.h"

namespace ravlin {
namespace {

using platform::makeRect;
using platform::Rect;
using testing_panel::screen;
using E = PanelAnchorEdge;

constexpr platform::Size kPanel{540, 60};
const platform::Screen kMain = screen(0, 0, 1440, 900);

struct PlacementCase {
    const char* name;
    std::optional<Rect> anchor;
    std::vector<platform::Screen> screens;
    std::optional<platform::Screen> main;
    platform::Size size;
    QNPanelPlacement expected;
};

TEST(PanelPlacement, FollowsTheAnchorAndTheScreen) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const platform::Screen left = screen(0, 0, 1000, 800);
    const platform::Screen right = screen(1000, 0, 1000, 800);
    const std::vector<PlacementCase> cases = {
        {"below", makeRect(300, 500, 2, 20), {kMain}, kMain, kPanel, {{288, 438}, E::top}},
        {"above near the bottom",
         makeRect(300, 40, 2, 20),
         {kMain},
         kMain,
         kPanel,
         {{288, 62}, E::bottom}},
        {"negative size standardized",
         makeRect(302, 520, -2, -20),
         {kMain},
         kMain,
         kPanel,
         {{288, 438}, E::top}},
        {"zero width usable",
         makeRect(300, 500, 0, 20),
         {kMain},
         kMain,
         kPanel,
         {{288, 438}, E::top}},
        // Too short for either side: the side overflowing the margin less wins, below on a tie.
        {"both overflow, below smaller",
         makeRect(100, 100, 10, 10),
         {screen(0, 0, 400, 200)},
         std::nullopt,
         {300, 100},
         {{88, 12}, E::top}},
        {"both overflow, above smaller",
         makeRect(100, 85, 10, 10),
         {screen(0, 0, 400, 200)},
         std::nullopt,
         {300, 100},
         {{88, 88}, E::bottom}},
        {"equal overflows go below",
         makeRect(100, 95, 10, 10),
         {screen(0, 0, 400, 200)},
         std::nullopt,
         {300, 100},
         {{88, 12}, E::top}},
        {"clamped right", makeRect(1430, 500, 2, 20), {kMain}, kMain, kPanel, {{888, 438}, E::top}},
        // Larger than the visible frame allows: the lower bound wins.
        {"lower bound wins",
         makeRect(100, 150, 2, 20),
         {screen(0, 0, 300, 200)},
         std::nullopt,
         kPanel,
         {{12, 88}, E::top}},
        {"screen by centre",
         makeRect(1500, 500, 2, 20),
         {left, right},
         left,
         kPanel,
         {{1448, 438}, E::top}},
        // The centre lies off both screens; the right one overlaps more.
        {"screen by overlap",
         makeRect(990, 801 - 30, 40, 60),
         {left, right},
         left,
         kPanel,
         {{1012, 709}, E::top}},
        // The centre lies in the first screen's frame but outside its visible frame.
        {"full frame, not visible frame",
         makeRect(500, 3, 2, 4),
         {screen(2000, 0, 1000, 800), screen(0, 0, 1000, 800, 30)},
         screen(2000, 0, 1000, 800),
         kPanel,
         {{418, 42}, E::bottom}},
        {"no anchor: centred", std::nullopt, {kMain}, kMain, kPanel, {{450, 480}, E::top}},
        {"zero height unusable",
         makeRect(300, 500, 2, 0),
         {kMain},
         kMain,
         kPanel,
         {{450, 480}, E::top}},
        {"NaN unusable", makeRect(nan, 500, 2, 20), {kMain}, kMain, kPanel, {{450, 480}, E::top}},
        {"infinite unusable",
         makeRect(300, 500, inf, 20),
         {kMain},
         kMain,
         kPanel,
         {{450, 480}, E::top}},
        {"off every screen: main screen",
         makeRect(5000, 500, 2, 20),
         {left, right},
         right,
         kPanel,
         {{1448, 438}, E::top}},
        {"no main: first screen",
         std::nullopt,
         {right, left},
         std::nullopt,
         kPanel,
         {{1230, 430}, E::top}},
        {"no screens: 1440 x 900", std::nullopt, {}, std::nullopt, kPanel, {{450, 480}, E::top}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(panelPlacement(c.anchor, c.size, c.screens, c.main), c.expected) << c.name;
    }
}

struct ResizeCase {
    const char* name;
    Rect frame;
    double reported;
    std::optional<E> edge;
    std::optional<Rect> expected;
};

TEST(PanelResize, ClampsAndKeepsTheAnchoredEdge) {
    const Rect frame = makeRect(100, 500, 600, 60);
    const std::vector<ResizeCase> cases = {
        {"short report gives the minimum", makeRect(100, 500, 600, 120), 10, E::top,
         makeRect(100, 560, 600, 60)},
        {"tall report gives 360", frame, 1000, E::bottom, makeRect(100, 500, 600, 360)},
        {"0.4 changes nothing", frame, 60.4, E::top, std::nullopt},
        {"0.5 changes nothing", frame, 60.5, E::top, std::nullopt},
        {"top keeps the top edge", frame, 120, E::top, makeRect(100, 440, 600, 120)},
        {"bottom keeps the bottom edge", frame, 120, E::bottom, makeRect(100, 500, 600, 120)},
        {"unanchored: back to 540, top kept", frame, 120, std::nullopt,
         makeRect(100, 440, 540, 120)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(panelResizedFrame(c.frame, c.reported, 60, c.edge), c.expected) << c.name;
    }
}

TEST(ScreenFlip, FlipsAgainstTheScreenAtTheRootOrigin) {
    // A screen at the root's origin wins over the primary one.
    EXPECT_EQ(platform::flipEdge({makeRect(1280, 0, 800, 600), makeRect(0, 0, 1280, 1024)},
                                 makeRect(1280, 0, 800, 600)),
              1024);
    EXPECT_EQ(platform::flipEdge({makeRect(-800, 0, 800, 600)}, makeRect(-800, 0, 800, 600)), 600);
    EXPECT_EQ(platform::flipEdge({}, std::nullopt), 0);
    const Rect caret = makeRect(200, 100, 2, 18);
    EXPECT_EQ(platform::flipped(caret, 1024), makeRect(200, 906, 2, 18));
    EXPECT_EQ(platform::flipped(platform::flipped(caret, 1024), 1024), caret);
}

TEST(HudPosition, BottomCentreOfTheMainScreen) {
    const auto second = screen(1440, 0, 1000, 800, 20);
    EXPECT_EQ(hudBottomCenterOrigin({300, 60}, {kMain, second}, second),
              (platform::Point{1790, 100}));
    EXPECT_EQ(hudBottomCenterOrigin({300, 60}, {second, kMain}, std::nullopt),
              (platform::Point{1790, 100}));
    EXPECT_EQ(hudBottomCenterOrigin({300, 60}, {}, std::nullopt), std::nullopt);
}

TEST(BeamGeometry, LengthsFromTheFullSize) {
    const auto dark = QNConfigComposerBorderAnimation::standard().adapted(true);
    const auto light = QNConfigComposerBorderAnimation::standard().adapted(false);
    const auto g = beamGeometry(540, 60, dark, 0);
    EXPECT_EQ(g.cornerRadius, 18);
    EXPECT_NEAR(g.perimeter, 1169.097, 1e-3);
    EXPECT_EQ(g.length, 40);
    EXPECT_NEAR(g.gap, 1129.097, 1e-3);
    EXPECT_EQ(g.tail, 112);
    EXPECT_NEAR(g.rest, 1057.097, 1e-3);
    EXPECT_EQ(g.padding, 4);
    EXPECT_EQ(g.core.lineWidth, 0.3);
    EXPECT_NEAR(g.halo.dashPhase, 24, 1e-9);

    const auto l = beamGeometry(540, 60, light, 0.5);
    EXPECT_EQ(l.length, 56);
    EXPECT_NEAR(l.tail, 156.8, 1e-9);
    EXPECT_NEAR(l.core.dashPhase, -l.perimeter / 2, 1e-9);
    EXPECT_NEAR(l.halo.dashPhase, 0.6 * 56 - l.perimeter / 2, 1e-9);

    // Narrower than two radii: r is half the smaller side, no straight part on that side.
    const auto narrow = beamGeometry(20, 100, dark, 0);
    EXPECT_EQ(narrow.cornerRadius, 10);
    EXPECT_NEAR(narrow.perimeter, 2 * std::numbers::pi * 10 + 2 * 80, 1e-9);

    const auto degenerate = beamGeometry(0, 0, dark, 0);
    EXPECT_EQ(degenerate.perimeter, 1);
    EXPECT_EQ(degenerate.gap, 1);
    EXPECT_EQ(degenerate.rest, 1);
}

TEST(BeamDashes, CutFromThePathWithThePatternsPhase) {
    using I = std::vector<std::pair<double, double>>;
    EXPECT_EQ(dashIntervals(100, 10, 90, 0), (I{{0, 10}}));
    // A negative phase moves the dash forward along the path.
    EXPECT_EQ(dashIntervals(100, 10, 90, -30), (I{{30, 40}}));
    // Starting 4 into the dash: its rest, then the next period's dash.
    EXPECT_EQ(dashIntervals(100, 10, 40, 4), (I{{0, 6}, {46, 56}, {96, 100}}));
    EXPECT_EQ(dashIntervals(100, 10, 90, -95), (I{{0, 5}, {95, 100}}));  // wraps round
    EXPECT_TRUE(dashIntervals(0, 10, 90, 0).empty());
    EXPECT_EQ(dashIntervals(1e9, 1, 0.001, 0).size(), 64u);  // bounded
}

}  // namespace
}  // namespace ravlin
