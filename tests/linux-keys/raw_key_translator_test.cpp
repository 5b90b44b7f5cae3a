// Raw X input events as key taps see them: modifier state kept from the keys, server times.

#include <gtest/gtest.h>

#include <X11/X.h>

#include "platform/linux/taps/raw_key_translator.h"

namespace ravlin::platform::x11 {
namespace {

constexpr unsigned xShiftL = 50, xCapsLock = 66, xE = 26, xKeypad1 = 87;

RawKeyTranslator translatorWith(unsigned capsLockMask) {
    RawKeyTranslator translator;
    ModifierMap map;
    map.keyMask[xShiftL] = ShiftMask;
    map.keyMask[xCapsLock] = capsLockMask;
    translator.setModifierMap(map);
    return translator;
}

RawInput key(unsigned detail, bool press, unsigned long time = 5, bool repeat = false) {
    return {press ? RawInput::Kind::keyPress : RawInput::Kind::keyRelease, detail, time, repeat};
}

TEST(RawKeyTranslator, CapsLockRemappedToControlIsControl) {
    auto translator = translatorWith(ControlMask);
    const auto down = translator.translate(key(xCapsLock, true));
    ASSERT_TRUE(down);
    EXPECT_EQ(down->type, InputEventType::flagsChanged);
    EXPECT_EQ(down->keyCode, keycode::capsLock);
    EXPECT_EQ(down->flags, eventflag::control);
    EXPECT_EQ(translator.translate(key(xE, true))->modifiers, modifier::control);
}

TEST(RawKeyTranslator, RepeatsTheWheelMotionAndTouches) {
    auto translator = translatorWith(LockMask);
    ASSERT_TRUE(translator.translate(key(xShiftL, true)));
    // A held modifier repeating changes nothing; a held letter repeating is a key down.
    EXPECT_FALSE(translator.translate(key(xShiftL, true, 6, true)));
    const auto repeat = translator.translate(key(xE, true, 7, true));
    ASSERT_TRUE(repeat);
    EXPECT_EQ(repeat->type, InputEventType::keyDown);
    EXPECT_TRUE(repeat->isRepeat);
    for (unsigned button = 4; button <= 7; ++button) {
        EXPECT_FALSE(translator.translate({RawInput::Kind::buttonPress, button, 8}));
    }
    const struct {
        RawInput::Kind kind;
        unsigned button;
        InputEventType type;
    } clicks[] = {{RawInput::Kind::buttonPress, 1, InputEventType::leftMouseDown},
                  {RawInput::Kind::buttonPress, 2, InputEventType::otherMouseDown},
                  {RawInput::Kind::buttonPress, 3, InputEventType::rightMouseDown},
                  {RawInput::Kind::buttonPress, 8, InputEventType::otherMouseDown},
                  {RawInput::Kind::motion, 0, InputEventType::mouseMoved},
                  {RawInput::Kind::touchBegin, 2, InputEventType::touchBegan}};
    for (const auto& click : clicks) {
        const auto event = translator.translate({click.kind, click.button, 9});
        ASSERT_TRUE(event);
        EXPECT_EQ(event->type, click.type);
        EXPECT_EQ(event->flags, eventflag::shift);
    }
}

TEST(RawKeyTranslator, KeypadKeysCarryTheNumericPadFlag) {
    auto translator = translatorWith(LockMask);
    EXPECT_EQ(translator.translate(key(xKeypad1, true))->flags, eventflag::numericPad);
    EXPECT_EQ(translator.translate(key(xE, true))->flags, 0U);
}

TEST(RawKeyTranslator, ServerTimesAreSecondsNeverZeroAndSurviveTheWrap) {
    auto translator = translatorWith(LockMask);
    EXPECT_GT(translator.translate(key(xE, true, 0))->timestamp, 0.0);
    const auto beforeWrap = translator.translate(key(xE, true, 0xFFFFFF00UL))->timestamp;
    const auto afterWrap = translator.translate(key(xE, true, 0x10))->timestamp;
    EXPECT_NEAR(afterWrap - beforeWrap, 0.272, 1e-6);
}

TEST(RawKeyTranslator, PressedModifiersAtStartCount) {
    auto translator = translatorWith(LockMask);
    std::array<char, 32> keys{};
    keys[xShiftL / 8] = static_cast<char>(1 << (xShiftL % 8));
    keys[xE / 8] |= static_cast<char>(1 << (xE % 8));
    translator.setPressedKeys(keys);
    EXPECT_EQ(translator.flags(), eventflag::shift);
    EXPECT_EQ(translator.translate(key(xShiftL, false))->flags, 0U);
}

}  // namespace
}  // namespace ravlin::platform::x11
