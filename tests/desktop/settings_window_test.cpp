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
#include "tests/support/x_properties.h"

namespace ravlin {
namespace {

using namespace std::chrono_literals;
using testing::Desktop;
using testing::waitUntil;

// Whether the window manager has taken `window` in (decorated it: its frame's extents are set)
// and the X server has it where the widget says it is: the window manager's last word on its
// place and size is in, and Qt has heard it.
bool placedAsItSays(const QWidget& window) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return false;
    }
    const auto id = static_cast<Window>(window.winId());
    const bool framed =
        testing::cardinalsOf(display, id, XInternAtom(display, "_NET_FRAME_EXTENTS", False),
                             XA_CARDINAL, 4)
            .size() == 4;
    XWindowAttributes attributes{};
    int x = 0;
    int y = 0;
    Window child = 0;
    const bool known =
        XGetWindowAttributes(display, id, &attributes) != 0 &&
        XTranslateCoordinates(display, id, DefaultRootWindow(display), 0, 0, &x, &y, &child) != 0;
    XCloseDisplay(display);
    return framed && known && QRect(x, y, attributes.width, attributes.height) == window.geometry();
}

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
    // It takes the size its content asks for as it appears; the window manager places and
    // decorates it.
    ASSERT_TRUE(waitUntil([&] { return !window.isResizeAnimating() && placedAsItSays(window); }));
    const QRect placed = window.geometry();
    EXPECT_EQ(window.width(), 500);
    const int toolbar = window.toolBar()->height();
    EXPECT_EQ(window.height(), 354 + toolbar);  // General, waiting for approval

    auto* hotKeys = window.toolBar()->findChild<QToolButton*>("settings.hotKeys");
    ASSERT_NE(hotKeys, nullptr);
    QTest::mouseClick(hotKeys, Qt::LeftButton);
    EXPECT_EQ(controller.windowState()->selectedPane.get(), QNModelSettingsPane::hotKeys);
    ASSERT_TRUE(waitUntil([&] {
        return !window.isResizeAnimating() && window.height() == 540 + toolbar &&
               placedAsItSays(window);
    }));
    EXPECT_EQ(window.geometry().top(), placed.top());
    EXPECT_EQ(window.geometry().left(), placed.left());

    QTest::mouseClick(window.toolBar()->findChild<QToolButton*>("settings.about"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] {
        return !window.isResizeAnimating() && window.height() == 220 + toolbar &&
               placedAsItSays(window);
    }));
    EXPECT_EQ(window.geometry().top(), placed.top());
    window.close();
}

}  // namespace
}  // namespace ravlin
