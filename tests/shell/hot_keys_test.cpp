#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "app/shell/triggers/hot_key_fn.h"
#include "app/shell/triggers/hot_key_global.h"
#include "platform/fake/fake_desktop.h"

namespace ravlin {
namespace {

using platform::InputEvent;
using platform::InputEventType;
using platform::TapVerdict;
namespace flag = platform::eventflag;

class HotKeys : public ::testing::Test {
  public:
    std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
    platform::fake::FakeDesktop desktop{executor};
    int presses = 0;
    std::function<void()> count = [this] { ++presses; };
};

TEST_F(HotKeys, GlobalRegistersOnceWithTheFourModifiersOnly) {
    QNHotKeyGlobal hotKey(14, 0x100 | 0x400 | 0x800000, count, desktop.seams().hotKeys, executor);
    EXPECT_TRUE(hotKey.registerKey());
    EXPECT_TRUE(hotKey.registerKey());
    EXPECT_EQ(desktop.hotKeyCount(), 1u);
    EXPECT_TRUE(desktop.pressHotKey({14, 0x100}));
    EXPECT_EQ(presses, 0);  // after the desktop's callback returned
    executor->runUntilIdle();
    EXPECT_EQ(presses, 1);
    hotKey.unregisterKey();
    hotKey.unregisterKey();
    EXPECT_EQ(desktop.hotKeyCount(), 0u);
}

TEST_F(HotKeys, GlobalRefusedLeavesNothingAndReleaseUnregisters) {
    desktop.reserveHotKey({15, 0x100});
    QNHotKeyGlobal refused(15, 0x100, count, desktop.seams().hotKeys, executor);
    EXPECT_FALSE(refused.registerKey());
    EXPECT_FALSE(refused.isRegistered());
    {
        QNHotKeyGlobal held(14, 0x100, count, desktop.seams().hotKeys, executor);
        ASSERT_TRUE(held.registerKey());
        ASSERT_TRUE(desktop.pressHotKey({14, 0x100}));
    }
    EXPECT_EQ(desktop.hotKeyCount(), 0u);
    executor->runUntilIdle();
    EXPECT_EQ(presses, 1);  // a press already posted still arrives
}

struct Event {
    InputEventType type;
    std::uint32_t keyCode;
    std::uint64_t flags;
};
constexpr auto kDown = InputEventType::keyDown;
constexpr auto kFlags = InputEventType::flagsChanged;

struct FnCase {
    const char* name;
    std::uint32_t keyCode;
    std::uint32_t modifiers;
    std::vector<Event> events;
    std::vector<TapVerdict> verdicts;
    int presses;
};

class FnLogic : public HotKeys, public ::testing::WithParamInterface<FnCase> {};

TEST_P(FnLogic, FiresAndSwallowsAsTheShortcutSays) {
    const auto& c = GetParam();
    QNHotKeyFn hotKey(c.keyCode, c.modifiers, count, desktop.seams().keyTaps, executor);
    std::vector<TapVerdict> verdicts;
    for (const auto& e : c.events) {
        verdicts.push_back(
            hotKey.handleEvent({.type = e.type, .keyCode = e.keyCode, .flags = e.flags}));
        EXPECT_EQ(presses, 0);  // never from inside the tap
    }
    executor->runUntilIdle();
    EXPECT_EQ(verdicts, c.verdicts);
    EXPECT_EQ(presses, c.presses);
}

constexpr auto P = TapVerdict::pass;
constexpr auto S = TapVerdict::swallow;

INSTANTIATE_TEST_SUITE_P(
    , FnLogic,
    ::testing::Values(
        FnCase{"FnAloneFiresOnRelease",
               63,
               0x800000,
               {{kFlags, 63, flag::function}, {kFlags, 63, 0}},
               {P, P},
               1},
        FnCase{"FnWithKeyTypedDoesNotFire",
               63,
               0x800000,
               {{kFlags, 63, flag::function}, {kDown, 0, flag::function}, {kFlags, 63, 0}},
               {P, P, P},
               0},
        FnCase{"FnWithModifierOnlyStillFires",
               63,
               0x800000,
               {{kFlags, 63, flag::function},
                {kFlags, 56, flag::function | flag::shift},
                {kFlags, 63, flag::shift}},
               {P, P, P},
               1},
        FnCase{"ReleaseWithoutPressDoesNotFire", 63, 0x800000, {{kFlags, 63, 0}}, {P}, 0},
        FnCase{"FnSpaceFiresAndSwallows", 49, 0x800000, {{kDown, 49, flag::function}}, {S}, 1},
        FnCase{"SpaceWithoutFnPasses", 49, 0x800000, {{kDown, 49, 0}}, {P}, 0},
        FnCase{"ExtraModifierPasses",
               49,
               0x800000,
               {{kDown, 49, flag::function | flag::command},
                {kDown, 49, flag::function | flag::option},
                {kDown, 49, flag::function | flag::shift},
                {kDown, 49, flag::function | flag::control}},
               {P, P, P, P},
               0},
        FnCase{"OtherFlagsIgnored",
               49,
               0x800000 | 0x100,
               {{kDown, 49, flag::function | flag::command | flag::capsLock | flag::numericPad}},
               {S},
               1},
        FnCase{
            "RepeatsFireEachTime",
            49,
            0x800000,
            {{kDown, 49, flag::function}, {kDown, 49, flag::function}, {kDown, 49, flag::function}},
            {S, S, S},
            3},
        FnCase{"FnAloneOfAShortcutWithKeyDoesNotFire",
               49,
               0x800000,
               {{kFlags, 63, flag::function}, {kFlags, 63, 0}},
               {P, P},
               0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HotKeys, FnTapRegistersOnceAndComesBackAfterADisable) {
    desktop.setTrusted(true);
    desktop.setTapsSeeFn(true);  // (not X11's: a desktop whose taps see Fn)
    QNHotKeyFn hotKey(63, 0x800000, count, desktop.seams().keyTaps, executor);
    EXPECT_TRUE(hotKey.registerKey());
    EXPECT_TRUE(hotKey.registerKey());
    EXPECT_EQ(desktop.tapCount(), 1u);
    desktop.disableTaps(InputEventType::tapDisabledByTimeout);
    executor->runUntilIdle();
    desktop.userFlagsChanged(63, flag::function);
    desktop.userFlagsChanged(63, 0);
    executor->runUntilIdle();
    EXPECT_EQ(presses, 1);
    hotKey.unregisterKey();
    hotKey.unregisterKey();
    EXPECT_EQ(desktop.tapCount(), 0u);
}

TEST_F(HotKeys, FnRefusedWithoutTrustOrWhereTapsCannotSeeIt) {
    struct Case {
        const char* name;
        bool trusted;
        bool seesFn;
    };
    for (const auto& c : {Case{"untrusted", false, true}, Case{"X11", true, false}}) {
        SCOPED_TRACE(c.name);
        desktop.setTrusted(c.trusted);
        desktop.setTapsSeeFn(c.seesFn);
        QNHotKeyFn hotKey(63, 0x800000, count, desktop.seams().keyTaps, executor);
        EXPECT_FALSE(hotKey.registerKey());
        EXPECT_FALSE(hotKey.isRegistered());
        EXPECT_EQ(desktop.tapCount(), 0u);
    }
}

}  // namespace
}  // namespace ravlin
