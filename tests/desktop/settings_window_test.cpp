// The settings window as a real X window under a window manager: it opens, a click on a toolbar
// item switches the pane, and the window's top edge stays where it was while it takes the new
// pane's height.

#include <gtest/gtest.h>

#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include "app/settings/settings_view.h"
#include "app/settings/settings_window.h"
#include "desktop_fixture.h"

namespace ravlin {
namespace {

using namespace std::chrono_literals;
using testing::Desktop;
using testing::waitUntil;

TEST(SettingsWindowOnX11, AToolbarClickSwitchesThePaneAndTheTopEdgeStays) {
    Desktop::get();
    QNControllerSettingsWindow controller(
        [](std::shared_ptr<QNStoreSettingsWindow> state, std::function<void(QSize)> onSize) {
            return new QNViewSettings(std::move(state), std::nullopt,
                                      QNModelSettingsPreviewSnapshot::makeDefault(),
                                      std::move(onSize));
        },
        {});
    controller.show();
    QNWindowSettings& window = *controller.window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, 5000));
    // The window manager places and decorates it; wait until it stands still.
    QRect placed;
    ASSERT_TRUE(waitUntil([&] {
        const QRect now = window.geometry();
        const bool still = now == placed;
        placed = now;
        QTest::qWait(100);
        return still;
    }));
    EXPECT_EQ(window.width(), 500);
    const int toolbar = window.toolBar()->height();
    EXPECT_EQ(window.height(), 354 + toolbar);  // General, waiting for approval

    auto* hotKeys = window.toolBar()->findChild<QToolButton*>("settings.hotKeys");
    ASSERT_NE(hotKeys, nullptr);
    QTest::mouseClick(hotKeys, Qt::LeftButton);
    EXPECT_EQ(controller.windowState()->selectedPane.get(), QNModelSettingsPane::hotKeys);
    ASSERT_TRUE(
        waitUntil([&] { return !window.isResizeAnimating() && window.height() == 540 + toolbar; }));
    QTest::qWait(200);
    EXPECT_EQ(window.geometry().top(), placed.top());
    EXPECT_EQ(window.geometry().left(), placed.left());

    QTest::mouseClick(window.toolBar()->findChild<QToolButton*>("settings.about"), Qt::LeftButton);
    ASSERT_TRUE(
        waitUntil([&] { return !window.isResizeAnimating() && window.height() == 220 + toolbar; }));
    QTest::qWait(200);
    EXPECT_EQ(window.geometry().top(), placed.top());
    window.close();
}

}  // namespace
}  // namespace ravlin
