// Keys of the application's own windows: X gives the modifier state before the event, the
// translator applies the event's own key.

#include <gtest/gtest.h>

#include <X11/X.h>

#include "platform/linux/taps/local_key_monitor.h"

namespace ravlin::platform::x11 {
namespace {

constexpr unsigned xShiftL = 50, xCapsLock = 66, xE = 26, xUp = 111, xAltL = 64;

TEST(LocalKeyTranslator, AppliesTheEventsOwnKeyToTheStateBefore) {
    auto map = std::make_shared<ModifierMap>();
    map->alt = Mod1Mask;
    map->keyMask[xShiftL] = ShiftMask;
    map->keyMask[xCapsLock] = LockMask;
    map->keyMask[xAltL] = Mod1Mask;
    struct Case {
        const char* name;
        unsigned key;
        unsigned state;
        bool press;
        InputEventType type;
        std::uint64_t flags;
    };
    const Case cases[] = {
        {"Shift down", xShiftL, 0, true, InputEventType::flagsChanged, eventflag::shift},
        {"Shift up", xShiftL, ShiftMask, false, InputEventType::flagsChanged, 0},
        {"Alt down under Shift", xAltL, ShiftMask, true, InputEventType::flagsChanged,
         eventflag::shift | eventflag::option},
        {"E under Shift", xE, ShiftMask, true, InputEventType::keyDown, eventflag::shift},
        {"E up, Caps Lock on", xE, LockMask, false, InputEventType::keyUp, eventflag::capsLock},
        {"an arrow", xUp, 0, true, InputEventType::keyDown, eventflag::numericPad},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LocalKeyTranslator translator(map);
        const auto event = translator.translate(c.key, c.state, c.press, false, 7);
        EXPECT_EQ(event.type, c.type);
        EXPECT_EQ(event.flags, c.flags);
        EXPECT_EQ(event.timestamp, 0.007);
    }
}

TEST(LocalKeyTranslator, CapsLockLocksOnPressAndUnlocksOnTheReleaseThatFoundItLocked) {
    auto map = std::make_shared<ModifierMap>();
    map->keyMask[xCapsLock] = LockMask;
    LocalKeyTranslator translator(map);
    // Locking: the press locks, its release keeps it; the next press keeps, its release unlocks.
    const std::pair<unsigned, bool> steps[] = {
        {0, true}, {LockMask, false}, {LockMask, true}, {LockMask, false}};
    const std::uint64_t expected[] = {eventflag::capsLock, eventflag::capsLock, eventflag::capsLock,
                                      0};
    for (std::size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const auto event =
            translator.translate(xCapsLock, steps[i].first, steps[i].second, false, 1);
        EXPECT_EQ(event.keyCode, keycode::capsLock);
        EXPECT_EQ(event.flags, expected[i]);
    }
}

}  // namespace
}  // namespace ravlin::platform::x11
