#include "app/shell/triggers/quick_fix_double_tap_trigger.h"

#include "tests/triggers/trigger_fixture.h"

namespace ravlin {
namespace {

using platform::eventflag::command;
using platform::eventflag::shift;

constexpr std::uint32_t kRightShift = 60;
constexpr std::uint32_t kLeftShift = 56;

class QuickFixTrigger : public testing::TriggerDesktop {
  public:
    QuickFixTrigger() { EXPECT_TRUE(trigger->registerTap()); }

    void makeTrigger(std::uint32_t keyCode) {
        trigger = std::make_unique<QNTriggerQuickFixDoubleTap>(
            keyCode, [this] { ++fires; }, desktop.seams(), executor);
        EXPECT_TRUE(trigger->registerTap());
    }
    // One press-and-release of a modifier (`flag` while it is down), `holdMs` apart.
    void tap(std::uint32_t keyCode, std::uint64_t flag, int holdMs = 50, std::uint64_t held = 0) {
        desktop.userFlagsChanged(keyCode, held | flag);
        after(holdMs);
        desktop.userFlagsChanged(keyCode, held);
    }

    int fires = 0;
    std::unique_ptr<QNTriggerQuickFixDoubleTap> trigger =
        std::make_unique<QNTriggerQuickFixDoubleTap>(
            kRightShift, [this] { ++fires; }, desktop.seams(), executor);
};

TEST_F(QuickFixTrigger, WindowRunsFromReleaseToRelease) {
    tap(kRightShift, shift);
    after(550);
    tap(kRightShift, shift);  // second release exactly 0.6 s after the first
    after(24);
    EXPECT_EQ(fires, 0);
    after(1);
    EXPECT_EQ(fires, 1);
    EXPECT_TRUE(logged("QuickFix", "quick fix double tap fired keyCode=60"));

    tap(kRightShift, shift);
    after(560);
    tap(kRightShift, shift);  // 0.61 s: no fire, the late release is a new first tap
    after(100);
    EXPECT_EQ(fires, 1);
    tap(kRightShift, shift);
    after(100);
    EXPECT_EQ(fires, 2);
}

TEST_F(QuickFixTrigger, Sequences) {
    struct Case {
        const char* name;
        std::function<void(QuickFixTrigger&)> run;
        int fires;
    };
    const Case cases[] = {
        {"two taps",
         [](auto& t) {
             t.tap(kRightShift, shift);
             t.after(100);
             t.tap(kRightShift, shift);
         },
         1},
        {"left shift between cancels",
         [](auto& t) {
             t.tap(kRightShift, shift);
             t.tap(kLeftShift, shift);
             t.tap(kRightShift, shift);
         },
         0},
        {"command between cancels",
         [](auto& t) {
             t.tap(kRightShift, shift);
             t.tap(55, command);
             t.tap(kRightShift, shift);
         },
         0},
        {"letters between do not cancel",
         [](auto& t) {
             t.tap(kRightShift, shift);
             t.desktop.userFlagsChanged(kRightShift, shift);
             t.desktop.userPressKey({0, platform::modifier::shift});
             t.desktop.userFlagsChanged(kRightShift, 0);
         },
         1},
        {"released while left shift held counts as down",
         [](auto& t) {
             t.desktop.userFlagsChanged(kLeftShift, shift);
             t.tap(kRightShift, shift, 50, shift);
             t.tap(kRightShift, shift, 50, shift);
         },
         0},
        {"three taps fire once",
         [](auto& t) {
             for (int i = 0; i < 3; ++i)
                 t.tap(kRightShift, shift);
         },
         1},
        {"four taps fire twice",
         [](auto& t) {
             for (int i = 0; i < 4; ++i)
                 t.tap(kRightShift, shift);
         },
         2},
        {"caps lock never fires",
         [](auto& t) {
             t.makeTrigger(57);
             for (int i = 0; i < 4; ++i)
                 t.tap(57, 0x10000);
         },
         0},
        {"a letter key never fires",
         [](auto& t) {
             t.makeTrigger(14);
             for (int i = 0; i < 4; ++i)
                 t.tap(14, 0);
         },
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        makeTrigger(kRightShift);
        fires = 0;
        c.run(*this);
        after(100);
        EXPECT_EQ(fires, c.fires);
    }
}

TEST_F(QuickFixTrigger, SuspensionAndKeyChangeKeepTheirFlags) {
    trigger->suspend();
    tap(kRightShift, shift);
    tap(kRightShift, shift);
    after(100);
    EXPECT_EQ(fires, 0);
    trigger->setTriggerKey(61);
    EXPECT_TRUE(trigger->state().isSuspended);
    trigger->resume();
    tap(61, 0x80000);
    tap(61, 0x80000);
    after(100);
    EXPECT_EQ(fires, 1);
}

TEST_F(QuickFixTrigger, NeverSwallowsAndReenablesAfterADisable) {
    EXPECT_EQ(trigger->handleEvent({.type = platform::InputEventType::flagsChanged,
                                    .keyCode = kRightShift,
                                    .flags = shift,
                                    .timestamp = 1}),
              platform::TapVerdict::pass);
    desktop.disableTaps(platform::InputEventType::tapDisabledByUserInput);
    executor->runUntilIdle();
    tap(kRightShift, shift);
    tap(kRightShift, shift);
    after(100);
    EXPECT_EQ(fires, 1);
    EXPECT_TRUE(trigger->registerTap());
    EXPECT_EQ(desktop.tapCount(), 1u);
    trigger->unregisterTap();
    trigger->unregisterTap();
    EXPECT_EQ(desktop.tapCount(), 0u);
    desktop.setTapsRefused(true);
    EXPECT_FALSE(trigger->registerTap());
    EXPECT_TRUE(logged("QuickFix", "register: CGEvent.tapCreate returned nil"));
}

}  // namespace
}  // namespace ravlin
