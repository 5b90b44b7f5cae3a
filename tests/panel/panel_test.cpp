// The Composer panel's keys, activation and geometry through Qt, and the view's border beam on
// virtual time.

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QTest>
#include <limits>

#include "app/editor/controller_auto_correcting_text.h"
#include "app/editor/panel_composition.h"
#include "app/editor/view_composition.h"
#include "app/support/qt_screens.h"
#include "panel_support.h"
#include "platform/screen_flip.h"

namespace ravlin {
namespace {

using namespace std::chrono_literals;

struct KeyCase {
    const char* name;
    int key;
    Qt::KeyboardModifiers modifiers;
    const char* text;
    const char* expected;  // "commit", "dismiss", "settings" or "" (passed on)
};

TEST(PanelKeys, MapsReturnEscapeAndTheSettingsChord) {
    testing_panel::ensureApplication();
    QNPanelComposition panel(nullptr);
    std::string called;
    panel.onCommitKey = [&] { called += "commit"; };
    panel.onDismissKey = [&] { called += "dismiss"; };
    panel.onSettingsKey = [&] { called += "settings"; };
    const std::vector<KeyCase> cases = {
        {"Return", Qt::Key_Return, Qt::NoModifier, "\r", "commit"},
        {"keypad Enter", Qt::Key_Enter, Qt::KeypadModifier, "\r", "commit"},
        {"Shift+Return passed on", Qt::Key_Return, Qt::ShiftModifier, "\r", ""},
        {"Shift+Enter passed on", Qt::Key_Enter, Qt::ShiftModifier | Qt::KeypadModifier, "\r", ""},
        {"Escape", Qt::Key_Escape, Qt::NoModifier, "\x1b", "dismiss"},
        {"Alt+Escape", Qt::Key_Escape, Qt::AltModifier, "\x1b", "dismiss"},
        {"Ctrl+Shift+Escape", Qt::Key_Escape, Qt::ControlModifier | Qt::ShiftModifier, "\x1b",
         "dismiss"},
        // Caps Lock is no Qt modifier: Ctrl+comma with it on arrives as plain Ctrl+comma.
        {"Ctrl+comma", Qt::Key_Comma, Qt::ControlModifier, ",", "settings"},
        {"Ctrl+Shift+comma", Qt::Key_Comma, Qt::ControlModifier | Qt::ShiftModifier, "<", ""},
        {"Ctrl+keypad comma", Qt::Key_Comma, Qt::ControlModifier | Qt::KeypadModifier, ",", ""},
        {"Ctrl+Alt+comma", Qt::Key_Comma, Qt::ControlModifier | Qt::AltModifier, ",", ""},
        {"plain comma", Qt::Key_Comma, Qt::NoModifier, ",", ""},
    };
    for (const auto& c : cases) {
        called.clear();
        QKeyEvent event(QEvent::KeyPress, c.key, c.modifiers, QString::fromLatin1(c.text));
        QCoreApplication::sendEvent(&panel, &event);
        EXPECT_EQ(called, c.expected) << c.name;
        EXPECT_EQ(event.isAccepted(), !std::string(c.expected).empty()) << c.name;
    }
}

TEST(PanelKeys, HandledKeysAreConsumedWithoutCallbacks) {
    testing_panel::ensureApplication();
    QNPanelComposition panel(nullptr);
    for (int key : {Qt::Key_Return, Qt::Key_Escape, Qt::Key_Comma}) {
        QKeyEvent event(QEvent::KeyPress, key,
                        key == Qt::Key_Comma ? Qt::ControlModifier : Qt::NoModifier);
        QCoreApplication::sendEvent(&panel, &event);
        EXPECT_TRUE(event.isAccepted()) << key;
    }
}

TEST(PanelKeys, TheSettingsChordReachesThePanelFromTheEditor) {
    testing_panel::ensureApplication();
    auto executor = std::make_shared<ManualExecutor>();
    QNControllerAutoCorrectingText controller(QNModelTextEditorInteractionMode::composer, executor);
    QNPanelComposition panel(nullptr);
    panel.installContentView(new QNViewComposition(
        controller, std::make_shared<QNModelComposerBorderAnimationTrigger>(), executor));
    int settings = 0;
    panel.onSettingsKey = [&] { ++settings; };
    panel.show();
    QTest::keyClick(controller.textView(), Qt::Key_Comma, Qt::ControlModifier);
    QTest::keyClick(controller.textView(), Qt::Key_Comma);
    EXPECT_EQ(settings, 1);
    EXPECT_EQ(controller.string(), u",");
}

TEST(PanelWindow, ADeactivationWhileHiddenOrActiveAgainCallsNothing) {
    testing_panel::ensureApplication();
    QNPanelComposition panel(nullptr);
    int resigned = 0;
    panel.resignHandler = [&] { ++resigned; };
    for (const bool shown : {false, true}) {
        if (shown) {
            panel.show();
            panel.activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(&panel));
        }
        QEvent event(QEvent::WindowDeactivate);
        QCoreApplication::sendEvent(&panel, &event);
        QTest::qWait(int(QNPanelComposition::resignSettle.count()) + 30);
        EXPECT_EQ(resigned, 0);
    }
    EXPECT_TRUE(panel.windowFlags().testFlag(Qt::Tool));
    EXPECT_TRUE(panel.windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(panel.minimumSize(), QSize(360, 60));
    EXPECT_EQ(panel.maximumHeight(), 360);
}

// Put away right after it lost the keyboard (Quick Fix's panel, its target activated for the
// write) and shown again at once (the Composer, not active yet): that deactivation dismisses
// nothing.
TEST(PanelWindow, ADeactivationOfAnEarlierShowingDismissesNothing) {
    testing_panel::ensureApplication();
    QNPanelComposition panel(nullptr);
    int resigned = 0;
    panel.resignHandler = [&] { ++resigned; };
    panel.show();
    panel.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&panel));
    QEvent event(QEvent::WindowDeactivate);
    QCoreApplication::sendEvent(&panel, &event);
    panel.orderOut();
    panel.show();
    ASSERT_FALSE(panel.isActiveWindow());
    QTest::qWait(int(QNPanelComposition::resignSettle.count()) + 30);
    EXPECT_EQ(resigned, 0);
}

TEST(PanelWindow, PlacesByTheCaretAndGrowsFromTheAnchoredEdge) {
    testing_panel::ensureApplication();
    auto screens = std::make_shared<QtScreens>();
    QNPanelComposition panel(screens);
    panel.setPanelMinHeight(60);
    const QRect root = QGuiApplication::primaryScreen()->geometry();
    // A caret 100 points under the top of the screen, in y-up coordinates.
    const auto caret = platform::makeRect(200, root.height() - 100 - 18, 2, 18);
    panel.positionNear(caret);
    ASSERT_EQ(panel.anchorEdge, PanelAnchorEdge::top);
    // The panel's top edge lies 2 points under the caret's bottom, in y-down coordinates.
    EXPECT_EQ(panel.geometry(), QRect(188, 100 + 18 + 2, 540, 60));
    EXPECT_EQ(panel.frameYUp(), platform::makeRect(188, caret.minY() - 62, 540, 60));

    panel.resizeToContentHeight(140);
    EXPECT_EQ(panel.geometry(), QRect(188, 120, 540, 140));  // the top edge stays

    panel.anchorEdge = PanelAnchorEdge::bottom;
    panel.resizeToContentHeight(100);
    EXPECT_EQ(panel.geometry(), QRect(188, 160, 540, 100));  // the bottom edge stays

    panel.anchorEdge.reset();
    panel.resize(700, 100);
    panel.resizeToContentHeight(200);
    EXPECT_EQ(panel.geometry(), QRect(188, 160, 540, 200));  // width back to 540, top kept
}

// --- Beam

class BeamTest : public ::testing::Test {
  protected:
    std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
    QNConfigComposerBorderAnimation config = QNConfigComposerBorderAnimation::standard();
};

TEST(BorderAnimationTrigger, FireWrapsToOne) {
    QNModelComposerBorderAnimationTrigger trigger;
    std::vector<std::int64_t> seen;
    auto subscription = trigger.token.observe([&](const std::int64_t& v) { seen.push_back(v); });
    trigger.fire();
    trigger.token.set(std::numeric_limits<std::int64_t>::max());
    trigger.fire();
    EXPECT_EQ(seen, (std::vector<std::int64_t>{1, std::numeric_limits<std::int64_t>::max(), 1}));
}

TEST_F(BeamTest, OneLapFadesInRunsAndFadesOut) {
    QNBorderBeamState beam(executor, config);
    EXPECT_EQ(beam.opacity(), 0);
    EXPECT_FALSE(beam.isAnimating());
    beam.replay();
    executor->advance(100ms);
    EXPECT_GT(beam.opacity(), 0.5);
    EXPECT_LT(beam.opacity(), 1);
    EXPECT_LT(beam.phase(), 0.1);
    executor->advance(600ms);  // 0.7 s
    EXPECT_EQ(beam.opacity(), 1);
    EXPECT_EQ(beam.fadeOutCount(), 0);
    executor->advance(150ms);  // 0.85 s: the fade-out begins
    EXPECT_EQ(beam.fadeOutCount(), 1);
    EXPECT_FALSE(beam.hasPendingFadeOut());
    executor->advance(250ms);  // 1.1 s
    EXPECT_GT(beam.opacity(), 0);
    EXPECT_LT(beam.opacity(), 1);
    executor->advance(250ms);  // 1.35 s
    EXPECT_EQ(beam.opacity(), 0);
    EXPECT_EQ(beam.phase(), 1);
    EXPECT_FALSE(beam.isAnimating());
}

TEST_F(BeamTest, CloseReplaysFadeOutOnce) {
    QNBorderBeamState beam(executor, config);
    beam.replay();
    executor->advance(500ms);
    beam.replay();
    EXPECT_EQ(beam.opacity(), 0);
    EXPECT_EQ(beam.phase(), 0);
    executor->advance(600ms);  // 1.1 s after the first: its fade-out never runs
    EXPECT_EQ(beam.fadeOutCount(), 0);
    executor->advance(250ms);  // 0.85 s after the second
    EXPECT_EQ(beam.fadeOutCount(), 1);
    executor->advance(5s);
    EXPECT_EQ(beam.fadeOutCount(), 1);
    EXPECT_EQ(beam.opacity(), 0);
}

TEST_F(BeamTest, DisappearingCancelsTheFadeOutAndKeepsTheState) {
    QNBorderBeamState beam(executor, config);
    beam.replay();
    executor->advance(300ms);
    beam.disappear();
    EXPECT_FALSE(beam.hasPendingFadeOut());
    executor->advance(5s);
    EXPECT_EQ(beam.fadeOutCount(), 0);
    EXPECT_EQ(beam.opacity(), 1);
    EXPECT_EQ(beam.phase(), 1);
}

TEST_F(BeamTest, ViewHasNoBeamWithReducedMotionAndReplaysOnTheTrigger) {
    testing_panel::ensureApplication();
    QNControllerAutoCorrectingText controller(QNModelTextEditorInteractionMode::composer, executor);
    auto trigger = std::make_shared<QNModelComposerBorderAnimationTrigger>();
    QNViewComposition view(controller, trigger, executor);
    view.resize(540, 60);
    view.show();
    ASSERT_NE(view.beam(), nullptr);
    EXPECT_EQ(view.beam()->geometry(), view.rect());
    trigger->fire();
    EXPECT_TRUE(view.beam()->state().hasPendingFadeOut());
    EXPECT_TRUE(view.beam()->isRepainting());

    view.setReducesMotion(true);
    EXPECT_EQ(view.beam(), nullptr);
    trigger->fire();  // nothing to replay
    executor->advance(2s);
    view.setReducesMotion(false);
    ASSERT_NE(view.beam(), nullptr);
    EXPECT_EQ(view.beam()->state().opacity(), 0);
}

TEST(ViewAppearance, DarkWhenTheWindowIsDarkerThanItsText) {
    testing_panel::ensureApplication();
    auto executor = std::make_shared<ManualExecutor>();
    QNControllerAutoCorrectingText controller(QNModelTextEditorInteractionMode::composer, executor);
    QNViewComposition view(controller, std::make_shared<QNModelComposerBorderAnimationTrigger>(),
                           executor);
    QPalette palette = view.palette();
    palette.setColor(QPalette::Window, QColor(30, 30, 30));
    palette.setColor(QPalette::WindowText, QColor(230, 230, 230));
    view.setPalette(palette);
    palette.setColor(QPalette::PlaceholderText, QColor(150, 150, 150));
    view.setPalette(palette);
    EXPECT_TRUE(view.isDark());
    auto dark = QNConfigComposerBorderAnimation::standard().adapted(true);
    const double grey = QColor(150, 150, 150).redF();
    dark.beamColor = {grey, grey, grey, 1};
    EXPECT_EQ(view.resolvedConfig(), dark);  // the beam in the dark palette's secondary colour
    palette.setColor(QPalette::Window, QColor(240, 240, 240));
    palette.setColor(QPalette::WindowText, QColor(10, 10, 10));
    view.setPalette(palette);
    EXPECT_FALSE(view.isDark());
    EXPECT_EQ(view.beam()->state().config().lineWidth, 0.55);
}

}  // namespace
}  // namespace ravlin
