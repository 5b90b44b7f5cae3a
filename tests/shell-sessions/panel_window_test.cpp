// The Composer panel's window as each opening leaves it: on every virtual desktop, its border
// animation following the desktop's reduce-animations switch, its corners cut only without a
// compositor.

#include <gtest/gtest.h>

#include "app/editor/view_composition.h"
#include "tests/shell-sessions/sessions_fixture.h"

namespace ravlin::testing {
namespace {

class PanelWindow : public SessionsFixture {};

TEST_F(PanelWindow, EachOpeningFollowsTheDesktop) {
    const struct {
        bool reducesAnimations;
        bool compositor;
    } openings[] = {{false, false}, {true, false}, {false, true}, {true, true}};
    startApp();
    openTarget(u"Hi there", {0, 0});
    std::size_t opened = 0;
    for (const auto& opening : openings) {
        SCOPED_TRACE(::testing::Message() << opening.reducesAnimations << opening.compositor);
        desktop.setReducesAnimations(opening.reducesAnimations);
        desktop.setCompositor(opening.compositor);
        app->toggleHotkey("hotkey");
        drive(200ms);
        ASSERT_TRUE(app->isPanelOpen);
        ++opened;
        ASSERT_EQ(desktop.windowsOnEveryDesktop().size(), opened);
        EXPECT_EQ(desktop.windowsOnEveryDesktop().back(), std::uint64_t(app->panel->winId()));
        EXPECT_EQ(app->hostingView->reducesMotion(), opening.reducesAnimations);
        EXPECT_EQ(app->panel->cutsCornersWithMask(), !opening.compositor);
        app->toggleHotkey("hotkey");
        drive(200ms);
        ASSERT_FALSE(app->isPanelOpen);
    }
}

}  // namespace
}  // namespace ravlin::testing
