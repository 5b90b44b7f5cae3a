// The Composer panel and the Quick Fix heads-up as real X windows on a virtual 1280 x 1024
// screen: where the X server puts the panel for a caret, and that the heads-up leaves the input
// focus where it was. With RAVLIN_SCREENSHOT_DIR set, the windows are saved there as PNG files.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <memory>

#include "app/editor/controller_auto_correcting_text.h"
#include "app/editor/panel_composition.h"
#include "app/editor/view_composition.h"
#include "app/support/qt_screens.h"
#include "app/target/quick_fix_hud.h"
#include "platform/screen_flip.h"
#include "x_server.h"

namespace ravlin {
namespace {

using namespace std::chrono_literals;

class ApplicationEnvironment final : public ::testing::Environment {
  public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "tests_panel_xvfb";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<QApplication>(argc, argv);
        opened = xserver::open();
    }
    void TearDown() override {
        xserver::close();
        app.reset();
    }
    std::unique_ptr<QApplication> app;
    bool opened = false;
};
auto* const environment = static_cast<ApplicationEnvironment*>(
    ::testing::AddGlobalTestEnvironment(new ApplicationEnvironment));

void save(QWidget& widget, const char* name) {
    const QByteArray dir = qgetenv("RAVLIN_SCREENSHOT_DIR");
    if (!dir.isEmpty()) {
        widget.grab().save(QDir(QString::fromLocal8Bit(dir)).filePath(QString::fromLatin1(name)));
    }
}

QPalette appearance(bool dark) {
    QPalette palette = QApplication::palette();
    const QColor window = dark ? QColor(36, 36, 38) : QColor(246, 246, 246);
    const QColor text = dark ? QColor(235, 235, 235) : QColor(20, 20, 20);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::PlaceholderText,
                     dark ? QColor(152, 152, 157) : QColor(110, 110, 115));
    return palette;
}

TEST(PanelOnX, OpensByTheCaretWhereTheServerPutsIt) {
    ASSERT_TRUE(environment->opened);
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    const QRect root = QGuiApplication::primaryScreen()->geometry();
    ASSERT_EQ(root.size(), QSize(1280, 1024));

    auto executor = std::make_shared<ManualExecutor>();
    for (const bool dark : {false, true}) {
        QNControllerAutoCorrectingText controller(QNModelTextEditorInteractionMode::composer,
                                                  executor);
        auto trigger = std::make_shared<QNModelComposerBorderAnimationTrigger>();
        QNPanelComposition panel(std::make_shared<QtScreens>());
        panel.setPalette(appearance(dark));
        auto* view = new QNViewComposition(controller, trigger, executor);
        view->setPalette(appearance(dark));
        panel.installContentView(view);
        controller.onContentHeightChange = [&panel](double height) {
            panel.resizeToContentHeight(height);
        };
        controller.setText(
            u"Thanks for the notes on the draft. I will send the revised "
            u"version tomorrow morning, with the figures checked again.",
            QNPlacementCaret::end);

        // A caret 300 points from the top and 200 from the left, 18 high, in y-up coordinates.
        const platform::Rect caretYDown = platform::makeRect(200, 300, 2, 18);
        const platform::Rect caret = platform::flipped(caretYDown, 1024);
        panel.positionNear(caret);
        panel.makeKeyAndOrderFront();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
        // The text wraps to three lines once laid out at the panel's width: the panel grows
        // downwards, its top edge kept under the caret.
        executor->advance(100ms);
        QTest::qWait(20);
        EXPECT_GT(panel.height(), 60) << dark;
        trigger->fire();
        executor->advance(450ms);

        const QRect frame = xserver::geometry((unsigned long)(panel.winId()));
        // Hanging under the caret: its top edge 2 points below the caret's bottom, its left edge
        // 12 points left of the caret.
        EXPECT_EQ(frame.topLeft(), QPoint(188, 300 + 18 + 2)) << dark;
        EXPECT_EQ(frame.width(), 540) << dark;
        EXPECT_EQ(frame.height(), int(panel.height())) << dark;
        EXPECT_EQ(panel.anchorEdge, PanelAnchorEdge::top);
        save(panel, dark ? "composer-dark-beam.png" : "composer-light-beam.png");
        executor->advance(2s);
        panel.orderOut();
    }
}

// The keyboard going to another window of this program in the first moment after the panel
// showed (as a window shown at start-up does once it is mapped) is not the person leaving: the
// panel takes it back. Another program's window taking it, or one of ours later on, is.
TEST(PanelOnX, ResignsOnlyWhenThePersonLeftIt) {
    ASSERT_TRUE(environment->opened);
    QNPanelComposition panel(std::make_shared<QtScreens>());
    int resigned = 0;
    panel.resignHandler = [&] { ++resigned; };
    const auto panelWindow = (unsigned long)panel.winId();
    const auto keyboardAt = [](unsigned long window) {
        return QTest::qWaitFor([&] { return xserver::inputFocus() == window; }, 2000);
    };
    const auto settled = QNPanelComposition::resignSettle + 500ms;  // Qt's own wait included
    QWidget own;
    own.resize(200, 100);
    own.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&own));

    panel.makeKeyAndOrderFront();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    ASSERT_TRUE(keyboardAt(panelWindow));
    own.activateWindow();
    QTest::qWait(int(settled.count()));
    EXPECT_EQ(resigned, 0);
    EXPECT_TRUE(keyboardAt(panelWindow));

    const auto foreign = xserver::createForeignWindow();
    xserver::setInputFocus(foreign);
    QTest::qWait(int(settled.count()));
    EXPECT_EQ(resigned, 1);

    panel.makeKeyAndOrderFront();
    xserver::setInputFocus(panelWindow);  // (the foreign window's focus is newer than Qt's time)
    ASSERT_TRUE(keyboardAt(panelWindow));
    QTest::qWait(int(QNPanelComposition::ownWindowGrace.count()));
    own.activateWindow();
    QTest::qWait(int(settled.count()));
    EXPECT_EQ(resigned, 2);
    xserver::destroyWindow(foreign);
}

TEST(HeadsUpOnX, LeavesTheInputFocusWhereItWas) {
    QWidget other;
    other.setWindowTitle("target");
    other.resize(300, 200);
    other.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));
    xserver::setInputFocus((unsigned long)other.winId());
    const unsigned long before = xserver::inputFocus();
    ASSERT_EQ(before, (unsigned long)other.winId());

    auto executor = std::make_shared<ManualExecutor>();
    QNQuickFixHUDController controller(executor, std::make_shared<QtScreens>());
    controller.panel().setPalette(appearance(false));
    controller.show(QNQuickFixHUDKind::pasteOnClipboard);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&controller.panel()));
    QTest::qWait(50);
    EXPECT_EQ(xserver::inputFocus(), before);

    // Centred at the bottom of the screen, the card 80 points over the bottom edge.
    const QRect frame = xserver::geometry((unsigned long)(controller.panel().winId()));
    const int m = QNViewQuickFixHUD::kShadowMargin;
    EXPECT_EQ(frame.center().x(), 640 - (frame.width() % 2 == 0 ? 1 : 0));
    EXPECT_EQ(frame.bottom() + 1 - m, 1024 - 80);
    save(controller.panel(), "quick-fix-heads-up.png");
    controller.panel().dismiss();
    executor->runUntilIdle();
}

}  // namespace
}  // namespace ravlin
