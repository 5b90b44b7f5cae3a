#include "core/services/text_operations.h"

#include <gtest/gtest.h>

#include "core/services/character_view.h"
#include "core/services/token_budget.h"
#include "core/text/unicode.h"

namespace ravlin {
namespace {

using engine::boundedContextBefore;
using engine::removeEchoedContext;
using engine::trimmingRestoredTrailingWhitespace;

std::u16string filler(std::size_t count) {
    return std::u16string(count, u'x');
}

TEST(ContextClamp, AbsentOrBlankContextGivesNothing) {
    EXPECT_EQ(boundedContextBefore(std::nullopt, 500), std::nullopt);
    EXPECT_EQ(boundedContextBefore(u"", 500), std::nullopt);
    EXPECT_EQ(boundedContextBefore(u"  \n", 500), std::nullopt);
}

TEST(ContextClamp, ShortContextComesBackUntrimmed) {
    const std::u16string exactly500 = u"  " + filler(496) + u"  ";
    EXPECT_EQ(boundedContextBefore(exactly500, 500), exactly500);
    EXPECT_EQ(boundedContextBefore(u" Hello. ", 500), u" Hello. ");
}

TEST(ContextClamp, LongContextStartsAfterTheLastCompleteSentenceOfTheTail) {
    struct Case {
        std::u16string tailEnd;  // the last characters of a 600-character context
        std::u16string expected;
    };
    const std::vector<Case> cases = {
        // Nothing but the end of a sentence follows the last terminator: the whole tail.
        {u" first part. Second part.", u""},
        {u" first part. Second part", u"Second part"},
        // Closers and spaces after a terminator belong to the finished sentence.
        {u" she said \u201CNo.\u201D Then left", u"Then left"},
        {u" (done!)] \n next", u"next"},
        {u" one\u3002two\uFF01three\uFF1Ffour", u"four"},
        {u" no terminator at all", u""},
    };
    for (const auto& [tailEnd, expected] : cases) {
        const std::u16string context = filler(600 - tailEnd.size()) + tailEnd;
        const std::u16string tail = context.substr(100);
        EXPECT_EQ(boundedContextBefore(context, 500), expected.empty() ? tail : expected);
    }
}

TEST(ContextClamp, CountsCharactersNotCodeUnits) {
    // 600 emoji of two code units each: the tail is 500 of them, not 250.
    std::u16string context;
    for (int i = 0; i < 600; ++i) {
        context += u"\U0001F600";
    }
    const auto clamped = boundedContextBefore(context, 500);
    ASSERT_TRUE(clamped);
    EXPECT_EQ(clamped->size(), 1000u);
}

TEST(EchoStrip, RemovesAContextPrefixAndRefusesEchoes) {
    struct Case {
        std::u16string output;
        std::optional<std::u16string> context;
        std::optional<std::u16string> kept;  // absent: refused
        bool noted;
    };
    const std::vector<Case> cases = {
        {u"Hello. Fix this", u"Hello.", u" Fix this", true},
        {u"abc", u"abc", std::nullopt, false},
        {u"abc \n", u"abc", std::nullopt, false},
        {u"xabcd", u"abcd", std::nullopt, false},
        {u"xabc", u"abc", u"xabc", false},
        {u"Hello", std::nullopt, u"Hello", false},
        {u"Hello", u"", u"Hello", false},
        {u"hello. Fix", u"Hello.", u"hello. Fix", false},  // case-sensitive
    };
    for (const auto& [output, context, kept, noted] : cases) {
        const auto result = removeEchoedContext(output, context);
        ASSERT_EQ(result.has_value(), kept.has_value()) << testing::PrintToString(output);
        if (!result) {
            continue;
        }
        EXPECT_EQ(result->text, *kept);
        if (noted) {
            EXPECT_EQ(result->notes, std::vector<QNCorrectionNote>{QNCorrectionNote::plain(
                                         "stripped echoed context", QNCorrectionStageID::echoStrip,
                                         "echo-strip.context-prefix-strip")});
        } else {
            EXPECT_TRUE(result->notes.empty());
        }
    }
}

// A sentence the person typed twice stands in the answer twice, once where the context has it:
// no echo, whether it leads the answer or stands inside it. A true echo is still stripped or
// refused with the text it was asked about given.
TEST(EchoStrip, ASentenceTypedAgainIsNoEcho) {
    const std::u16string context = u"We should go now.";
    const std::u16string typed = u" We shoud go now.";
    EXPECT_EQ(removeEchoedContext(u" We should go now.", context, typed),
              (engine::EchoStripResult{u" We should go now.", {}}));
    EXPECT_EQ(removeEchoedContext(u"We should go now.", context, u"we shuold go now."),
              (engine::EchoStripResult{u"We should go now.", {}}));
    EXPECT_EQ(removeEchoedContext(u"We met. We should go now.", context, u" we met. we shoud go now"),
              (engine::EchoStripResult{u"We met. We should go now.", {}}));
    // Echoes of a context the person did not type again.
    EXPECT_EQ(removeEchoedContext(u"We should go now. Bring it.", context, u" bring it")->text,
              u" Bring it.");
    EXPECT_EQ(removeEchoedContext(u"Bring it. We should go now.", context, u" bring it"),
              std::nullopt);
}

// The rest of a sentence after a pause at a dash, answered with the sentence so far in front of
// it, without its capital or with another mark than the person's: the context comes off whole,
// the marks it ends with included, and the person's own marks after them stay.
TEST(EchoStrip, TheContextComesOffWithTheMarksItEndsWith) {
    struct Case {
        std::u16string context, input, output, kept;
    };
    const Case cases[] = {
        {u"The plants need water - ", u"the soil is dry.",
         u"the plants need water - the soil is dry.", u"the soil is dry."},
        {u"The printer jammed again \u2014 ", u"i gave up.",
         u"the printer jammed again \u2014 I gave up.", u"I gave up."},
        {u"We packed the tent; the stove \u2014 ", u"and the maps.",
         u"We packed the tent, the stove \u2014 and the maps.", u"and the maps."},
        {u"The plants need water - ", u"the soil is dry.",
         u"the plants need water \u2014 the soil is dry.", u"the soil is dry."},
        {u"I was thinking -", u" ... maybe not.", u"i was thinking - ... maybe not.",
         u"... maybe not."},
    };
    for (const auto& [context, input, output, kept] : cases) {
        const auto result = removeEchoedContext(output, context, input);
        ASSERT_TRUE(result) << testing::PrintToString(output);
        EXPECT_EQ(result->text, kept) << testing::PrintToString(output);
        EXPECT_EQ(result->notes.size(), 1u);
    }
}

TEST(EchoStrip, PrefixMustEndOnACharacterBoundary) {
    // The context "cafe" is not a prefix of "café" written with a combining accent.
    const auto result = removeEchoedContext(u"cafe\u0301 ok", u"cafe");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->text, u"cafe\u0301 ok");
}

TEST(EchoStrip, BoundaryShortcutAgreesWithTheBreakIterator) {
    const std::u16string texts[] = {
        u"e\u0301e\u0301\u0301a",
        u"\r\n\u0301x\n\u0301",
        u"\u0001\u0301\t\u200D",
        u"\U0001F44D\U0001F3FD\u200D\U0001F469",
        u"\u0915\u093F\u0915\u094D\u0937",
        u"\u0600\u0661\u0301",
        u"\u1100\u1161\u11A8\u0301",
        u"\U0001F1EB\U0001F1F7\u0301",
        // A lone high surrogate before a mark.
        std::u16string(u"a") + static_cast<char16_t>(0xD83D) + u"\u0301",
    };
    for (const auto& text : texts) {
        for (std::size_t offset = 0; offset <= text.size(); ++offset) {
            EXPECT_EQ(engine::detail::isBoundary(text, offset),
                      text::isCharacterBoundary(text, static_cast<std::int64_t>(offset)))
                << testing::PrintToString(text) << " at " << offset;
        }
    }
}

TEST(EchoStrip, FindsTheFirstMatchOnCharacterBoundariesPastFalseOnes) {
    struct Case {
        std::u16string_view text, needle;
        std::size_t at;
    };
    constexpr auto none = std::u16string_view::npos;
    const Case cases[] = {
        {u"aaab", u"aab", 1},  // overlapping partial matches
        {u"abc", u"abd", none},
        {u"ab", u"abc", none},
        {u"abc", u"", 0},
        // Each "e" + accent + "e" match ends inside the next "é" but the last.
        {u"e\u0301e\u0301e\u0301e", u"e\u0301e", 4},
        {u"e\u0301e\u0301e\u0301", u"e\u0301e", none},
    };
    for (const auto& [text, needle, at] : cases) {
        EXPECT_EQ(engine::detail::find(text, needle), at) << testing::PrintToString(text);
    }
    // Thousands of false matches, then a real one at the very end.
    std::u16string output;
    for (int i = 0; i < 20000; ++i) {
        output += u"a\u0301";
    }
    std::u16string context;
    for (int i = 0; i < 500; ++i) {
        context += u"a\u0301";
    }
    context += u"a";
    EXPECT_FALSE(engine::detail::contains(output, context));
    EXPECT_EQ(removeEchoedContext(output + u"a", context), std::nullopt);
}

TEST(RejectedOutputNote, NamesTheAnswerByFingerprintAndLengthDifference) {
    EXPECT_EQ(engine::rejectedOutputNote(u"Hi", u"Hello"),
              "rejected_output: hash=" + fingerprint(std::u16string_view(u"Hi")) + " len_delta=-3");
    EXPECT_EQ(engine::rejectedOutputNote(u"", u""), "rejected_output: hash=cbf29ce4 len_delta=0");
    EXPECT_EQ(engine::rejectedOutputNote(u"e\u0301e\u0301", u"a"),
              "rejected_output: hash=" + fingerprint(std::u16string_view(u"e\u0301e\u0301")) +
                  " len_delta=1");
}

TEST(PartialTrim, TakesBackRestoredSpacesOnlyMidWord) {
    struct Case {
        std::u16string cleaned, rawPartial, input, expected;
    };
    const std::vector<Case> cases = {
        {u"Hel ", u"Hel", u"Hello ", u"Hel"},
        {u"Hello ", u"Hello ", u"Hello ", u"Hello "},  // the model itself sent the space
        {u"Hel\n", u"Hel", u"Hello\n", u"Hel\n"},      // newline: not restored whitespace
        {u"Hel \t", u"Hel", u"Hello \t", u"Hel"},
        {u"Hel", u"Hel", u"Hello ", u"Hel"},  // nothing to take back
        {u"Hel", u"Hel", u"Hello", u"Hel"},
        {u"Hel ", u"", u"Hello ", u"Hel"},
    };
    for (const auto& [cleaned, rawPartial, input, expected] : cases) {
        EXPECT_EQ(trimmingRestoredTrailingWhitespace(cleaned, rawPartial, input), expected)
            << testing::PrintToString(cleaned) << " / " << testing::PrintToString(input);
    }
}

TEST(TrailingWhitespace, IsTheFinalRunOfWhitespace) {
    EXPECT_EQ(trailingWhitespace(u"a b \t\n"), u" \t\n");
    EXPECT_EQ(trailingWhitespace(u"ab"), u"");
    EXPECT_EQ(trailingWhitespace(u"   "), u"   ");
    EXPECT_EQ(trailingWhitespace(u"x\u3000"), u"\u3000");
}

TEST(BoundedEditDistance, GivesUpAboveTheBound) {
    struct Case {
        std::u16string a, b;
        std::int64_t bound, expected;
    };
    const std::vector<Case> cases = {
        {u"flaw", u"lawn", 2, 2},
        {u"flaw", u"lawn", 1, 2},
        {u"abc", u"abcdef", 2, 3},
        {u"", u"abc", 5, 3},
        {u"", u"abc", 1, 2},
        {u"kitten", u"sitting", 3, 3},
        {u"same", u"same", 0, 0},
        // Characters, not code units: one emoji against another is one substitution.
        {u"a\U0001F600", u"a\U0001F601", 1, 1},
        {u"e\u0301", u"e", 1, 1},
    };
    for (const auto& [a, b, bound, expected] : cases) {
        EXPECT_EQ(boundedEditDistance(a, b, bound), expected)
            << testing::PrintToString(a) << " / " << testing::PrintToString(b);
    }
}

}  // namespace
}  // namespace ravlin
