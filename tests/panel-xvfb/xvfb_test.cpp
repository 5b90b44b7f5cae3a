// The Composer panel, the Quick Fix heads-up, the settings' Shortcuts pane and the tray menu as
// real X windows on a virtual 1280 x 1024 screen without a compositor: where the X server puts
// the panel for a caret, that the heads-up leaves the input focus where it was, that nothing
// shows black round the rounded windows, and the desktop session's X11 side. With
// RAVLIN_SCREENSHOT_DIR set, what the screen shows is saved there as PNG files.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QMenu>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <algorithm>
#include <memory>

#include "app/editor/controller_auto_correcting_text.h"
#include "app/settings/pane_shortcuts.h"
#include "app/shell/menu_bar.h"
#include "app/shell/recorders/hot_key_recorder.h"
#include "app/shell/recorders/recorder_symbols.h"
#include "app/editor/panel_composition.h"
#include "app/support/start_up_activation.h"
#include "app/editor/view_composition.h"
#include "app/support/qt_screens.h"
#include "app/target/quick_fix_hud.h"
#include "platform/linux/desktop/linux_desktop_session.h"
#include "platform/linux/x11/x11_connection.h"
#include "platform/screen_flip.h"
#include "tests/settings/settings_fixture.h"
#include "tests/support/xsettings_data.h"
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

// What the X server shows around a window (no compositor: what a person would see).
QImage onScreen(const QRect& frame, int margin = 12) {
    const QRect area = frame.adjusted(-margin, -margin, margin, margin);
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

void save(const QImage& image, const char* name) {
    const QByteArray dir = qgetenv("RAVLIN_SCREENSHOT_DIR");
    if (!dir.isEmpty()) {
        image.save(QDir(QString::fromLocal8Bit(dir)).filePath(QString::fromLatin1(name)));
    }
}

// A plain white window over the whole screen, behind the windows under test: any pixel of theirs
// left black by a missing compositor shows against it.
class Backdrop {
  public:
    Backdrop() {
        window_.setWindowFlags(Qt::FramelessWindowHint);
        QPalette palette = window_.palette();
        palette.setColor(QPalette::Window, Qt::white);
        window_.setPalette(palette);
        window_.setAutoFillBackground(true);
        window_.setGeometry(QGuiApplication::primaryScreen()->geometry());
        window_.show();
        (void)QTest::qWaitForWindowExposed(&window_);
    }

  private:
    QWidget window_;
};

// Pixels of the outermost ring of `image` (the margin round the window) that are not white.
int darkPixelsOutside(const QImage& image, const QRect& inside) {
    int dark = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (!inside.contains(x, y) && qGray(image.pixel(x, y)) < 200) {
                ++dark;
            }
        }
    }
    return dark;
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
    Backdrop backdrop;
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
        QTest::qWait(40);  // the beam's frame reaches the screen

        const QRect frame = xserver::geometry((unsigned long)(panel.winId()));
        // Hanging under the caret: its top edge 2 points below the caret's bottom, its left edge
        // 12 points left of the caret.
        EXPECT_EQ(frame.topLeft(), QPoint(188, 300 + 18 + 2)) << dark;
        EXPECT_EQ(frame.width(), 540) << dark;
        EXPECT_EQ(frame.height(), int(panel.height())) << dark;
        EXPECT_EQ(panel.anchorEdge, PanelAnchorEdge::top);
        // No compositor: the rounded corners are cut out of the window, nothing of the panel
        // shows outside its frame.
        const QImage shot = onScreen(frame);
        const QRect inside(12, 12, frame.width(), frame.height());
        EXPECT_EQ(darkPixelsOutside(shot, inside), 0) << dark;
        // Its rounded edge is drawn over its own colour, never over black (seen on the light
        // sheet).
        if (!dark) {
            EXPECT_EQ(darkPixelsOutside(shot, inside.adjusted(2, 2, -2, -2)), 0);
        }
        for (const QPoint corner : {inside.topLeft(), inside.topRight(), inside.bottomLeft(),
                                    inside.bottomRight()}) {
            EXPECT_EQ(shot.pixel(corner), qRgb(255, 255, 255)) << dark;
        }
        save(shot, dark ? "composer-dark-beam.png" : "composer-light-beam.png");
        executor->advance(2s);
        panel.orderOut();
    }
}

// The keyboard going to a window of this program shown at start-up, by the activation it asked
// for then (granted once it is mapped, however late), is not the person leaving: the panel takes
// it back. Another program's window taking it is; so is any other window of ours, even at once
// (the settings the person asked for from the panel).
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
    QWidget startUp;
    startUp.resize(200, 100);
    startUp.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&startUp));
    QWidget asked;
    asked.resize(200, 100);
    asked.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&asked));

    panel.makeKeyAndOrderFront();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    ASSERT_TRUE(keyboardAt(panelWindow));
    startUpActivation::mark(&startUp);
    startUp.activateWindow();
    QTest::qWait(int(settled.count()));
    EXPECT_EQ(resigned, 0);
    EXPECT_TRUE(keyboardAt(panelWindow));
    // Spent: the same window taking the keyboard again is the person's doing.
    xserver::setInputFocus((unsigned long)startUp.winId());
    QTest::qWait(int(settled.count()));
    EXPECT_EQ(resigned, 1);

    panel.makeKeyAndOrderFront();
    xserver::setInputFocus(panelWindow);  // (the focus set above is newer than Qt's time)
    ASSERT_TRUE(keyboardAt(panelWindow));
    xserver::setInputFocus((unsigned long)asked.winId());
    QTest::qWait(int(settled.count()));
    EXPECT_EQ(resigned, 2);
    EXPECT_TRUE(keyboardAt((unsigned long)asked.winId()));

    const auto foreign = xserver::createForeignWindow();
    panel.makeKeyAndOrderFront();
    xserver::setInputFocus(panelWindow);
    ASSERT_TRUE(keyboardAt(panelWindow));
    xserver::setInputFocus(foreign);
    QTest::qWait(int(settled.count()));
    EXPECT_EQ(resigned, 3);
    xserver::destroyWindow(foreign);
}

TEST(HeadsUpOnX, LeavesTheInputFocusWhereItWas) {
    Backdrop backdrop;
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
    // No compositor: the window is cut to the card, which is drawn opaque: no black frame round
    // it and no black corners.
    ASSERT_TRUE(controller.panel().cutsCornersWithMask());
    const QImage shot = onScreen(frame, 0);
    const QRect card = QRect(m, m, frame.width() - 2 * m, frame.height() - 2 * m);
    EXPECT_EQ(darkPixelsOutside(shot, card), 0);
    for (const QPoint corner :
         {card.topLeft(), card.topRight(), card.bottomLeft(), card.bottomRight()}) {
        EXPECT_EQ(shot.pixel(corner), qRgb(255, 255, 255));
    }
    save(onScreen(frame), "quick-fix-heads-up.png");
    controller.panel().dismiss();
    executor->runUntilIdle();
}

// The settings window's Shortcuts pane and the tray menu as the X server shows them, over the
// simulated desktop's coordinator: keys by their Linux names, a recording's prompt whole.
class WindowsOnX : public testing::SettingsFixture {};

TEST_F(WindowsOnX, TheShortcutsPaneARecordingAndTheMenuShowLinuxKeyNames) {
    Backdrop backdrop;
    auto& window = show(QNModelSettingsPane::hotKeys);
    window.move(40, 40);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    settle();
    QTest::qWait(50);
    save(onScreen(window.frameGeometry()), "settings-shortcuts.png");

    // Recording, with Ctrl and Alt held: the prompt fits its field.
    auto& pane = *view().shortcutsPane();
    pane.hotKeyRecordingChanged(true);
    desktop.userFlagsChanged(59, platform::eventflag::control);
    desktop.userFlagsChanged(58, platform::eventflag::control | platform::eventflag::option);
    settle();
    QTest::qWait(50);
    auto* recorder = pane.hotKeyRecorder();
    ASSERT_TRUE(recorder->hasSession());
    EXPECT_EQ(recorder->labelText(), "Ctrl+Alt press key");
    for (const QString& prompt :
         {recorder->labelText(), QStringLiteral("Press shortcut…"),
          QNViewHotKeyRecorder::heldPrompt(0x1000 | 0x800 | 0x100 | 0x200)}) {
        // Icon, gaps and the clear button's room beside the text.
        EXPECT_LE(QFontMetrics(bodyFont()).horizontalAdvance(prompt) + 10 + 16 + 8 + 32,
                  recorder->field()->width())
            << prompt.toStdString();
    }
    save(onScreen(window.frameGeometry()), "settings-shortcuts-recording.png");
    pane.hotKeyRecordingChanged(false);

    // The tray's menu: every shortcut in the shortcut column.
    QMenu& menu = *coordinator->menuBar->menu();
    menu.popup(QPoint(700, 100));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
    QTest::qWait(50);
    EXPECT_EQ(coordinator->menuBar->triggerItem()->text(), "Open Composer\tSuper+E");
    save(onScreen(menu.geometry()), "menu.png");
    menu.hide();
}

// The desktop session's X11 side against the server itself, services played by this test: a
// compositor's selection, an XSETTINGS manager's, and the panel's state on every desktop.
TEST(DesktopSessionOnX, CompositorSettingsAndEveryDesktop) {
    auto connection = platform::x11::Connection::open();
    ASSERT_TRUE(connection);
    platform::LinuxDesktopSession session(connection);

    EXPECT_FALSE(session.hasCompositor());
    xserver::ownSelection("_NET_WM_CM_S0");
    EXPECT_TRUE(session.hasCompositor());
    xserver::releaseSelection("_NET_WM_CM_S0");
    EXPECT_FALSE(session.hasCompositor());

    EXPECT_EQ(session.xsettingsEnablesAnimations(), std::nullopt);
    for (const std::int32_t enabled : {0, 1}) {
        xserver::ownSelection(
            "_XSETTINGS_S0", "_XSETTINGS_SETTINGS",
            testing::xsettingsData({{"Net/ThemeName", std::string("Adwaita")},
                                    {"Net/EnableAnimations", enabled}}));
        EXPECT_EQ(session.xsettingsEnablesAnimations(), enabled != 0);
        xserver::releaseSelection("_XSETTINGS_S0");
    }

    // Asked before each showing, the state goes with the mapping; the toolkit's own (above the
    // others) is kept beside it.
    QNPanelComposition panel(std::make_shared<QtScreens>());
    panel.onWillShow = [&] { session.showOnEveryDesktop(std::uint64_t(panel.winId())); };
    for (int showing = 0; showing < 2; ++showing) {
        panel.makeKeyAndOrderFront();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
        const auto state = xserver::atomNames((unsigned long)(panel.winId()), "_NET_WM_STATE");
        EXPECT_EQ(std::count(state.begin(), state.end(), "_NET_WM_STATE_STICKY"), 1) << showing;
        EXPECT_EQ(std::count(state.begin(), state.end(), "_NET_WM_STATE_ABOVE"), 1) << showing;
        EXPECT_EQ(xserver::cardinal((unsigned long)(panel.winId()), "_NET_WM_DESKTOP"),
                  0xFFFFFFFFu);
        panel.orderOut();
        QTest::qWait(20);
    }
}

// Under a compositor (xcompmgr) the heads-up keeps its soft shadow and rounded edge: nothing
// is cut, and what shows round the card is the backdrop, shaded, never black.
TEST(HeadsUpOnX, UnderACompositorKeepsItsShadow) {
    Backdrop backdrop;
    auto connection = platform::x11::Connection::open();
    ASSERT_TRUE(connection);
    auto session = std::make_shared<platform::LinuxDesktopSession>(connection);
    QProcess compositor;
    compositor.start(QStringLiteral("xcompmgr"), {});
    ASSERT_TRUE(compositor.waitForStarted(5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return session->hasCompositor(); }, 5000));

    auto executor = std::make_shared<ManualExecutor>();
    QNQuickFixHUDController controller(executor, std::make_shared<QtScreens>(), session);
    controller.panel().setPalette(appearance(false));
    controller.show(QNQuickFixHUDKind::pasteOnClipboard);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&controller.panel()));
    QTest::qWait(300);  // the compositor draws it
    EXPECT_FALSE(controller.panel().cutsCornersWithMask());
    const QRect frame = xserver::geometry((unsigned long)(controller.panel().winId()));
    const QImage shot = onScreen(frame, 0);
    const int m = QNViewQuickFixHUD::kShadowMargin;
    // Under the card's bottom edge, in the middle: the shadow, lighter than any black frame.
    const int shade = qGray(shot.pixel(shot.width() / 2, shot.height() - m + 3));
    EXPECT_LT(shade, 255);
    EXPECT_GT(shade, 200);
    EXPECT_EQ(darkPixelsOutside(shot, QRect(m, m, frame.width() - 2 * m, frame.height() - 2 * m)),
              0);
    save(onScreen(frame), "quick-fix-heads-up-composited.png");
    controller.panel().dismiss();
    executor->runUntilIdle();
    compositor.terminate();
    compositor.waitForFinished(3000);
}

}  // namespace
}  // namespace ravlin
