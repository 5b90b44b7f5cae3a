#include <gtest/gtest.h>

#include "app/shell/triggers/double_tap_matcher.h"

namespace ravlin {
namespace {

using M = QNServiceDoubleTapMatcher;
using Flags = DisqualifyingModifierFlags;

TEST(DoubleTapMatcher, KeyCodesNormalizeAndPrecheck) {
    EXPECT_EQ(M::normalizeKeyCode(82), 29u);
    EXPECT_EQ(M::normalizeKeyCode(92), 25u);
    EXPECT_EQ(M::normalizeKeyCode(90), 90u);
    EXPECT_EQ(M::normalizeKeyCode(14), 14u);
    struct Case {
        std::uint32_t event, trigger;
        bool expected;
    };
    for (const auto& c : {Case{0, 38, true}, Case{38, 0, true}, Case{89, 26, true},
                          Case{14, 14, true}, Case{15, 14, false}, Case{90, 25, false}}) {
        EXPECT_EQ(M::couldMatchByKeyCode(c.event, c.trigger), c.expected)
            << c.event << " vs " << c.trigger;
    }
}

TEST(DoubleTapMatcher, MatchesByCharactersElseByKeyCode) {
    const std::set<std::u16string> e{u"e", u"E"};
    const std::set<std::u16string> lowerOnly{u"é"};
    struct Case {
        std::uint32_t kc;
        std::u16string chars;
        const std::set<std::u16string>* set;
        std::uint32_t trigger;
        bool expected;
    };
    const Case cases[] = {
        {14, u"E", &e, 14, true},
        {99, u"e", &e, 14, true},  // characters decide, not key codes
        {14, u"r", &e, 14, false},
        {14, u"ee", &e, 14, false},  // two characters never match
        {89, u"", &e, 26, true},     // keypad 7 against main-row 7
        {90, u"", &e, 25, false},
        {0, u"É", &lowerOnly, 0, true},          // upper case of a lower-case trigger
        {14, u"e\u0301", &lowerOnly, 0, false},  // one cluster, not the precomposed form
    };
    for (const auto& c : cases) {
        EXPECT_EQ(M::matches(c.kc, c.chars, c.trigger, *c.set), c.expected);
    }
}

TEST(DoubleTapMatcher, SingleCharacterIsOneGraphemeCluster) {
    EXPECT_EQ(M::singleCharacter(u"e"), u"e");
    EXPECT_EQ(M::singleCharacter(u"e\u0301"), u"e\u0301");
    EXPECT_EQ(M::singleCharacter(u"\U0001F468\u200D\U0001F469\u200D\U0001F467"),
              u"\U0001F468\u200D\U0001F469\u200D\U0001F467");
    EXPECT_EQ(M::singleCharacter(u""), std::nullopt);
    EXPECT_EQ(M::singleCharacter(u"ab"), std::nullopt);
}

TEST(DoubleTapMatcher, BoundaryAndArmingKeys) {
    struct Case {
        std::uint32_t kc;
        std::u16string chars;
        std::uint32_t mods;
        bool boundary, arming;
    };
    const Case cases[] = {
        {47, u".", 0, false, false},
        {49, u"", 0, true, true},
        {36, u"x", 0, true, true},
        {76, u"", 0, true, true},
        {48, u"", 0, true, true},
        {0, u"\u00A0", 0, true, true},  // no-break space
        {0, u"\u2028", 0, true, true},  // line separator
        {0, u" a", 0, false, false},
        {0, u"", 0, false, false},
        {49, u" ", Flags::shift, true, true},
        {49, u" ", Flags::command, true, false},
        {49, u" ", Flags::shift | Flags::function, true, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(M::isBoundaryKey(c.kc, c.chars), c.boundary) << c.kc;
        EXPECT_EQ(M::isArmingBoundaryKey(c.kc, c.chars, Flags{c.mods}), c.arming) << c.kc;
    }
    EXPECT_EQ(Flags::fromEventFlags(0x100000 | 0x20000 | 0x10000).rawValue,
              Flags::command | Flags::shift);  // Caps Lock is not disqualifying
    EXPECT_FALSE(M::hasDisqualifyingModifier(Flags::fromEventFlags(0x10000)));
}

TEST(DoubleTapMatcher, CursorMovers) {
    for (std::uint32_t kc : {51u, 53u, 115u, 116u, 117u, 119u, 121u, 123u, 124u, 125u, 126u}) {
        EXPECT_TRUE(M::isCursorMover(kc)) << kc;
    }
    for (std::uint32_t kc : {49u, 36u, 14u, 118u, 120u, 122u}) {
        EXPECT_FALSE(M::isCursorMover(kc)) << kc;
    }
}

TEST(DoubleTapMatcher, BoundaryBeforeInsertedTrigger) {
    struct Case {
        std::u16string value;
        std::int64_t caret, length;
        bool expected;
    };
    const Case cases[] = {
        {u"e", 1, 1, true},
        {u"ae", 2, 1, false},
        {u"a e", 3, 1, true},
        {u"a e", 4, 1, false},  // caret beyond the text
        {u"a e", -1, 1, false},
        {u"e", 1, 0, false},
        {u"e", 0, 1, false},
        {u"a\u2029e", 3, 1, true},  // paragraph separator
        {u"a\u00A0e", 3, 1, true},
        {u"\U0001F44D\U0001F3FDe", 5, 1, false},  // emoji with skin tone taken whole
        {u"a\u0020\u0301e", 4, 1, false},         // space with a combining mark: one cluster
        {u"a \U0001F600", 4, 2, true},            // a two-unit trigger
    };
    for (const auto& c : cases) {
        EXPECT_EQ(M::hasBoundaryBeforeInsertedTrigger(c.value, c.caret, c.length), c.expected)
            << c.caret << "/" << c.length;
    }
}

TEST(DoubleTapMatcher, WindowEdgesUseTolerance) {
    using D = DoubleTapWindowDecision;
    struct Case {
        double now, lastTrigger, lastKey;
        bool lastWasTrigger;
        D expected;
    };
    const Case cases[] = {
        {100.6, 100.0, 100.0, true, D::fire},  // exactly 0.6 in decimals
        {100.61, 100.0, 100.0, true, D::arm},
        {100.3, 100.0, 100.0, false, D::arm},
        {102.0, 100.0, 100.0, true, D::arm},  // exactly 2.0: not idle
        {102.01, 100.0, 100.0, true, D::armAfterIdleReset},
        {5000.0, 0, 0, false, D::arm},  // no last keystroke never idles
    };
    for (const auto& c : cases) {
        EXPECT_EQ(M::evaluateDoubleTapWindow(c.now, c.lastTrigger, c.lastKey, c.lastWasTrigger,
                                             M::maxTapInterval, M::idleTimeout),
                  c.expected)
            << c.now;
    }
    using R = MatchedTriggerDecision;
    EXPECT_EQ(M::evaluateMatchedTrigger(D::fire, true, false), R::fire);
    EXPECT_EQ(M::evaluateMatchedTrigger(D::fire, false, true), R::arm);
    EXPECT_EQ(M::evaluateMatchedTrigger(D::armAfterIdleReset, true, true), R::arm);
    EXPECT_EQ(M::evaluateMatchedTrigger(D::arm, true, false), R::ignore);
}

}  // namespace
}  // namespace ravlin
