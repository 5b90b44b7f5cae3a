// The double-tap triggers over the X11 key taps, with keys typed through XTest from a
// connection of the test's own (another program, as far as the server knows).

#include <gtest/gtest.h>
#include <unistd.h>

#include "app/shell/recorders/key_capture.h"
#include "app/shell/triggers/double_tap_trigger.h"
#include "app/shell/triggers/quick_fix_double_tap_trigger.h"
#include "core/text/unicode.h"
#include "desktop_fixture.h"
#include "platform/linux/keys/keycodes.h"
#include "platform/linux/x11/xlib.h"

namespace ravlin::testing {
namespace {

class Typist {
  public:
    Typist() : display_(XOpenDisplay(nullptr)) {}
    ~Typist() { XCloseDisplay(display_); }
    void tap(std::uint32_t keyCode) {
        const auto key = platform::keycodes::xKeyCode(keyCode);
        ASSERT_TRUE(key.has_value());
        XTestFakeKeyEvent(display_, *key, True, CurrentTime);
        XTestFakeKeyEvent(display_, *key, False, CurrentTime);
        XSync(display_, False);
    }

  private:
    Display* display_;
};

TEST(DesktopTriggers, TypedDoubleTapInAGtkEntryFiresOnceAndLeavesNeitherTap) {
    auto& desktop = Desktop::get();
    auto& gtk = *desktop.gtk;
    const auto field = desktop.focus(gtk, "line");
    ASSERT_TRUE(field);
    const auto before = desktop.value(field);
    std::size_t codePoints = 0;  // GTK counts code points
    for (const char16_t unit : before) {
        codePoints += (unit & 0xFC00) != 0xDC00;
    }
    ASSERT_TRUE(gtk.command(QString("select %1 %1").arg(codePoints)));

    int fires = 0;
    int takenBack = 0;
    // As the Composer's open does: the taps go when the fire is acted on.
    QNTriggerDoubleTap* self = nullptr;
    QNTriggerDoubleTap trigger(
        platform::keycode::e,
        [&] {
            ++fires;
            takenBack += self->takeBackTaps().outcome ==
                                 QNTriggerDoubleTap::TakeBack::Outcome::taken;
        },
        desktop.seams, desktop.executor, static_cast<platform::ProcessID>(getpid()));
    self = &trigger;
    ASSERT_TRUE(trigger.registerTap());
    Typist typist;
    typist.tap(platform::keycode::space);
    typist.tap(platform::keycode::e);
    typist.tap(platform::keycode::e);
    EXPECT_TRUE(waitUntil([&] { return fires == 1; }));
    EXPECT_TRUE(waitUntil([&] { return desktop.value(field) == before + u" "; }))
        << text::toUtf8(desktop.value(field));
    // Past a second fire's delay (firingDelaySeconds) and the field check before it
    // (fieldWaitLimit).
    waitUntil([] { return false; }, 300ms);
    EXPECT_EQ(fires, 1);
    EXPECT_EQ(takenBack, 1);
    trigger.unregisterTap();
    // The other tests read the field as the target wrote it.
    typist.tap(platform::keycode::deleteKey);
    EXPECT_TRUE(waitUntil([&] { return desktop.value(field) == before; }));
}

TEST(DesktopTriggers, TwoRightShiftTapsFireOnce) {
    auto& desktop = Desktop::get();
    int fires = 0;
    QNTriggerQuickFixDoubleTap trigger(
        platform::keycode::rightShift, [&] { ++fires; }, desktop.seams, desktop.executor);
    ASSERT_TRUE(trigger.registerTap());
    Typist typist;
    typist.tap(platform::keycode::rightShift);
    typist.tap(platform::keycode::rightShift);
    EXPECT_TRUE(waitUntil([&] { return fires == 1; }));
    waitUntil([] { return false; }, 300ms);  // past a second fire's delay (25 ms)
    EXPECT_EQ(fires, 1);
    trigger.unregisterTap();
}

TEST(DesktopTriggers, AShortcutRecordedThroughTheKeyboardGrabReachesNoApplication) {
    auto& desktop = Desktop::get();
    auto& gtk = *desktop.gtk;
    const auto field = desktop.focus(gtk, "area");
    ASSERT_TRUE(field);
    const auto before = desktop.value(field);
    constexpr std::uint32_t f5 = 96;

    std::vector<std::pair<std::uint32_t, std::uint32_t>> captured;
    int beeps = 0;
    QNSessionKeyCapture capture(
        {.onCapture = [&](std::uint32_t key,
                          std::uint32_t mods) { captured.emplace_back(key, mods); },
         .onCancel = [] {},
         .onModifiersChanged = [](std::uint32_t) {}},
        desktop.seams, desktop.executor, nullptr, [&] { ++beeps; });
    ASSERT_TRUE(capture.usesTap());
    Typist typist;
    typist.tap(platform::keycode::e);  // a bare letter: a beep, and recording goes on
    typist.tap(f5);
    EXPECT_TRUE(waitUntil([&] { return !captured.empty(); }));
    capture.stop();
    EXPECT_EQ(captured, (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{f5, 0}}));
    EXPECT_EQ(beeps, 1);
    // A recorded key that got through to the field would stand before the E typed next: the
    // field is seen to gain that E alone.
    EXPECT_EQ(desktop.value(field), before);

    // Once recording stopped, keys reach the application again.
    typist.tap(platform::keycode::e);
    EXPECT_TRUE(waitUntil([&] { return desktop.value(field) == before + u"e"; }));
    typist.tap(platform::keycode::deleteKey);
    EXPECT_TRUE(waitUntil([&] { return desktop.value(field) == before; }));
}

}  // namespace
}  // namespace ravlin::testing
